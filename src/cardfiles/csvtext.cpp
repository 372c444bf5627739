#include "csvtext.h"

namespace csv {

QChar separatorOf(const QString &text)
{
    int commas = 0, semicolons = 0, tabs = 0;
    bool quoted = false;
    for (QChar c : text) {
        if (c == u'"')
            quoted = !quoted;
        else if (!quoted && (c == u'\n' || c == u'\r'))
            break;
        else if (!quoted && c == u',')
            ++commas;
        else if (!quoted && c == u';')
            ++semicolons;
        else if (!quoted && c == u'\t')
            ++tabs;
    }
    if (semicolons > commas && semicolons >= tabs)
        return QLatin1Char(';');
    if (tabs > commas && tabs > semicolons)
        return QLatin1Char('\t');
    return QLatin1Char(',');
}

Table parse(const QString &text, const std::atomic_bool *cancel)
{
    Table t;
    const QChar sep = separatorOf(text);
    QStringList row;
    QString cur;
    bool quoted = false, wasQuoted = false, any = false;
    int line = 1, rowLine = 1;
    auto endField = [&] {
        row << cur;
        cur.clear();
        wasQuoted = false;
    };
    auto endRow = [&] {
        endField();
        // A blank line is no record.
        if (any) {
            t.rows << row;
            t.lines << rowLine;
        }
        row.clear();
        any = false;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == u'"') {
                if (i + 1 < text.size() && text[i + 1] == u'"') {
                    cur += c;
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                if (c == u'\n')
                    ++line;
                cur += c;
            }
            continue;
        }
        if (c == u'"' && cur.trimmed().isEmpty() && !wasQuoted) {
            cur.clear(); // blanks before an opening quote do not count
            quoted = wasQuoted = any = true;
        } else if (c == sep) {
            any = true;
            endField();
        } else if (c == u'\r' || c == u'\n') {
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
            endRow();
            ++line;
            rowLine = line;
            if (cancel && cancel->load(std::memory_order_relaxed)) {
                t.cancelled = true;
                return t;
            }
        } else if (wasQuoted) {
            if (!c.isSpace())
                cur += c; // text after a closing quote: kept, as spreadsheet programs do
        } else {
            any = any || !c.isSpace();
            cur += c;
        }
    }
    if (any)
        endRow();
    return t;
}

QString field(const QString &text, QChar separator)
{
    const bool quote = text.contains(separator) || text.contains(QLatin1Char('"')) ||
                       text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r')) ||
                       (!text.isEmpty() && (text.front().isSpace() || text.back().isSpace()));
    if (!quote)
        return text;
    QString out = text;
    out.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + out + QLatin1Char('"');
}

QString record(const QStringList &fields, QChar separator)
{
    QString out;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i)
            out += separator;
        out += field(fields[i], separator);
    }
    return out + QStringLiteral("\r\n");
}

namespace {

// Whether a spreadsheet would take the text, past any apostrophes before
// it, as a formula.
bool formulaLike(const QString &cell)
{
    qsizetype i = 0;
    while (i < cell.size() && cell[i] == QLatin1Char('\''))
        ++i;
    if (i == cell.size())
        return false;
    const QChar c = cell[i];
    if (c == QLatin1Char('=') || c == QLatin1Char('@') || c == QLatin1Char('\t') || c == QLatin1Char('\r'))
        return true;
    if (c != QLatin1Char('+') && c != QLatin1Char('-'))
        return false;
    // A phone or a number: digits with spaces, brackets, dashes, dots and slashes.
    bool digit = false;
    for (qsizetype k = i + 1; k < cell.size(); ++k) {
        const QChar d = cell[k];
        if (d.isDigit())
            digit = true;
        else if (!QStringView(u" ()-./").contains(d))
            return true;
    }
    return !digit;
}

} // namespace

QString neutralized(const QString &cell)
{
    return formulaLike(cell) ? QLatin1Char('\'') + cell : cell;
}

QString asTyped(const QString &cell)
{
    return cell.startsWith(QLatin1Char('\'')) && formulaLike(cell.mid(1)) ? cell.mid(1) : cell;
}

} // namespace csv
