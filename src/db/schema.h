#pragma once
#include <QString>
#include <QStringList>

namespace db {
class IBDatabase;
class IBQuery;
} // namespace db

namespace schema {

// The statements of schema.sql, one by one.
QStringList statements();
// Creates a new database file and its tables; with `withIndexes` false the
// indexes are left for createIndexes (a bulk load is much faster without them).
void createDatabase(const QString &path, bool withIndexes = true);
void createIndexes(const QString &path);

// Brings a database made by an older version of the program up to date:
// the database refuses a second user with a login already held. Returns the
// logins that several users hold already; while there are any, that step is
// left undone and nothing else changes. A step the database refuses now (a
// file opened read-only, say) is tried again at the next start.
QStringList upgrade(db::IBDatabase &database);

// The log of changed cards keeps the rows of this many transactions before
// the oldest one still running; clearChangeLog removes older ones and leaves
// in their place a row without a card, whose transaction tells a reader
// whose mark is below it that it missed rows and must read anew.
constexpr long long kChangesKept = 20000;
// Runs in the caller's write transaction.
void clearChangeLog(db::IBQuery &q);

} // namespace schema
