#include "cardfilter.h"

#include <QStringList>

#include <utility>

using namespace Qt::StringLiterals;

namespace dav {

namespace {

// One content line of a card, unfolded.
struct Line
{
    QString name; // upper case, without its group
    QList<std::pair<QString, QString>> params;
    QString value; // still escaped
};

// Splits at `sep` outside double quotes.
QStringList splitUnquoted(const QString &text, QChar sep, qsizetype max = -1)
{
    QStringList out;
    QString cur;
    bool quoted = false;
    for (QChar c : text) {
        if (c == u'"')
            quoted = !quoted;
        if (c == sep && !quoted && (max < 0 || out.size() + 1 < max)) {
            out << cur;
            cur.clear();
            continue;
        }
        cur += c;
    }
    out << cur;
    return out;
}

// Splits a value at an unescaped `sep`, undoing the escapes of each part.
QStringList splitValue(const QString &value, QChar sep)
{
    QStringList out;
    QString cur;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c == u'\\' && i + 1 < value.size()) {
            const QChar e = value[++i];
            cur += (e == u'n' || e == u'N') ? QChar(u'\n') : e;
        } else if (c == sep) {
            out << cur;
            cur.clear();
        } else {
            cur += c;
        }
    }
    out << cur;
    return out;
}

QList<Line> readLines(const QByteArray &vcard)
{
    QString text = QString::fromUtf8(vcard);
    text.replace("\r\n"_L1, "\n"_L1);
    text.replace("\n "_L1, QString()).replace("\n\t"_L1, QString());
    QList<Line> lines;
    for (const QString &raw : text.split(u'\n', Qt::SkipEmptyParts)) {
        const QStringList headValue = splitUnquoted(raw, u':', 2);
        if (headValue.size() < 2)
            continue;
        QStringList head = splitUnquoted(headValue[0], u';');
        Line line;
        line.name = head.takeFirst().toUpper();
        line.name = line.name.mid(line.name.lastIndexOf(u'.') + 1);
        for (const QString &p : std::as_const(head)) {
            const qsizetype eq = p.indexOf(u'=');
            if (eq < 0)
                line.params.append({u"TYPE"_s, p}); // a bare 2.1 parameter
            else
                line.params.append({p.left(eq).toUpper(), p.mid(eq + 1).remove(u'"')});
        }
        line.value = headValue[1];
        lines << line;
    }
    return lines;
}

// The texts a property's value matches by: the whole value and, for a
// structured or list value, each part.
QStringList candidates(const Line &line)
{
    QStringList out{splitValue(line.value, QChar()).constFirst()}; // no separator: the whole value
    static const QStringList structured{u"N"_s, u"ORG"_s, u"ADR"_s};
    static const QStringList lists{u"CATEGORIES"_s, u"NICKNAME"_s};
    if (structured.contains(line.name))
        out << splitValue(line.value, u';');
    else if (lists.contains(line.name))
        out << splitValue(line.value, u',');
    return out;
}

QString fold(const QString &text, TextMatch::Collation collation)
{
    switch (collation) {
    case TextMatch::Octet:
        return text;
    case TextMatch::AsciiCasemap: {
        QString out = text;
        for (QChar &c : out)
            if (c >= u'A' && c <= u'Z')
                c = QChar(c.unicode() + 32);
        return out;
    }
    case TextMatch::UnicodeCasemap:
        break;
    }
    // RFC 5051: case folded, then decomposed for compatibility.
    return text.toCaseFolded().normalized(QString::NormalizationForm_KD);
}

bool matchOne(const TextMatch &m, const QStringList &texts)
{
    bool hit = false;
    for (const QString &t : texts) {
        const QString v = fold(t, m.collation);
        switch (m.type) {
        case TextMatch::Equals:
            hit = v == m.text;
            break;
        case TextMatch::Contains:
            hit = v.contains(m.text);
            break;
        case TextMatch::StartsWith:
            hit = v.startsWith(m.text);
            break;
        case TextMatch::EndsWith:
            hit = v.endsWith(m.text);
            break;
        }
        if (hit)
            break;
    }
    return hit != m.negate;
}

bool paramHolds(const ParamFilter &f, const Line &line)
{
    QStringList values;
    for (const auto &[name, value] : line.params)
        if (name == f.name)
            values << value << value.split(u',');
    if (f.isNotDefined)
        return values.isEmpty();
    if (values.isEmpty())
        return false;
    for (const TextMatch &m : f.matches)
        if (!matchOne(m, values))
            return false;
    return true;
}

// Whether one property instance meets the tests of the filter.
bool propHolds(const PropFilter &f, const Line &line)
{
    if (f.matches.isEmpty() && f.params.isEmpty())
        return true;
    const QStringList texts = f.matches.isEmpty() ? QStringList() : candidates(line);
    int held = 0;
    for (const TextMatch &m : f.matches)
        held += matchOne(m, texts);
    for (const ParamFilter &p : f.params)
        held += paramHolds(p, line);
    return f.allOf ? held == f.matches.size() + f.params.size() : held > 0;
}

bool propFilterHolds(const PropFilter &f, const QList<Line> &lines)
{
    bool defined = false;
    for (const Line &line : lines) {
        if (line.name != f.name)
            continue;
        defined = true;
        if (!f.isNotDefined && propHolds(f, line))
            return true;
    }
    return f.isNotDefined && !defined;
}

bool readMatch(const Element &e, TextMatch &m, QString *precondition)
{
    const QString collation = e.attribute(u"collation"_s);
    if (collation.isEmpty() || collation == "i;unicode-casemap"_L1) {
        m.collation = TextMatch::UnicodeCasemap;
    } else if (collation == "i;ascii-casemap"_L1) {
        m.collation = TextMatch::AsciiCasemap;
    } else if (collation == "i;octet"_L1) {
        m.collation = TextMatch::Octet;
    } else {
        *precondition = u"supported-collation"_s;
        return false;
    }
    const QString type = e.attribute(u"match-type"_s);
    if (type.isEmpty() || type == "contains"_L1) {
        m.type = TextMatch::Contains;
    } else if (type == "equals"_L1) {
        m.type = TextMatch::Equals;
    } else if (type == "starts-with"_L1) {
        m.type = TextMatch::StartsWith;
    } else if (type == "ends-with"_L1) {
        m.type = TextMatch::EndsWith;
    } else {
        *precondition = u"supported-filter"_s;
        return false;
    }
    m.negate = e.attribute(u"negate-condition"_s) == "yes"_L1;
    m.text = fold(e.text, m.collation);
    return true;
}

bool allOf(const Element &e)
{
    return e.attribute(u"test"_s) == "allof"_L1;
}

} // namespace

bool Filter::read(const Element &filter, QString *precondition)
{
    allOf = dav::allOf(filter);
    for (const Element &pe : filter.children) {
        if (!pe.is(kCardNs, u"prop-filter"_s))
            continue;
        PropFilter pf;
        pf.name = pe.attribute(u"name"_s).toUpper();
        pf.allOf = dav::allOf(pe);
        for (const Element &c : pe.children) {
            if (c.is(kCardNs, u"is-not-defined"_s)) {
                pf.isNotDefined = true;
            } else if (c.is(kCardNs, u"text-match"_s)) {
                TextMatch m;
                if (!readMatch(c, m, precondition))
                    return false;
                pf.matches << m;
            } else if (c.is(kCardNs, u"param-filter"_s)) {
                ParamFilter param;
                param.name = c.attribute(u"name"_s).toUpper();
                param.isNotDefined = c.child(kCardNs, u"is-not-defined"_s) != nullptr;
                if (const Element *tm = c.child(kCardNs, u"text-match"_s)) {
                    TextMatch m;
                    if (!readMatch(*tm, m, precondition))
                        return false;
                    param.matches << m;
                }
                pf.params << param;
            }
        }
        props << pf;
    }
    return true;
}

bool Filter::matches(const QByteArray &vcard) const
{
    if (props.isEmpty())
        return true;
    const QList<Line> lines = readLines(vcard);
    for (const PropFilter &f : props) {
        const bool held = propFilterHolds(f, lines);
        if (held && !allOf)
            return true;
        if (!held && allOf)
            return false;
    }
    return allOf;
}

} // namespace dav
