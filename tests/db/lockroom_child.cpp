// Run by tst_db with FIREBIRD_LOCK on a small file system of its own: opens
// the database at argv[1] through four connections, fills the lock folder's
// disk to the last byte, and then reads every card through each of them, as
// a program does whose /tmp a colleague filled after its start. Prints the cards read and
// exits 0, or prints the error and exits 3; the engine must not kill it.

#include "db/ibase.h"

#include <QCoreApplication>
#include <QFile>
#include <cstdio>
#include <memory>
#include <vector>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 2;
    db::prepareEngine(QStringLiteral(ZENTRAX_PROGRAM_DIR));
    try {
        std::vector<std::unique_ptr<db::IBDatabase>> connections;
        for (int i = 0; i < 4; ++i) {
            connections.push_back(std::make_unique<db::IBDatabase>());
            connections.back()->databaseName = QFile::decodeName(argv[1]);
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
        for (const auto &d : connections) {
            db::IBTransaction t(d.get(), db::IBTransaction::Kind::Read);
            db::IBQuery q(d.get(), &t);
            q.setSql(QStringLiteral("SELECT * FROM base"));
            q.open();
            for (; !q.eof(); q.next())
                ++read;
            q.close();
            t.commit();
        }
        std::printf("%lld\n", read);
        return 0;
    } catch (const db::DbError &e) {
        std::printf("%s\n", e.text().toUtf8().constData());
        return 3;
    }
}
