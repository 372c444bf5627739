#pragma once
// Text files that other programs wrote: UTF-8 with or without a byte-order
// mark, UTF-16 with one, or the office's Windows-1251.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace filetext {

// The name of Windows-1251 as `taken` and the user are told it.
inline constexpr char kWindows1251[] = "Windows-1251";

// Bytes in the named character set (a CHARSET parameter: UTF-8,
// WINDOWS-1251, KOI8-R, ...). With no name, or one not known: UTF-8 when the
// bytes are well-formed UTF-8, else Windows-1251. `taken`, when given,
// receives the character set read by ("UTF-8", "Windows-1251", or the name given).
QString decode(const QByteArray &bytes, const QString &charset = QString(), QString *taken = nullptr);

// A whole file: by its byte-order mark when it has one; UTF-16 without one
// told by its zero bytes; UTF-8 when its bytes are UTF-8 but for a few
// stray ones (each read as Windows-1251 and named in `notes` with its line);
// else Windows-1251, which `notes` says. `taken`, when given, receives the
// encoding read by: "UTF-8", "UTF-16" or "Windows-1251".
QString decodeFile(const QByteArray &bytes, QStringList *notes = nullptr, QString *taken = nullptr);

} // namespace filetext
