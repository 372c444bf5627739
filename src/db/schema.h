#pragma once
#include <QString>
#include <QStringList>

namespace schema {

// The statements of schema.sql, one by one.
QStringList statements();
// Creates a new database file and its tables.
void createDatabase(const QString &path);

} // namespace schema
