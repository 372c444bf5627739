#pragma once
#include <QByteArray>
#include <QString>

// Windows Cyrillic (code page 1251): every text crosses the database boundary
// in this encoding, and searches upper-case by its rules.
namespace cp1251 {

// Converts to CP1251. Returns false (and leaves `out` partial) when a character
// has no CP1251 form; `bad` then receives the first such character.
bool encode(const QString &text, QByteArray &out, QChar *bad = nullptr);
QString decode(const char *data, qsizetype len);
inline QString decode(const QByteArray &b) { return decode(b.constData(), b.size()); }

// True when every character of `text` has a CP1251 form.
bool representable(const QString &text, QChar *bad = nullptr);

// Upper-cases the way the Windows ANSI functions do for code page 1251:
// Latin a-z, Cyrillic а-я, ё, and the few other CP1251 letters with a capital
// in the same page. Characters outside the page are left as they are.
QString upper(const QString &text);

// A character standing for a byte that the code page leaves undefined.
inline bool isUndefinedByte(QChar c)
{
    return c.unicode() >= 0xF780 && c.unicode() <= 0xF7FF;
}

} // namespace cp1251
