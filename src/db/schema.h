#pragma once
#include <QString>
#include <QStringList>

namespace schema {

// The statements of schema.sql, one by one.
QStringList statements();
// Creates a new database file and its tables; with `withIndexes` false the
// indexes are left for createIndexes (a bulk load is much faster without them).
void createDatabase(const QString &path, bool withIndexes = true);
void createIndexes(const QString &path);

} // namespace schema
