// zentrax-makedb: creates a new database file with the program's tables, the
// administrator "admin" and, if asked, demo cards; or writes the program
// folder's path.txt naming a database.
//
//   zentrax-makedb [--password TEXT] [--demo N] [--force] PATH
//   zentrax-makedb --path-file [--force] PATH
//   zentrax-makedb --upgrade PATH
//   zentrax-makedb --help

#include "demo.h"

#include "core/safefiles.h"
#include "db/ibase.h"
#include "db/schema.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>
#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

const char *const kUsage = "usage: zentrax-makedb [--password TEXT] [--demo N] [--force] PATH\n"
                           "       zentrax-makedb --path-file [--force] PATH\n"
                           "       zentrax-makedb --upgrade PATH\n";

// How to run the engine's own tools on a database that copies of the program
// have open: with the program's engine root, so that they work with the file
// as the program does, and meet the program in the machine's lock folder.
void printHelp()
{
    std::printf("%s\n"
                "Makes a new Zentrax database at PATH (a file, or host:/path on a Firebird server)\n"
                "with the administrator \"admin\" (password TEXT, default \"admin\") and N demo cards.\n"
                "With --path-file it makes no database but writes path.txt in the program folder\n"
                "%s, naming the database PATH (host:/path on the office's server): the program\n"
                "opens it when there is no dbase.fdb beside it.\n"
                "With --upgrade it adds to the database at PATH, made by an older version, what\n"
                "this version adds (each step once, recorded in the database), and says what it did.\n\n"
                "The engine's tools (isql-fb, gbak, gfix, fbstat) may open a database file that\n"
                "copies of the program have open only when run with the program's engine root\n"
                "and without a lock folder of their own, for example:\n\n"
                "  FIREBIRD=%s/firebird isql-fb -user SYSDBA -password tarvokilm PATH\n\n"
                "They then share the lock folder %s with the program. Run otherwise,\n"
                "they open the file as a second, separate engine and may damage it.\n\n"
                "A bulk load may keep the trigger base_changed on: the open lists follow its\n"
                "changes. Switched off and on again, it leaves a mark (trigger base_changed_guard)\n"
                "and every running copy reads its cards anew; what the tool changes while it is\n"
                "off shows only once it is on again, so switch it on as soon as the load is done.\n",
                kUsage, qPrintable(QCoreApplication::applicationDirPath()),
                qPrintable(QCoreApplication::applicationDirPath()), qPrintable(db::lockFolder()));
}

void say(const QString &text)
{
    std::fprintf(stderr, "zentrax-makedb: %s\n", text.toUtf8().constData());
}

// The first line of a file, whatever ends it, as the program reads path.txt.
QString firstLine(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray all = f.readAll();
    qsizetype end = 0;
    while (end < all.size() && all[end] != '\n' && all[end] != '\r')
        ++end;
    return QString::fromLocal8Bit(all.left(end));
}

// path.txt beside the program, naming `database`: replaced in one step, so
// that a copy starting meanwhile reads the old line or the new one. A
// dbase.fdb beside the program would be opened instead: then nothing is
// written.
int writePathFile(QString database, bool force)
{
    const QString folder = QCoreApplication::applicationDirPath();
    const QString pathFile = folder + QStringLiteral("/path.txt");
    if (database.contains(QLatin1Char('\n')) || database.contains(QLatin1Char('\r'))) {
        say(QStringLiteral("путь к базе данных должен быть одной строкой"));
        return 2;
    }
    if (!db::isServerPath(database) && !QFileInfo(database).isFile()) {
        say(QStringLiteral("нет файла базы данных %1 (база на сервере пишется как сервер:/путь)").arg(database));
        return 1;
    }
    if (!db::isServerPath(database))
        database = QFileInfo(database).absoluteFilePath(); // the program starts in any folder
    if (QFileInfo::exists(folder + QStringLiteral("/dbase.fdb"))) {
        say(QStringLiteral("рядом с программой лежит %1/dbase.fdb: программа откроет его, а не path.txt. "
                           "Перенесите его из папки программы и повторите.")
                .arg(folder));
        return 1;
    }
    if (QFileInfo::exists(pathFile) && firstLine(pathFile) != database && !force) {
        say(QStringLiteral("%1 уже называет базу %2 (--force заменит его)").arg(pathFile, firstLine(pathFile)));
        return 1;
    }
    const QString scratch = pathFile + QStringLiteral(".new");
    QFile::remove(scratch);
    QFile out;
    QString why;
    if (!core::createNewFile(out, scratch, &why, 0644) || out.write(database.toLocal8Bit() + '\n') < 0 ||
        !out.flush()) {
        say(QStringLiteral("не удалось записать %1: %2").arg(scratch, why.isEmpty() ? out.errorString() : why));
        QFile::remove(scratch);
        return 1;
    }
    out.close();
    why = core::replaceFile(scratch, pathFile);
    if (!why.isEmpty()) {
        say(QStringLiteral("не удалось записать %1: %2").arg(pathFile, why));
        QFile::remove(scratch);
        return 1;
    }
    std::printf(
        "%s\n",
        QStringLiteral("Записан %1: программа откроет базу данных %2.").arg(pathFile, database).toUtf8().constData());
    return 0;
}

// Adds what later versions add to an existing database; 0 when all is there.
int upgradeDatabase(const QString &path)
{
    if (!db::isServerPath(path) && !QFileInfo(path).isFile()) {
        say(QStringLiteral("файл базы данных %1 не найден").arg(path));
        return 1;
    }
    db::prepareEngine(QCoreApplication::applicationDirPath());
    try {
        db::IBDatabase d;
        d.databaseName = path;
        d.open();
        const schema::UpgradeReport report = schema::upgrade(d);
        d.close();
        QString text = report.text();
        text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
        std::printf("%s\n", text.toUtf8().constData());
        return report.complete() ? 0 : 1;
    } catch (const db::DbError &e) {
        say(e.text());
        return 1;
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption passwordOption(QStringLiteral("password"), QStringLiteral("admin's password"),
                                            QStringLiteral("TEXT"), QStringLiteral("admin"));
    const QCommandLineOption demoOption(QStringLiteral("demo"), QStringLiteral("demo cards to add"),
                                        QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption forceOption(QStringLiteral("force"), QStringLiteral("replace what is there"));
    const QCommandLineOption pathFileOption(QStringLiteral("path-file"), QStringLiteral("write path.txt only"));
    const QCommandLineOption upgradeOption(QStringLiteral("upgrade"), QStringLiteral("upgrade an older database"));
    const QCommandLineOption helpOption(QStringLiteral("help"), QStringLiteral("this help"));
    parser.addOptions({passwordOption, demoOption, forceOption, pathFileOption, upgradeOption, helpOption});
    parser.addPositionalArgument(QStringLiteral("PATH"), QStringLiteral("the database"));
    bool demoValid = false;
    if (!parser.parse(app.arguments()) || parser.positionalArguments().size() > 1) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (parser.isSet(helpOption)) {
        printHelp();
        return 0;
    }
    QString path = parser.positionalArguments().value(0);
    const QString password = parser.value(passwordOption);
    const quint64 demoCount = parser.value(demoOption).toULongLong(&demoValid);
    const bool force = parser.isSet(forceOption), pathFile = parser.isSet(pathFileOption);
    if (path.isEmpty() || !demoValid) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (pathFile)
        return writePathFile(path, force);
    if (parser.isSet(upgradeOption))
        return upgradeDatabase(db::isServerPath(path) ? path : QFileInfo(path).absoluteFilePath());
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
    // Root (the package at install) makes a new database with locks of its
    // own: a lock folder that other users may write is never root's.
    QTemporaryDir privateLocks;
#ifdef Q_OS_UNIX
    if (::geteuid() == 0 && !onServer && qEnvironmentVariableIsEmpty("FIREBIRD_LOCK") && privateLocks.isValid())
        qputenv("FIREBIRD_LOCK", QFile::encodeName(privateLocks.path()));
#endif
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
