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

// What later versions of the program add to a database made by an older
// one. Nothing is added when a database is opened: an administrator chooses
// the upgrade (asked at his login, or zentrax-makedb --upgrade); until then
// the program works with what the database has.
struct UpgradeStep
{
    QString name;   // as recorded in zentrax_upgrades
    QString adds;   // what it adds to the database, in Russian
    QString brings; // what the users gain, in Russian
};
// Every step, in the order they are made.
const QList<UpgradeStep> &upgradeSteps();
// The steps the database lacks.
QList<UpgradeStep> pendingUpgrade(db::IBDatabase &database);

struct UpgradeReport
{
    QStringList done;       // the steps made now
    QStringList duplicates; // logins several users hold: the unique login waits for them
    QStringList failed;     // steps the database refused, with the reason
    bool complete() const { return duplicates.isEmpty() && failed.isEmpty(); }
    // For the administrator, in Russian.
    QString text() const;
};
// Makes the steps the database lacks, each in a unit of its own, and
// records each in zentrax_upgrades; a step already there is left alone. The
// unique login is left undone while some login is held by several users.
UpgradeReport upgrade(db::IBDatabase &database);

// Clears log rows no copy can need any more (data only; nothing when the
// database has no change log).
void trimChangeLog(db::IBDatabase &database);

// The log of changed cards keeps the rows of this many transactions before
// the oldest one still running; clearChangeLog removes older ones and leaves
// in their place a row without a card, whose transaction tells a reader
// whose mark is below it that it missed rows and must read anew.
constexpr long long kChangesKept = 20000;
// Runs in the caller's write transaction.
void clearChangeLog(db::IBQuery &q);

} // namespace schema
