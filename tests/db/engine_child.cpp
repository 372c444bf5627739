// The engine in trouble, in a process of its own, run by tst_db.
//
//   engine_child fill-locks DB   with FIREBIRD_LOCK on a small file system of
//     its own: opens DB through four connections, fills the lock folder's
//     disk to the last byte, and then reads every card through each of them,
//     as a program does whose /tmp a colleague filled after its start. Prints
//     the cards read and exits 0, or prints the error and exits 3; the engine
//     must not kill it.
//   engine_child overwrite DB OTHER   reads every card of DB, copies OTHER
//     over DB in place (as cp does: the same file, new bytes), reads again,
//     and lets go of the database as a program at its end: the process must
//     end within the engine's deadline (exit 7), however the engine fares.

#include "core/ending.h"
#include "db/ibase.h"

#include <QCoreApplication>
#include <QFile>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

qint64 readAll(db::IBDatabase &d)
{
    db::IBTransaction t(&d, db::IBTransaction::Kind::Read);
    db::IBQuery q(&d, &t);
    q.setSql(QStringLiteral("SELECT * FROM base"));
    q.open();
    qint64 read = 0;
    for (; !q.eof(); q.next())
        ++read;
    q.close();
    t.commit();
    return read;
}

int overwrite(const QString &path, const QString &other)
{
    db::IBDatabase d;
    d.databaseName = path;
    d.open();
    // Transactions of a day's work: the file put in its place has seen fewer.
    for (int i = 0; i < 300; ++i)
        readAll(d);
    QFile from(other), to(path);
    if (!from.open(QIODevice::ReadOnly) || !to.open(QIODevice::WriteOnly)) // truncated, same file
        return 2;
    to.write(from.readAll());
    to.close();
    try {
        readAll(d);
    } catch (const db::DbError &e) {
        std::printf("%s\n", e.text().toUtf8().constData());
    }
    std::fflush(stdout);
    core::endWithin(3000, 7);
    d.close();
    return 0;
}

int fillLocks(const QString &path)
{
    try {
        std::vector<std::unique_ptr<db::IBDatabase>> connections;
        for (int i = 0; i < 4; ++i) {
            connections.push_back(std::make_unique<db::IBDatabase>());
            connections.back()->databaseName = path;
            connections.back()->open();
        }

        QFile fill(db::lockFolder() + QStringLiteral("/filler"));
        if (!fill.open(QIODevice::WriteOnly))
            return 2;
        const QByteArray block(64 * 1024, 'x');
        while (fill.write(block) == block.size() && fill.flush()) {
        }
        for (int small = 4096; small >= 1; small /= 2)
            while (fill.write(block.left(small)) == small && fill.flush()) {
            }
        fill.close();

        qint64 read = 0;
        for (const auto &d : connections)
            read += readAll(*d);
        std::printf("%lld\n", read);
        return 0;
    } catch (const db::DbError &e) {
        std::printf("%s\n", e.text().toUtf8().constData());
        return 3;
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    db::prepareEngine(QStringLiteral(ZENTRAX_PROGRAM_DIR));
    if (args.value(1) == QLatin1String("fill-locks") && args.size() == 3)
        return fillLocks(args[2]);
    if (args.value(1) == QLatin1String("overwrite") && args.size() == 4)
        return overwrite(args[2], args[3]);
    return 2;
}
