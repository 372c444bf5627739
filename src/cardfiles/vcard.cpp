#include "vcard.h"

#include "filetext.h"

namespace vcard {

QStringList Property::paramValues(const QString &name) const
{
    QStringList out;
    for (const auto &[n, v] : params)
        if (n == name)
            out << v;
    return out;
}

QStringList Property::types() const
{
    QStringList out;
    for (const QString &v : paramValues(QStringLiteral("TYPE")))
        for (const QString &t : v.split(QLatin1Char(','), Qt::SkipEmptyParts))
            out << t.trimmed().toLower();
    return out;
}

namespace {

// ---------------------------------------------------------------- reading

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// =XX for a byte; anything else (a lone "=", bad digits) stays as it is.
QByteArray quotedPrintable(const QByteArray &in)
{
    QByteArray out;
    out.reserve(in.size());
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in[i] == '=' && i + 2 < in.size()) {
            const int hi = hexValue(in[i + 1]), lo = hexValue(in[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out += char(hi * 16 + lo);
                i += 2;
                continue;
            }
        }
        out += in[i];
    }
    return out;
}

QByteArray base64(const QByteArray &in)
{
    QByteArray clean;
    clean.reserve(in.size());
    for (char c : in)
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
            clean += c;
    return QByteArray::fromBase64(clean);
}

// RFC 6868 escapes of a 4.0 parameter value: ^n, ^^, ^'.
QString caretDecoded(const QString &v)
{
    if (!v.contains(QLatin1Char('^')))
        return v;
    QString out;
    for (qsizetype i = 0; i < v.size(); ++i) {
        if (v[i] == u'^' && i + 1 < v.size()) {
            const QChar n = v[i + 1];
            if (n == u'n' || n == u'N') {
                out += QStringLiteral("\r\n");
                ++i;
                continue;
            }
            if (n == u'^' || n == u'\'') {
                out += n == u'^' ? QChar(u'^') : QChar(u'"');
                ++i;
                continue;
            }
        }
        out += v[i];
    }
    return out;
}

// The position of the first `c` outside double quotes, -1 when none.
qsizetype unquoted(const QByteArray &line, char c, qsizetype from = 0)
{
    bool quoted = false;
    for (qsizetype i = from; i < line.size(); ++i) {
        if (line[i] == '"')
            quoted = !quoted;
        else if (line[i] == c && !quoted)
            return i;
    }
    return -1;
}

// A card being read: its properties with their undecoded values.
struct Raw
{
    Property property;
    QByteArray bytes;
    bool base64 = false;
};

// Decodes the property's value; true when it names no character set and,
// not being UTF-8, was read as Windows-1251.
bool decodeValue(Raw &r)
{
    Property &p = r.property;
    if (r.base64) {
        p.binary = base64(r.bytes);
        return false;
    }
    QByteArray bytes = r.bytes;
    const QStringList encoding = p.paramValues(QStringLiteral("ENCODING"));
    if (!encoding.isEmpty() && encoding.first().compare(QLatin1String("QUOTED-PRINTABLE"), Qt::CaseInsensitive) == 0)
        bytes = quotedPrintable(bytes);
    const QString charset = p.paramValues(QStringLiteral("CHARSET")).value(0);
    QString taken;
    p.value = filetext::decode(bytes, charset, &taken);
    const bool guessed = charset.isEmpty() && taken == QLatin1String(filetext::kWindows1251);
    // data:[<media type>][;base64],<data>
    static const QStringList binaryNames = {QStringLiteral("PHOTO"), QStringLiteral("LOGO")};
    if (binaryNames.contains(p.name) && p.value.startsWith(QLatin1String("data:"), Qt::CaseInsensitive)) {
        const qsizetype comma = p.value.indexOf(QLatin1Char(','));
        if (comma > 0) {
            const QStringList head = p.value.mid(5, comma - 5).split(QLatin1Char(';'));
            const QByteArray data = p.value.mid(comma + 1).toLatin1();
            bool isBase64 = false;
            for (const QString &h : head)
                isBase64 = isBase64 || h.trimmed().compare(QLatin1String("base64"), Qt::CaseInsensitive) == 0;
            p.binary = isBase64 ? base64(data) : QByteArray::fromPercentEncoding(data);
            p.value.clear();
        }
    }
    return guessed;
}

bool isEncodingWord(const QString &upper)
{
    return upper == QLatin1String("QUOTED-PRINTABLE") || upper == QLatin1String("BASE64") ||
           upper == QLatin1String("B") || upper == QLatin1String("8BIT") || upper == QLatin1String("7BIT");
}

// One logical line split into group, name, parameters and value bytes; false
// when it holds no name and colon.
bool splitLine(const QByteArray &line, bool v4, Raw &out)
{
    const qsizetype colon = unquoted(line, ':');
    if (colon <= 0)
        return false;
    const QByteArray head = line.left(colon);
    QList<QByteArray> parts;
    for (qsizetype from = 0;;) {
        const qsizetype semi = unquoted(head, ';', from);
        parts << head.mid(from, semi < 0 ? -1 : semi - from);
        if (semi < 0)
            break;
        from = semi + 1;
    }
    QString name = QString::fromUtf8(parts.takeFirst()).trimmed();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    Property &p = out.property;
    if (dot >= 0) {
        p.group = name.left(dot);
        name = name.mid(dot + 1);
    }
    if (name.isEmpty())
        return false;
    p.name = name.toUpper();
    for (const QByteArray &part : parts) {
        const QString text = filetext::decode(part).trimmed();
        if (text.isEmpty())
            continue;
        const qsizetype eq = text.indexOf(QLatin1Char('='));
        QString pname, pvalue;
        if (eq < 0) {
            pvalue = text;
            pname = isEncodingWord(text.toUpper()) ? QStringLiteral("ENCODING") : QStringLiteral("TYPE");
        } else {
            pname = text.left(eq).trimmed().toUpper();
            pvalue = text.mid(eq + 1).trimmed();
        }
        // "a","b" and "a,b" alike: the quotes go, the commas stay.
        pvalue.remove(QLatin1Char('"'));
        if (v4)
            pvalue = caretDecoded(pvalue);
        p.params.append({pname, pvalue});
    }
    out.bytes = line.mid(colon + 1);
    for (const QString &e : p.paramValues(QStringLiteral("ENCODING"))) {
        const QString u = e.toUpper();
        out.base64 = out.base64 || u == QLatin1String("B") || u == QLatin1String("BASE64");
    }
    return true;
}

// Whether a logical line, growing at its end as its soft line breaks and
// folds are joined, names QUOTED-PRINTABLE before its colon. The line is
// looked at once: each call goes on from where the last one stopped, so
// that a long parameter before many soft line breaks is not read again
// for each of them.
class QuotedPrintableHead
{
public:
    bool in(const QByteArray &line)
    {
        if (m_colon < 0) {
            for (; m_scanned < line.size(); ++m_scanned) {
                const char c = line[m_scanned];
                if (c == '"') {
                    m_quoted = !m_quoted;
                } else if (c == ':' && !m_quoted) {
                    m_colon = m_scanned;
                    m_yes = m_colon > 0 && line.left(m_colon).toUpper().contains("QUOTED-PRINTABLE");
                    break;
                }
            }
        }
        return m_yes;
    }

private:
    qsizetype m_scanned = 0, m_colon = -1;
    bool m_quoted = false, m_yes = false;
};

bool blank(const QByteArray &line)
{
    for (char c : line)
        if (c != ' ' && c != '\t')
            return false;
    return true;
}

QList<QByteArray> physicalLines(const QByteArray &data)
{
    QByteArray d = data;
    if (d.startsWith("\xEF\xBB\xBF"))
        d.remove(0, 3);
    const char sep = d.contains('\n') ? '\n' : '\r';
    QList<QByteArray> lines = d.split(sep);
    for (QByteArray &l : lines)
        if (l.endsWith('\r'))
            l.chop(1);
    return lines;
}

} // namespace

bool looksLikeVCard(const QByteArray &data)
{
    for (const QByteArray &l : physicalLines(data.left(4096))) {
        if (blank(l))
            continue;
        return l.trimmed().toUpper() == "BEGIN:VCARD";
    }
    return false;
}

Parsed parse(const QByteArray &data, const std::atomic_bool *cancel)
{
    Parsed out;
    const QList<QByteArray> lines = physicalLines(data);
    const qsizetype n = lines.size();
    bool inCard = false, v21 = false, v4 = false;
    int nested = 0;
    Card card;
    QList<Raw> raws;
    int strayFrom = 0; // first line of text outside the cards not told yet
    auto endCard = [&] {
        for (Raw &r : raws) {
            if (decodeValue(r))
                out.encoding = QLatin1String(filetext::kWindows1251);
            card.properties.append(std::move(r.property));
        }
        raws.clear();
        out.cards.append(std::move(card));
        card = Card();
        inCard = false;
    };
    for (qsizetype i = 0; i < n;) {
        if (cancel && cancel->load(std::memory_order_relaxed)) {
            out.cancelled = true;
            return out;
        }
        const int lineNo = int(i + 1);
        QByteArray line = lines[i++];
        // Soft line breaks of quoted-printable values, then folded lines.
        QuotedPrintableHead head;
        for (;;) {
            if (line.endsWith('=') && i < n && head.in(line)) {
                line.chop(1);
                line += lines[i++];
                continue;
            }
            if (i < n && !lines[i].isEmpty() && (lines[i][0] == ' ' || lines[i][0] == '\t')) {
                // 2.1 folds before white space that belongs to the value.
                line += v21 ? lines[i] : lines[i].mid(1);
                ++i;
                continue;
            }
            break;
        }
        if (blank(line))
            continue;
        const QByteArray upper = line.trimmed().toUpper();
        if (!inCard) {
            if (upper == "BEGIN:VCARD") {
                if (strayFrom)
                    out.problems
                        << QStringLiteral("Строки %1–%2: текст вне карточек пропущен.").arg(strayFrom).arg(lineNo - 1);
                strayFrom = 0;
                inCard = true;
                v21 = v4 = false;
                nested = 0;
                card.line = lineNo;
            } else if (!strayFrom) {
                strayFrom = lineNo;
            }
            continue;
        }
        if (upper.endsWith(":BEGIN:VCARD") ||
            (upper == "BEGIN:VCARD" &&
             (nested > 0 || (!raws.isEmpty() && raws.last().property.name == QLatin1String("AGENT"))))) {
            ++nested; // a card inside a card (a 2.1 AGENT): not one of the file's cards
            continue;
        }
        if (upper == "BEGIN:VCARD") {
            out.problems << QStringLiteral(
                                "Карточка со строки %1 не закончена (нет строки END:VCARD перед строкой %2): "
                                "прочитано то, что в ней было.")
                                .arg(card.line)
                                .arg(lineNo);
            endCard();
            inCard = true;
            v21 = v4 = false;
            card.line = lineNo;
            continue;
        }
        if (upper == "END:VCARD") {
            if (nested > 0)
                --nested;
            else
                endCard();
            continue;
        }
        if (nested > 0)
            continue;
        Raw r;
        r.property.line = lineNo;
        if (!splitLine(line, v4, r)) {
            // A 2.1 base64 value whose lines go on without indentation.
            if (!raws.isEmpty() && raws.last().base64)
                raws.last().bytes += line;
            continue;
        }
        if (r.property.name == QLatin1String("VERSION")) {
            card.version = QString::fromLatin1(r.bytes).trimmed();
            v21 = card.version.startsWith(QLatin1String("2"));
            v4 = card.version.startsWith(QLatin1String("4"));
        }
        raws.append(std::move(r));
    }
    if (inCard) {
        out.problems << QStringLiteral(
                            "Карточка со строки %1 не закончена (нет строки END:VCARD): прочитано то, что в ней "
                            "было до конца файла.")
                            .arg(card.line);
        endCard();
    } else if (strayFrom) {
        out.problems << QStringLiteral("Строки %1–%2: текст вне карточек пропущен.").arg(strayFrom).arg(n);
    }
    return out;
}

QString unescape(const QString &value)
{
    if (!value.contains(QLatin1Char('\\')))
        return value;
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == u'\\' && i + 1 < value.size()) {
            const QChar c = value[++i];
            if (c == u'n' || c == u'N')
                out += QStringLiteral("\r\n");
            else
                out += c; // \, \; \: \\ and anything else: the character
            continue;
        }
        out += value[i];
    }
    return out;
}

QStringList components(const QString &value, QChar separator)
{
    QStringList out;
    QString cur;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == u'\\' && i + 1 < value.size()) {
            cur += value[i];
            cur += value[++i];
        } else if (value[i] == separator) {
            out << unescape(cur);
            cur.clear();
        } else {
            cur += value[i];
        }
    }
    out << unescape(cur);
    return out;
}

QString escape(const QString &text)
{
    QString out;
    out.reserve(text.size() + 8);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\\' || c == u',' || c == u';') {
            out += QLatin1Char('\\');
            out += c;
        } else if (c == u'\r') {
            out += QStringLiteral("\\n");
            if (i + 1 < text.size() && text[i + 1] == u'\n')
                ++i; // CR LF is one line break
        } else if (c == u'\n') {
            out += QStringLiteral("\\n");
        } else {
            out += c;
        }
    }
    return out;
}

QByteArray contentLine(const QString &nameAndParams, const QString &value)
{
    const QByteArray line = (nameAndParams + QLatin1Char(':') + value).toUtf8();
    constexpr qsizetype kOctets = 75;
    QByteArray out;
    out.reserve(line.size() + line.size() / 70 * 3 + 2);
    qsizetype pos = 0;
    qsizetype room = kOctets;
    while (line.size() - pos > room) {
        qsizetype cut = pos + room;
        // Never inside a character: back to the start of its UTF-8 sequence.
        while (cut > pos && (uchar(line[cut]) & 0xC0) == 0x80)
            --cut;
        out += line.mid(pos, cut - pos);
        out += "\r\n ";
        pos = cut;
        room = kOctets - 1; // the leading space counts
    }
    out += line.mid(pos);
    out += "\r\n";
    return out;
}

} // namespace vcard
