#pragma once
#include <QHash>
#include <QString>

namespace db {
class Access;

// The declared length, in characters, of each CHAR or VARCHAR column of a
// table, by upper-cased column name (BLOB and number columns are absent).
QHash<QString, int> textColumnLengths(Access &db, const QString &table);

// Why a value cannot be stored in a column of `maxLength` characters (0: no
// limit), or an empty text when it can. `field` names the field for the user.
// A count of characters in words: "101 знак", "102 знака", "111 знаков".
QString characterCount(qsizetype n);

QString valueProblem(const QString &field, const QString &value, int maxLength);

} // namespace db
