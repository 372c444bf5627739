// zentrax-cards: cards out to a vCard or CSV file, and in from one, against
// the database the program opens, as a user with full rights.
//
//   zentrax-cards export [--format vcard|vcard3|csv] [--search TEXT] [OPTIONS] FILE
//   zentrax-cards import [--skip-duplicates|--add-duplicates] [OPTIONS] FILE
//   zentrax-cards duplicates [OPTIONS]
//   zentrax-cards merge [OPTIONS] ID ID...
//   OPTIONS: --database PATH  --user LOGIN   (the password: ZENTRAX_PASSWORD, or asked)

#include "cardfiles/cardimport.h"
#include "cardfiles/exportcards.h"
#include "core/cardmerge.h"
#include "core/duplicates.h"
#include "core/contactlist.h"
#include "core/dbpath.h"
#include "core/ending.h"
#include "core/logins.h"
#include "core/tempfolder.h"
#include "db/engineerrors.h"
#include "db/ibase.h"
#include "db/shared.h"
#include "terminal.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

const char *const kUsage =
    "Вызов: zentrax-cards export [--format vcard|vcard3|csv] [--search ТЕКСТ] [--database ПУТЬ] --user ЛОГИН ФАЙЛ\n"
    "       zentrax-cards import [--skip-duplicates|--add-duplicates] [--database ПУТЬ] --user ЛОГИН ФАЙЛ\n"
    "       zentrax-cards duplicates [--database ПУТЬ] --user ЛОГИН\n"
    "       zentrax-cards merge [--database ПУТЬ] --user ЛОГИН НОМЕР НОМЕР...\n"
    "       zentrax-cards --help\n";

// Exit statuses.
constexpr int kDone = 0;   // every card stored or exported
constexpr int kFailed = 1; // cards refused, the export not written, no login, ...
constexpr int kUsageError = 2;
constexpr int kSkipped = 3; // every card stored except those skipped as already stored, as asked
constexpr int kStopped = 4; // ended by Ctrl+C, SIGTERM or SIGHUP before the end

// The signal that asked the tool to end (0: none yet), and whether the work
// under way stops by itself between two cards when asked.
std::atomic<int> g_stopSignal{0};
std::atomic<bool> g_stopsBetweenCards{false};

// Ctrl+C, SIGTERM and SIGHUP are blocked in every thread from the start (the
// engine's threads, made later, inherit the mask, and its own handlers never
// run) and taken on a thread of the tool's own. While an import or an export
// runs, the signal only asks it to stop between two cards: the cards kept so
// far are committed, each whole. At any other moment (the password asked,
// the database opened), or at a second signal, the tool ends at once:
// nothing of its own is held then.
void takeEndingSignals()
{
    core::blockEndingSignals();
    core::takeEndingSignals([](int sig) {
        int none = 0;
        if (g_stopsBetweenCards && g_stopSignal.compare_exchange_strong(none, sig)) {
            // The work stops at the next card; should the engine hold it up
            // (a database file replaced under it), the tool ends all the same.
            core::endWithin(core::kEngineEndMs, kStopped);
            return;
        }
        terminal::restore();
        std::fprintf(stderr, "\nzentrax-cards: остановлено (%s).\n", sigabbrev_np(sig));
        std::_Exit(kStopped);
    });
}

// Runs `work` as an import or export that a signal stops between two cards.
template <typename F>
auto stoppable(F &&work)
{
    g_stopsBetweenCards = true;
    auto result = work();
    g_stopsBetweenCards = false;
    return result;
}

QString stopSignalName()
{
    const int sig = g_stopSignal;
    return sig == SIGINT ? QStringLiteral("Ctrl+C") : QStringLiteral("SIG") + QString::fromLatin1(sigabbrev_np(sig));
}

void printHelp()
{
    std::printf("%s\n"
                "export  записывает в ФАЙЛ карточки, которые список главного окна показывает при\n"
                "        поиске --search ТЕКСТ (как в поле «Имя»: начало фамилии, имени или\n"
                "        отчества; без него — все карточки): vCard 4.0 (--format vcard, так по\n"
                "        умолчанию), vCard 3.0 для старых телефонов (vcard3) или CSV для таблиц (csv).\n"
                "import  читает файл vCard (2.1, 3.0, 4.0) или CSV и сохраняет его карточки.\n"
                "        Карточки, похожие на уже сохранённые или на карточки выше в файле (то же\n"
                "        имя и тот же телефон, e-mail или та же дата рождения), пропускаются\n"
                "        (--skip-duplicates, так по умолчанию) или добавляются (--add-duplicates).\n"
                "duplicates  выводит группы вероятных дубликатов во всей базе: в первой строке\n"
                "        группы — почему они похожи, затем по карточке в строке: её номер, табуляция,\n"
                "        имя; между группами пустая строка.\n"
                "merge   объединяет карточки с указанными номерами в первую, без вопросов: её\n"
                "        непустые значения остаются, пустые поля заполняются из остальных по порядку,\n"
                "        другие значения дописываются в «Прочее» как «Поле: значение»; аккаунты\n"
                "        собираются в четыре места, фотография — первой карточки, иначе следующей;\n"
                "        остальные карточки удаляются. Всё одной записью; если карточку группы\n"
                "        только что изменил или удалил другой пользователь, ничего не меняется.\n\n"
                "База данных — та, которую открывает программа (dbase.fdb или path.txt рядом с ней),\n"
                "или --database ПУТЬ. Нужен пользователь с полным доступом; пароль берётся из\n"
                "переменной ZENTRAX_PASSWORD, иначе спрашивается в терминале.\n"
                "Ctrl+C, SIGTERM и SIGHUP останавливают импорт между двумя карточками: сохранённые\n"
                "остаются, каждая целиком; экспорт тогда не записывает файл.\n\n"
                "Код завершения: 0 — все карточки сохранены или выгружены; 3 — сохранены все, кроме\n"
                "пропущенных как уже сохранённые; 1 — какая-то карточка не сохранена или файл не\n"
                "записан; 2 — ошибка в вызове; 4 — остановлен сигналом. Отчёт выводится на\n"
                "стандартный вывод.\n",
                kUsage);
}

// A mistake in the call: what is wrong, then how to call.
int usageError(const QString &what)
{
    std::fprintf(stderr, "zentrax-cards: %s\n%s", what.toUtf8().constData(), kUsage);
    return kUsageError;
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

// The progress on the terminal, when there is one; false once Ctrl+C was pressed.
core::Progress terminalProgress(const char *what)
{
    const bool shown = isatty(STDERR_FILENO);
    return [shown, what](int done, int total) {
        if (shown && (done % 50 == 0 || done == total))
            std::fprintf(stderr, "\r%s: %d / %d", what, done, total);
        if (shown && done == total)
            std::fputs("\n", stderr);
        return g_stopSignal == 0;
    };
}

QString nameOf(const core::CardRecord &card)
{
    QStringList parts;
    for (const char *c : {"fam", "name1", "name2"})
        if (const QString v = card.value(QLatin1String(c)).trimmed(); !v.isEmpty())
            parts << v;
    return parts.join(QLatin1Char(' '));
}

// The sentence for a file the export could not write: the reason in Russian,
// the file named, and that nothing of it changed.
QString notWritten(const QString &file, const QString &why)
{
    return QStringLiteral("не удалось записать файл «%1»: %2. Файл не изменён.").arg(file, why);
}

// Why the export cannot write `file`, found before any card is read: the
// texts of the file classes are the system's, in English. Empty when
// nothing stands in the way (a device or a pipe the export refuses itself).
QString targetProblem(const QString &file)
{
    const QFileInfo target(file);
    const QString folder = target.absolutePath();
    if (target.isDir())
        return QStringLiteral("это папка, а не файл");
    if (!QFileInfo(folder).isDir())
        return QStringLiteral("папки «%1» нет").arg(folder);
    if (target.isFile() && ::access(QFile::encodeName(target.absoluteFilePath()).constData(), W_OK) != 0)
        return QStringLiteral("нет права изменять этот файл");
    if (::access(QFile::encodeName(folder).constData(), W_OK | X_OK) != 0)
        return QStringLiteral("нет права создавать файлы в папке «%1»").arg(folder);
    return QString();
}

// Why writing `file` failed once begun, told from the state of its disk and
// of this process (the file's own error is gone with its unfinished copy).
QString writeProblem(const QString &file)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(file).absolutePath());
    struct statvfs disk = {};
    if (::statvfs(folder.constData(), &disk) == 0) {
        if (disk.f_flag & ST_RDONLY)
            return QStringLiteral("диск доступен только для чтения");
        if (quint64(disk.f_bavail) * disk.f_frsize < (quint64(1) << 20))
            return QStringLiteral("на диске не осталось места");
    }
    struct rlimit limit = {};
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        return QStringLiteral("файл вышел больше, чем разрешено этому процессу (ulimit -f %1)")
            .arg(quint64(limit.rlim_cur) / 1024);
    return QStringLiteral("ошибка записи на диск");
}

int printDuplicates(SharedDb &db)
{
    const QList<core::DuplicateGroup> groups = core::storedDuplicates(db.access);
    core::CardStore cards(db.access);
    for (int g = 0; g < groups.size(); ++g) {
        if (g > 0)
            say(QString());
        say(core::duplicateReasonText(groups[g].reasons));
        for (qint64 id : groups[g].ids)
            say(QString::number(id) + QLatin1Char('\t') + nameOf(cards.load(id).value_or(core::CardRecord{})));
    }
    return kDone;
}

int mergeCards(SharedDb &db, const QString &photoFolder, const QList<qint64> &ids, qint64 userId)
{
    core::CardEditor editor(db.access, photoFolder);
    QList<QPair<qint64, core::CardBaseline>> loaded;
    for (qint64 id : ids) {
        const std::optional<core::CardBaseline> card = editor.load(id);
        if (!card) {
            fail(QStringLiteral("карточки № %1 нет в базе данных; ничего не изменено.").arg(id));
            return kFailed;
        }
        loaded.append({id, *card});
    }
    QList<core::CardBaseline> others;
    for (int i = 1; i < loaded.size(); ++i)
        others << loaded[i].second;
    const core::CardBaseline merged = core::mergeInto(loaded.first().second, others);
    const core::SaveResult r = editor.mergeGroup(ids.first(), merged, loaded, userId);
    if (r.outcome != core::SaveResult::Outcome::Stored) {
        fail(r.outcome == core::SaveResult::Outcome::Clash
                 ? QStringLiteral("карточку № %1 только что изменил другой пользователь; ничего не изменено.").arg(r.id)
                 : QStringLiteral("карточку группы только что удалил другой пользователь; ничего не изменено."));
        return kFailed;
    }
    QStringList rest;
    for (int i = 1; i < ids.size(); ++i)
        rest << QString::number(ids[i]);
    say(QStringLiteral("Карточки № %1 объединены в карточку № %2 «%3».")
            .arg(rest.join(QStringLiteral(", ")))
            .arg(ids.first())
            .arg(nameOf(merged.card)));
    return kDone;
}

} // namespace

int main(int argc, char **argv)
{
    takeEndingSignals();
    QCoreApplication app(argc, argv);
    db::setWindowAdvice(false);
    const QStringList args = app.arguments().mid(1);
    if (args.contains(QLatin1String("--help")) || args.contains(QLatin1String("-h"))) {
        printHelp();
        return kDone;
    }
    const QString command = args.value(0);
    const bool exporting = command == QLatin1String("export");
    const bool listing = command == QLatin1String("duplicates"), merging = command == QLatin1String("merge");
    if (!exporting && !listing && !merging && command != QLatin1String("import"))
        return usageError(command.isEmpty()
                              ? QStringLiteral("не указана команда: export, import, duplicates или merge.")
                              : QStringLiteral("неизвестная команда «%1»: нужна export, import, "
                                               "duplicates или merge.")
                                    .arg(command));
    QString database, user, search, file;
    QList<qint64> ids; // merge
    QString format = QStringLiteral("vcard");
    bool addDuplicates = false;
    for (int i = 1; i < args.size(); ++i) {
        const QString &a = args[i];
        const bool hasValue = i + 1 < args.size();
        const bool takesValue = a == QLatin1String("--database") || a == QLatin1String("--user") ||
                                (exporting && (a == QLatin1String("--search") || a == QLatin1String("--format")));
        if (takesValue && !hasValue)
            return usageError(QStringLiteral("после %1 нужно значение.").arg(a));
        if (a == QLatin1String("--database"))
            database = args[++i];
        else if (a == QLatin1String("--user"))
            user = args[++i];
        else if (a == QLatin1String("--search") && exporting)
            search = args[++i];
        else if (a == QLatin1String("--format") && exporting)
            format = args[++i];
        else if (a == QLatin1String("--skip-duplicates") && !exporting)
            addDuplicates = false;
        else if (a == QLatin1String("--add-duplicates") && !exporting)
            addDuplicates = true;
        else if (a.startsWith(QLatin1String("-")) && a.size() > 1)
            return usageError(QStringLiteral("команда %1 не знает параметра «%2».").arg(command, a));
        else if (merging) {
            bool ok = false;
            const qint64 id = a.toLongLong(&ok);
            if (!ok || id <= 0)
                return usageError(QStringLiteral("«%1» — не номер карточки.").arg(a));
            if (!ids.contains(id))
                ids << id;
        } else if (listing)
            return usageError(QStringLiteral("команде duplicates не нужен «%1».").arg(a));
        else if (!file.isEmpty())
            return usageError(QStringLiteral("указано два файла: «%1» и «%2»; нужен один.").arg(file, a));
        else
            file = a;
    }
    core::CardFormat cardFormat = core::CardFormat::VCard4;
    if (format == QLatin1String("vcard3"))
        cardFormat = core::CardFormat::VCard3;
    else if (format == QLatin1String("csv"))
        cardFormat = core::CardFormat::Csv;
    else if (format != QLatin1String("vcard"))
        return usageError(QStringLiteral("неизвестный формат «%1»: нужен vcard, vcard3 или csv.").arg(format));
    if (merging && ids.size() < 2)
        return usageError(QStringLiteral("для объединения нужны номера хотя бы двух разных карточек."));
    if (file.isEmpty() && !listing && !merging)
        return usageError(exporting ? QStringLiteral("не указан файл, в который выгрузить карточки.")
                                    : QStringLiteral("не указан файл с карточками."));
    if (user.isEmpty())
        return usageError(QStringLiteral("не указан пользователь: --user ЛОГИН (с полным доступом)."));

    const QString folder = QCoreApplication::applicationDirPath();
    if (database.isEmpty()) {
        database = core::chooseDatabase(folder).path;
        if (database.isEmpty()) {
            fail(QStringLiteral(
                     "в папке программы %1 нет ни dbase.fdb, ни path.txt; укажите базу данных: --database ПУТЬ.")
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
    try {
        SharedDb db;
        // Set as the work ends, before the engine lets go of the database: it
        // may never do so when the file was replaced or damaged under it.
        struct EngineDeadline
        {
            ~EngineDeadline() { core::endWithin(core::kEngineEndMs, kFailed); }
        } deadline;
        db.IBDbase.databaseName = database;
        db.IBDbase.open();
        core::LoggedUser who;
        const std::optional<QString> password = terminal::askPassword();
        if (!password) {
            fail(terminal::noPasswordText());
            return kFailed;
        }
        const core::LoginResult login = core::Logins(db.access).check(user, *password, &who);
        if (login != core::LoginResult::Ok || who.level != QLatin1String("full")) {
            fail(login == core::LoginResult::UnknownLogin
                     ? QStringLiteral("пользователя %1 нет в базе данных.").arg(user)
                 : login == core::LoginResult::WrongPassword
                     ? QStringLiteral("неверный пароль пользователя %1 (задайте его "
                                      "в переменной ZENTRAX_PASSWORD).")
                           .arg(user)
                     : QStringLiteral("у пользователя %1 нет полного доступа: "
                                      "работать с карточками так может только он.")
                           .arg(user));
            return kFailed;
        }
        const QString photoFolder = folder + QStringLiteral("/files");
        if (listing)
            return printDuplicates(db);
        if (merging)
            return mergeCards(db, photoFolder, ids, who.id);
        if (exporting) {
            ListFilter filter;
            filter.name = search;
            // Without a search: every card, also those the list cannot show.
            const QList<qint64> ids =
                search.isEmpty() ? core::allIds(db.access) : core::listIds(db.access, filter, ListSort::Name);
            if (const QString problem = targetProblem(file); !problem.isEmpty()) {
                fail(notWritten(file, problem));
                return kFailed;
            }
            const core::ExportReport report = stoppable([&] {
                return core::exportCards(db.access, photoFolder, ids, cardFormat, file, terminalProgress("Экспорт"));
            });
            // A reason given by the file classes (the system's words, in
            // English) is told again from what the tool finds.
            static const QRegularExpression latin(QStringLiteral("[A-Za-z]{2,}[ ,.:]+[A-Za-z]{2,}"));
            if (!report.error.isEmpty() &&
                latin.match(QString(report.error).remove(QDir::toNativeSeparators(file))).hasMatch()) {
                fail(notWritten(file, writeProblem(file)));
                return kFailed;
            }
            say(report.text(QFileInfo(file).absoluteFilePath()));
            if (report.cancelled && g_stopSignal != 0) {
                fail(QStringLiteral("экспорт остановлен (%1), файл %2 не записан.").arg(stopSignalName(), file));
                return kStopped;
            }
            return report.complete() ? kDone : kFailed;
        }
        core::ScratchFolder scratch;
        scratch.make(folder + QStringLiteral("/temp"), core::scratchFolderName());
        core::CardImport import(db.access, photoFolder, scratch.path());
        if (!stoppable([&] { return import.read(file, terminalProgress("Проверка")); })) {
            scratch.remove();
            if (g_stopSignal != 0) {
                fail(QStringLiteral("проверка файла %1 остановлена (%2): ничего не сохранено.")
                         .arg(file, stopSignalName()));
                return kStopped;
            }
            fail(import.error().isEmpty() ? QStringLiteral("проверка прервана, ничего не сохранено.") : import.error());
            return kFailed;
        }
        say(import.summary(QFileInfo(file).fileName()));
        const core::ImportReport report =
            stoppable([&] { return import.store(addDuplicates, who.id, terminalProgress("Импорт")); });
        scratch.remove();
        say(QString());
        say(report.text());
        if (report.cancelled && g_stopSignal != 0) {
            fail(QStringLiteral("импорт файла %1 остановлен (%2): сохранено карточек: %3, каждая целиком; "
                                "не тронуто: %4.")
                     .arg(file, stopSignalName())
                     .arg(report.stored)
                     .arg(report.notReached));
            return kStopped;
        }
        if (!report.complete())
            return kFailed;
        return report.skipped > 0 ? kSkipped : kDone;
    } catch (const db::DbError &e) {
        fail(QStringLiteral("база данных %1: %2").arg(database, e.text()));
        return kFailed;
    }
}
