#pragma once
// Fresh database files for tests: the schema is built once per test program
// and each test gets its own copy in a temporary folder.

#include "db/ibase.h"
#include "db/shared.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>

namespace testdb {

// Points the client library at the built program's engine root; call first.
void init();

// A new database file with the schema (and nothing else) inside `dir`.
QString freshDatabase(const QString &dir, const QString &name = QStringLiteral("dbase.fdb"));

// Runs statements (separated by ";\n") on a file outside the program's shared objects.
void exec(const QString &path, const QString &statements);

// Adds a user to the file at `path` (a null `pass` stores NULL).
void addUser(const QString &path, const QString &fio, const QString &login, const QString &pass, const QString &level);
// Adds `count` cards at once, card i with the columns `make(i)` gives (name=value pairs; others NULL).
void addCards(const QString &path, int count, const std::function<QList<QPair<QString, QString>>(int)> &make);
// Adds one card and returns its id.
qint64 addCard(const QString &path, const QList<QPair<QString, QString>> &columns);

// Opens the program's shared objects on the database file at `path`.
void open(SharedDb &s, const QString &path);

// The values of one column of a table in the file at `path`, by the rows'
// pk_id, read through a connection of its own: only committed work shows.
QStringList values(const QString &path, const QString &table, const QString &column);

// A fresh database file opened through the program's shared query objects.
// The program's connection with two query objects of the test's own, for
// statements a test runs itself: on the write and on the read transaction.
struct QueryDb : SharedDb
{
    db::IBQuery iSQL{&IBDbase, &IBTrans};
    db::IBQuery iRead{&IBDbase, &IBRead};
};

struct SharedFixture
{
    SharedFixture();
    QTemporaryDir dir;
    QString path;
    QueryDb s;
    int count(const QString &select) const;
    QString value(const QString &select) const;
    QStringList values(const QString &table, const QString &column) const
    {
        return testdb::values(path, table, column);
    }
};

// A connection of its own, for checking what a test stored.
struct Peek
{
    explicit Peek(const QString &path);
    db::IBDatabase d;
    db::IBTransaction t{&d};
    db::IBQuery q{&d, &t};
    // First column of the first row of `select`, as text ("" when no row).
    QString value(const QString &select);
    // The values of one column of a table, by the rows' pk_id.
    QStringList column(const QString &table, const QString &name);
    int count(const QString &select);
};

} // namespace testdb
