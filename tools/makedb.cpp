// zentrax-makedb: creates a new database file with the program's tables, the
// administrator "admin" and, if asked, demo cards.
//
//   zentrax-makedb [--password TEXT] [--demo N] [--force] PATH

#include "demo.h"

#include "db/ibase.h"
#include "db/schema.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QString path, password = QStringLiteral("admin");
    quint64 demoCount = 0;
    bool force = false;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        if (a == QLatin1String("--password") && i + 1 < args.size())
            password = args[++i];
        else if (a == QLatin1String("--demo") && i + 1 < args.size())
            demoCount = args[++i].toULongLong();
        else if (a == QLatin1String("--force"))
            force = true;
        else if (!a.startsWith(QLatin1String("--")) && path.isEmpty())
            path = a;
        else {
            std::fprintf(stderr, "usage: zentrax-makedb [--password TEXT] [--demo N] [--force] PATH\n");
            return 2;
        }
    }
    if (path.isEmpty()) {
        std::fprintf(stderr, "usage: zentrax-makedb [--password TEXT] [--demo N] [--force] PATH\n");
        return 2;
    }
    const bool onServer = db::isServerPath(path);
    if (!onServer)
        path = QFileInfo(path).absoluteFilePath();
    if (!onServer && QFileInfo::exists(path)) {
        if (!force) {
            std::fprintf(stderr, "%s already exists (use --force to replace it)\n", qPrintable(path));
            return 1;
        }
        QFile::remove(path);
    }
    db::prepareEngine(QCoreApplication::applicationDirPath());
    try {
        QElapsedTimer timer;
        timer.start();
        schema::createDatabase(path, false);
        db::IBDatabase d;
        d.databaseName = path;
        d.open();
        db::IBTransaction t(&d);
        const qint64 admin = demo::addAdmin(d, t, password);
        demo::addReferences(d, t);
        if (demoCount > 0)
            demo::addCards(d, t, demoCount, admin, [&](quint64 done) {
                if (demoCount >= 100000)
                    std::fprintf(stderr, "\r%llu / %llu cards", (unsigned long long)done,
                                 (unsigned long long)demoCount);
            });
        if (demoCount >= 100000)
            std::fprintf(stderr, "\n");
        d.close();
        schema::createIndexes(path);
        std::printf("Created %s with %llu demo cards in %.1f s.\nLog in as \"admin\" with the password \"%s\".\n",
                    qPrintable(path), (unsigned long long)demoCount, timer.elapsed() / 1000.0,
                    password.toUtf8().constData());
    } catch (const db::DbError &e) {
        std::fprintf(stderr, "zentrax-makedb: %s\n", e.text().toUtf8().constData());
        if (!onServer)
            QFile::remove(path);
        return 1;
    }
    return 0;
}
