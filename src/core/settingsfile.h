#pragma once
// The per-user settings file zentrax.ini: section [main] with the remembered
// login (user=) and password (pass=). Values are kept exactly as typed: no
// quoting, no escapes, no lists, so any text a user may pick survives.

#include <QByteArray>
#include <QString>

namespace core {

struct LoginSettings
{
    QString user;
    QString pass;
};

// The values of [main] in a file's text (UTF-8): everything after the first
// "=" up to the line end (LF or CR LF). A missing key gives empty text.
LoginSettings parseLoginSettings(const QByteArray &text);

// The text with user= and pass= of [main] set: replaced where they stand,
// added right after [main] when missing, the section added when missing.
// Every other line is kept; lines end in LF. Line breaks inside a value
// cannot be stored and are dropped.
QByteArray updateLoginSettings(const QByteArray &text, const LoginSettings &values);

// Reads the file; false (and empty values) when it cannot be read.
bool readLoginSettings(const QString &path, LoginSettings *values);

// Writes the values into the file: the new text replaces the file whole, or
// the file stays as it was. The file is readable by its owner only; an
// existing one loses any access by others before anything is written.
// False, with the system's reason in `error`, when the file cannot be made
// private or written.
bool writeLoginSettings(const QString &path, const LoginSettings &values, QString *error = nullptr);

} // namespace core
