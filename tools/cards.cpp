// zentrax-cards: cards out to a vCard or CSV file, and in from one, against
// the database the program opens, as a user with full rights.
//
//   zentrax-cards export [--format vcard|vcard3|csv] [--search TEXT] [OPTIONS] FILE
//   zentrax-cards import [--skip-duplicates|--add-duplicates] [OPTIONS] FILE
//   OPTIONS: --database PATH  --user LOGIN   (the password: ZENTRAX_PASSWORD, or asked)

#include "core/cardimport.h"
#include "core/contactlist.h"
#include "core/dbpath.h"
#include "core/exportcards.h"
#include "core/logins.h"
#include "core/tempfolder.h"
#include "db/ibase.h"
#include "db/shared.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSysInfo>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

const char *const kUsage =
    "usage: zentrax-cards export [--format vcard|vcard3|csv] [--search TEXT] [--database PATH] --user LOGIN FILE\n"
    "       zentrax-cards import [--skip-duplicates|--add-duplicates] [--database PATH] --user LOGIN FILE\n";

// Exit statuses.
constexpr int kDone = 0;      // every card stored or exported
constexpr int kFailed = 1;    // cards refused, the export not written, no login, ...
constexpr int kUsageError = 2;
constexpr int kSkipped = 3;   // every card stored except those skipped as already stored, as asked

volatile std::sig_atomic_t g_interrupted = 0;

void printHelp()
{
    std::printf("%s\n"
                "export  writes the cards the list shows for --search TEXT (as typed into the main\n"
                "        window's \"Имя\" box: the beginning of a surname, name or patronymic; all\n"
                "        cards without it) to FILE: vCard 4.0 (--format vcard, the default), vCard 3.0\n"
                "        for older phones (vcard3) or CSV for spreadsheets (csv).\n"
                "import  reads a vCard (2.1, 3.0, 4.0) or CSV file and stores its cards. Cards that\n"
                "        look like stored ones (the same full name and birthday or e-mail) are skipped\n"
                "        (--skip-duplicates, the default) or added (--add-duplicates).\n\n"
                "The database is the one the program opens (dbase.fdb or path.txt beside this\n"
                "program), or --database PATH. The user must have full rights; the password is\n"
                "taken from the variable ZENTRAX_PASSWORD, else asked on the terminal.\n"
                "Ctrl+C stops an import between two cards: the cards stored so far stay, each whole.\n\n"
                "Exit status: 0 every card stored or exported; 3 every card stored but those\n"
                "skipped as already stored; 1 some card not stored, or the file not written; 2 usage.\n"
                "The report goes to standard output.\n",
                kUsage);
}

void say(const QString &text)
{
    QString t = text;
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    std::fputs(t.toUtf8().constData(), stdout);
    std::fputs("\n", stdout);
    std::fflush(stdout);
}

void fail(const QString &text)
{
    QString t = text;
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    std::fprintf(stderr, "zentrax-cards: %s\n", t.toUtf8().constData());
}

QString askPassword()
{
    if (qEnvironmentVariableIsSet("ZENTRAX_PASSWORD"))
        return qEnvironmentVariable("ZENTRAX_PASSWORD");
    if (!isatty(STDIN_FILENO))
        return QString();
    std::fputs("Пароль: ", stderr);
    std::fflush(stderr);
    termios old{};
    const bool quiet = tcgetattr(STDIN_FILENO, &old) == 0;
    if (quiet) {
        termios silent = old;
        silent.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSANOW, &silent);
    }
    std::string line;
    std::getline(std::cin, line);
    if (quiet)
        tcsetattr(STDIN_FILENO, TCSANOW, &old);
    std::fputs("\n", stderr);
    return QString::fromLocal8Bit(line.c_str());
}

// The progress on the terminal, when there is one; false once Ctrl+C was pressed.
core::Progress terminalProgress(const char *what)
{
    const bool shown = isatty(STDERR_FILENO);
    return [shown, what](int done, int total) {
        if (shown && (done % 50 == 0 || done == total))
            std::fprintf(stderr, "\r%s: %d / %d", what, done, total);
        if (shown && done == total)
            std::fputs("\n", stderr);
        return g_interrupted == 0;
    };
}

QString scratchName()
{
    QString host = QSysInfo::machineHostName();
    host.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]")), QStringLiteral("_"));
    return (host.isEmpty() ? QStringLiteral("copy") : host) + QLatin1Char('-') +
           QString::number(QCoreApplication::applicationPid());
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.contains(QLatin1String("--help")) || args.contains(QLatin1String("-h"))) {
        printHelp();
        return kDone;
    }
    QString command = args.value(0), database, user, search, file;
    QString format = QStringLiteral("vcard");
    bool addDuplicates = false;
    for (int i = 1; i < args.size(); ++i) {
        const QString &a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == QLatin1String("--database") && hasValue)
            database = args[++i];
        else if (a == QLatin1String("--user") && hasValue)
            user = args[++i];
        else if (a == QLatin1String("--search") && hasValue && command == QLatin1String("export"))
            search = args[++i];
        else if (a == QLatin1String("--format") && hasValue && command == QLatin1String("export"))
            format = args[++i];
        else if (a == QLatin1String("--skip-duplicates") && command == QLatin1String("import"))
            addDuplicates = false;
        else if (a == QLatin1String("--add-duplicates") && command == QLatin1String("import"))
            addDuplicates = true;
        else if (!a.startsWith(QLatin1String("--")) && file.isEmpty())
            file = a;
        else {
            std::fputs(kUsage, stderr);
            return kUsageError;
        }
    }
    const bool exporting = command == QLatin1String("export");
    core::CardFormat cardFormat = core::CardFormat::VCard4;
    if (format == QLatin1String("vcard3"))
        cardFormat = core::CardFormat::VCard3;
    else if (format == QLatin1String("csv"))
        cardFormat = core::CardFormat::Csv;
    else if (format != QLatin1String("vcard"))
        command.clear();
    if ((!exporting && command != QLatin1String("import")) || file.isEmpty() || user.isEmpty()) {
        std::fputs(kUsage, stderr);
        return kUsageError;
    }

    const QString folder = QCoreApplication::applicationDirPath();
    if (database.isEmpty()) {
        database = core::chooseDatabase(folder).path;
        if (database.isEmpty()) {
            fail(QStringLiteral("в папке программы %1 нет ни dbase.fdb, ни path.txt; укажите базу данных: --database ПУТЬ.")
                     .arg(folder));
            return kFailed;
        }
    }
    db::prepareEngine(folder);
    if (!db::isServerPath(database)) {
        if (!QFileInfo(database).isFile()) {
            fail(QStringLiteral("файл базы данных %1 не найден.").arg(database));
            return kFailed;
        }
        const QString problem = db::lockFolderProblem(db::lockFolder());
        if (!problem.isEmpty()) {
            fail(problem);
            return kFailed;
        }
    }
    std::signal(SIGINT, [](int) { g_interrupted = 1; });

    try {
        SharedDb db;
        db.IBDbase.databaseName = database;
        db.IBDbase.open();
        core::LoggedUser who;
        const QString password = askPassword();
        const core::LoginResult login = core::Logins(db).check(user, password, &who);
        if (login != core::LoginResult::Ok || who.level != QLatin1String("full")) {
            fail(login == core::LoginResult::UnknownLogin    ? QStringLiteral("пользователя %1 нет в базе данных.").arg(user)
                 : login == core::LoginResult::WrongPassword ? QStringLiteral("неверный пароль пользователя %1 (задайте его "
                                                                              "в переменной ZENTRAX_PASSWORD).")
                                                                   .arg(user)
                                                             : QStringLiteral("у пользователя %1 нет полного доступа: "
                                                                              "работать с карточками так может только он.")
                                                                   .arg(user));
            return kFailed;
        }
        const QString photoFolder = folder + QStringLiteral("/files");
        if (exporting) {
            ListFilter filter;
            filter.name = search;
            const QList<qint64> ids = core::listIds(db.iRead, filter, ListSort::Name);
            const core::ExportReport report =
                core::exportCards(db, photoFolder, ids, cardFormat, file, terminalProgress("Экспорт"));
            say(report.text(QFileInfo(file).absoluteFilePath()));
            return report.complete() ? kDone : kFailed;
        }
        core::ScratchFolder scratch;
        scratch.make(folder + QStringLiteral("/temp"), scratchName());
        core::CardImport import(db, photoFolder, scratch.path());
        if (!import.read(file, terminalProgress("Проверка"))) {
            fail(import.error().isEmpty() ? QStringLiteral("проверка прервана, ничего не сохранено.") : import.error());
            scratch.remove();
            return kFailed;
        }
        say(import.summary(QFileInfo(file).fileName()));
        const core::ImportReport report = import.store(addDuplicates, who.id, terminalProgress("Импорт"));
        scratch.remove();
        say(QString());
        say(report.text());
        if (!report.complete())
            return kFailed;
        return report.skipped > 0 ? kSkipped : kDone;
    } catch (const db::DbError &e) {
        fail(e.text());
        return kFailed;
    }
}
