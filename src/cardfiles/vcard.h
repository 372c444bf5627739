#pragma once
// vCard files line by line: the content lines of versions 2.1, 3.0 and 4.0
// as address books write them (folded lines, quoted-printable values with
// soft line breaks, character sets, base64 and data: values, grouped
// properties, parameters in every spelling), and the lines this program
// writes (UTF-8, folded at 75 octets, never inside a character).

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <atomic>

namespace vcard {

struct Property
{
    QString group; // "item1" of item1.TEL; empty when none
    QString name;  // upper case: TEL, X-SOCIALPROFILE
    // Every parameter, its name upper-cased (a bare 2.1 parameter such as
    // WORK is a TYPE, QUOTED-PRINTABLE or BASE64 an ENCODING), its value
    // without quotes; a list value (TYPE=work,voice) stays one text.
    QList<QPair<QString, QString>> params;
    QString value;     // the text value, decoded to characters, escapes kept
    QByteArray binary; // a base64 value (ENCODING=b or a data: URI), decoded
    int line = 0;      // where the property begins in the file, from 1

    // The values of parameters of that name.
    QStringList paramValues(const QString &name) const;
    // Every TYPE value, lower-cased, one by one.
    QStringList types() const;
};

struct Card
{
    QList<Property> properties;
    QString version; // as the VERSION line says
    int line = 0;    // of its BEGIN line
};

struct Parsed
{
    QList<Card> cards;
    // Text outside any card, a card never ended: told in Russian with its line.
    QStringList problems;
    // "Windows-1251" when text that names no character set was not UTF-8
    // and was read as Windows-1251; empty when it was all UTF-8.
    QString encoding;
    bool cancelled = false; // stopped by the caller: the cards read so far, no more
};

// Whether the data look like vCards (a BEGIN:VCARD line before anything else of substance).
bool looksLikeVCard(const QByteArray &data);
// Reads every card of a file's bytes. `cancel`, when given, may be set from
// another thread: the reading stops at the next line.
Parsed parse(const QByteArray &data, const std::atomic_bool *cancel = nullptr);

// A text value with its escapes undone: \n and \N a line break (CR LF, as
// stored), \, \; \: \\ the character itself.
QString unescape(const QString &value);
// A structured value (N, ORG, ADR) split at the unescaped `separator`, each
// component unescaped.
QStringList components(const QString &value, QChar separator = QLatin1Char(';'));

// ------------------------------------------------------------------ writing

// A text escaped for a value: backslash, comma, semicolon, line breaks.
QString escape(const QString &text);
// One content line, UTF-8, folded at 75 octets, ending with CR LF.
QByteArray contentLine(const QString &nameAndParams, const QString &value);

} // namespace vcard
