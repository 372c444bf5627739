#pragma once
#include <QByteArray>
#include <QString>

// Windows Cyrillic (code page 1251): every text crosses the database boundary
// in this encoding, and searches upper-case by its rules.
namespace cp1251 {

// Converts to CP1251. Returns false (and leaves `out` partial) when a character
// has no CP1251 form; `badPos` then receives its index in `text`.
bool encode(const QString &text, QByteArray &out, qsizetype *badPos = nullptr);
// Converts from CP1251. A byte the page leaves unassigned (0x98) becomes a
// private-use character that encode() turns back into the same byte.
QString decode(const char *data, qsizetype len);
inline QString decode(const QByteArray &b)
{
    return decode(b.constData(), b.size());
}

// Index of the first character of `text` with no CP1251 form, -1 when none.
qsizetype firstUnencodable(const QString &text);
inline bool representable(const QString &text)
{
    return firstUnencodable(text) < 0;
}

// True for the private-use characters decode() gives unassigned bytes.
bool isUndefinedByte(QChar c);

// The character at `pos` as the user knows it, with its code point:
// «😀» (U+1F600). A surrogate pair is one character.
QString describeChar(const QString &text, qsizetype pos);

// Upper-cases the way the Windows ANSI functions do for code page 1251:
// Latin a-z, Cyrillic а-я, ё, and the few other CP1251 letters with a capital
// in the same page. Characters outside the page are left as they are.
QString upper(const QString &text);

} // namespace cp1251
