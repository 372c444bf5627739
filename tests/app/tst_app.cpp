// Start-up, settings, finding the database, login and exit.

#include "app/filedialog.h"
#include "program/windowset.h"
#include "app/icons.h"
#include "app/loginwindow.h"
#include "app/messages.h"
#include "app/paths.h"
#include "app/settings.h"
#include "app/session.h"
#include "card/cardwindow.h"
#include "db/shared.h"
#include "core/listmodel.h"
#include "register/mainwindow.h"
#include "uitest.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;
using uitest::find;
using uitest::Program;

namespace {

QString readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QStringLiteral("<missing>");
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(content);
}

QStringList texts(const QList<msg::Shown> &shown)
{
    QStringList t;
    for (const auto &s : shown)
        t << s.text;
    return t;
}

// The login window's controls, found by their names.
struct LoginControls
{
    explicit LoginControls(const QObject *lf)
        : PBox(find<QComboBox>(lf, QStringLiteral("PBox"))), ed_pass(find<QLineEdit>(lf, QStringLiteral("ed_pass"))),
          CheckPass(find<QCheckBox>(lf, QStringLiteral("CheckPass"))),
          bt_login(find<QPushButton>(lf, QStringLiteral("bt_login")))
    {
    }
    QComboBox *PBox;
    QLineEdit *ed_pass;
    QCheckBox *CheckPass;
    QPushButton *bt_login;
};

// The main window's status bar panel `i`.
QLabel *statusPanel(TMF *mf, int i)
{
    return find<QLabel>(mf, QStringLiteral("sBar%1").arg(i));
}

// Answers the login window with `login` / `password` (or cancels it).
std::function<void(QWidget *)> answerLogin(const QString &login, const QString &password, bool remember = false,
                                           bool cancel = false)
{
    return [=](QWidget *w) {
        auto *lf = qobject_cast<TLF *>(w);
        if (!lf)
            return;
        const LoginControls ui(lf);
        if (cancel) {
            QTest::keyClick(ui.PBox, Qt::Key_Escape);
            return;
        }
        ui.PBox->setEditText(login);
        ui.ed_pass->setText(password);
        ui.CheckPass->setChecked(remember);
        ui.bt_login->click();
    };
}

} // namespace

class TestApp : public QObject
{
    Q_OBJECT

private slots:
    void settingsFile()
    {
        Program p;
        SessionUserT SessionUser;
        QVERIFY(!QFile::exists(p.iniPath));
        LoadSettings(SessionUser);
        // First start: the file is made with empty values, readable by its owner only.
        QVERIFY(QFile::exists(p.iniPath));
        QSettings ini(p.iniPath, QSettings::IniFormat);
        QCOMPARE(ini.value("main/user").toString(), QString());
        QCOMPARE(ini.value("main/pass").toString(), QString());
        QVERIFY(readFile(p.iniPath).contains(QStringLiteral("[main]")));
        QCOMPARE(QFile::permissions(p.iniPath) & (QFileDevice::ReadGroup | QFileDevice::ReadOther), 0);
        QCOMPARE(SessionUser.login, QStringLiteral("-1"));
        QCOMPARE(SessionUser.password, QString());

        SessionUser.login = QStringLiteral("Петров");
        SessionUser.password = QStringLiteral("p@ss 'x'");
        SaveSettings(SessionUser);
        QCOMPARE(QFile::permissions(p.iniPath) & (QFileDevice::ReadGroup | QFileDevice::ReadOther), 0);
        SessionUser = SessionUserT();
        LoadSettings(SessionUser);
        QCOMPARE(SessionUser.login, QStringLiteral("Петров"));
        QCOMPARE(SessionUser.password, QStringLiteral("p@ss 'x'"));

        // Written by hand: read as it stands, a comma is no list; written back user first.
        writeFile(p.iniPath, "[main]\r\nuser=admin\r\npass=p,q\r\n");
        LoadSettings(SessionUser);
        QCOMPARE(SessionUser.login, QStringLiteral("admin"));
        QCOMPARE(SessionUser.password, QStringLiteral("p,q"));
        SaveSettings(SessionUser);
        QCOMPARE(readFile(p.iniPath), QStringLiteral("[main]\nuser=admin\npass=p,q\n"));
        // Missing keys read as empty text.
        writeFile(p.iniPath, "[main]\n");
        LoadSettings(SessionUser);
        QCOMPARE(SessionUser.login, QString());
        QCOMPARE(SessionUser.password, QString());

        // Without a file SaveSettings writes nothing.
        QFile::remove(p.iniPath);
        SaveSettings(SessionUser);
        QVERIFY(!QFile::exists(p.iniPath));
        QCOMPARE(texts(msg::takeShown()), QStringList());

        // A file that cannot be written: the user is told once, the program goes on.
        QVERIFY(QDir().mkpath(p.iniPath)); // a folder where the file should be
        SaveSettings(SessionUser);
        writeFile(p.root.filePath(u"blocked"_s), "x");
        qputenv("APPDATA", p.root.filePath(u"blocked/sub"_s).toLocal8Bit()); // no folder can be made there
        LoadSettings(SessionUser);
        QCOMPARE(SessionUser.login, QStringLiteral("-1"));
        const QStringList told = texts(msg::takeShown());
        QCOMPARE(told.size(), 2);
        for (const QString &t : told)
            QVERIFY2(t.startsWith(QStringLiteral("Не удалось сохранить настройки программы в файле")), qPrintable(t));
        QVERIFY(told[0].contains(QDir::toNativeSeparators(p.iniPath)));

        // APPDATA unset: the user's configuration folder.
        const QByteArray saved = qgetenv("APPDATA");
        qunsetenv("APPDATA");
        qputenv("XDG_CONFIG_HOME", p.root.filePath(u"xdg"_s).toLocal8Bit());
        QCOMPARE(paths::settingsFile(), p.root.filePath(u"xdg"_s) + QStringLiteral("/zentrax.ini"));
        qputenv("APPDATA", saved);
    }

    // A lock folder without room (a full /tmp) would crash the database
    // engine at the connection: the program says so and stays, unconnected.
    void fullLockFolderAtStart()
    {
        Program p;
        TMF *mf = p.createWindows();
        QTemporaryDir root;
        const QString folder = root.filePath(QStringLiteral("lock"));
        QDir().mkpath(folder);
        if (QProcess::execute(QStringLiteral("mount"),
                              {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                               QStringLiteral("size=1m"), QStringLiteral("tmpfs"), folder}) != 0)
            QSKIP("needs root to mount a small file system");
        QFile fill(folder + QStringLiteral("/fill"));
        fill.open(QIODevice::WriteOnly);
        fill.write(QByteArray(1000 * 1024, 'x'));
        fill.close();
        const QByteArray saved = qgetenv("FIREBIRD_LOCK");
        qputenv("FIREBIRD_LOCK", QFile::encodeName(folder));
        const bool opened = mf->OpenDatabase();
        qputenv("FIREBIRD_LOCK", saved);
        QProcess::execute(QStringLiteral("umount"), {folder});
        QVERIFY(!opened);
        QVERIFY(!mf->db.IBDbase.connected());
        const QStringList shown = texts(msg::takeShown());
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown[0].startsWith(QStringLiteral("Не удалось подключиться к базе данных")) &&
                     shown[0].contains(QStringLiteral("не осталось места")),
                 qPrintable(shown[0]));
        QVERIFY(!mf->ended());
    }

    void findingTheDatabase()
    {
        { // Beside the program: opened, photo folder made.
            Program p;
            TMF *mf = p.createWindows();
            QVERIFY(mf->OpenDatabase());
            QVERIFY(mf->db.IBDbase.connected());
            QVERIFY(!mf->db.IBTrans.active() && !mf->db.IBRead.active()); // nothing held open
            QCOMPARE(p.session->PhotoFolder, p.folder + QStringLiteral("/files"));
            QVERIFY(QFileInfo(p.session->PhotoFolder).isDir());
            // Copies of the program's users store photos there (the group
            // "firebird" when there is one); other accounts have no way in,
            // and no user renames another's photo folder (sticky).
#ifdef Q_OS_UNIX
            struct stat st;
            QVERIFY(::stat(QFile::encodeName(p.session->PhotoFolder).constData(), &st) == 0);
            QCOMPARE(st.st_mode & 07777, mode_t(03770));
            if (const struct group *g = ::getgrnam("firebird"))
                QCOMPARE(st.st_gid, g->gr_gid);
#endif
            QVERIFY(msg::shown().isEmpty());
            QVERIFY(!mf->ended());
        }
        { // path.txt with several lines: only the first counts.
            Program p;
            const QString other = testdb::freshDatabase(p.root.path(), QStringLiteral("elsewhere.fdb"));
            QFile::remove(p.dbPath);
            writeFile(p.folder + u"/path.txt"_s, other.toLocal8Bit() + "\n/nonexistent/second.fdb\n");
            TMF *mf = p.createWindows();
            QVERIFY(mf->OpenDatabase());
            QCOMPARE(mf->db.IBDbase.databaseName, other);
        }
        { // Old-style CR line ends: still only the first line.
            Program p;
            const QString other = testdb::freshDatabase(p.root.path(), QStringLiteral("cr.fdb"));
            QFile::remove(p.dbPath);
            writeFile(p.folder + u"/path.txt"_s, other.toLocal8Bit() + "\r/second/line.fdb\r");
            TMF *mf = p.createWindows();
            QVERIFY(mf->OpenDatabase());
            QCOMPARE(mf->db.IBDbase.databaseName, other);
        }
        { // A folder whose path gives a doubled separator always reads path.txt.
            Program p;
            const QString other = testdb::freshDatabase(p.root.path(), QStringLiteral("viapath.fdb"));
            writeFile(p.folder + u"/path.txt"_s, other.toLocal8Bit() + "\r\n");
            p.folder += QStringLiteral("/");
            TMF *mf = p.createWindows();
            QVERIFY(mf->OpenDatabase());
            QCOMPARE(mf->db.IBDbase.databaseName, other);
        }
        { // No database and no path.txt: both messages, the program ends.
            Program p;
            QFile::remove(p.dbPath);
            TMF *mf = p.createWindows();
            QVERIFY(!mf->OpenDatabase());
            QCOMPARE(texts(msg::shown()),
                     (QStringList{QStringLiteral("Файл пути к базе данных не найден\nСоздайте в папке программы файл "
                                                 "path.txt\nи запишите туда путь к б.д."),
                                  QStringLiteral("Файл базы данных не найден\nпрограмма будет закрыта")}));
            QVERIFY(mf->ended());
            QVERIFY(!QFileInfo::exists(p.folder + u"/files"_s));
        }
        { // path.txt naming no file (trailing blanks count): the second message only.
            Program p;
            QFile::remove(p.dbPath);
            writeFile(p.folder + u"/path.txt"_s, (p.root.path() + u"/program/dbase.fdb "_s).toLocal8Bit());
            TMF *mf = p.createWindows();
            QVERIFY(!mf->OpenDatabase());
            QCOMPARE(texts(msg::shown()),
                     QStringList{QStringLiteral("Файл базы данных не найден\nпрограмма будет закрыта")});
            QVERIFY(mf->ended());
        }
        { // A file that is no database: the library's error, the window stays.
            Program p;
            writeFile(p.dbPath, "not a database");
            TMF *mf = p.createWindows();
            QVERIFY(!mf->OpenDatabase());
            QCOMPARE(msg::shown().size(), 1);
            QCOMPARE(msg::shown().first().caption, QStringLiteral("Ошибка"));
            QVERIFY(msg::shown().first().text.startsWith(QStringLiteral("Не удалось подключиться к базе данных\n")));
            QVERIFY(!mf->ended());
        }
        { // A server that cannot be reached: told as a failed connection, not as one lost.
            Program p;
            QFile::remove(p.dbPath);
            writeFile(p.folder + u"/path.txt"_s, "127.0.0.1/1:/srv/zentrax/dbase.fdb\n");
            TMF *mf = p.createWindows();
            QVERIFY(!mf->OpenDatabase());
            QCOMPARE(msg::shown().size(), 1);
            const QString text = msg::shown().first().text;
            QVERIFY2(text.startsWith(QStringLiteral("Не удалось подключиться к базе данных\n127.0.0.1/1:/srv/")),
                     qPrintable(text));
            QVERIFY2(!text.contains(QStringLiteral("потеряно")), qPrintable(text));
            QVERIFY2(text.contains(QStringLiteral("Сервер базы данных недоступен по сети")), qPrintable(text));
            QVERIFY(!mf->ended());
        }
        QVERIFY(paths::isServerPath(QStringLiteral("dbhost:/srv/zentrax/dbase.fdb")));
        QVERIFY(paths::isServerPath(QStringLiteral("10.0.0.5/3051:C:\\base\\dbase.fdb")));
        QVERIFY(!paths::isServerPath(QStringLiteral("C:\\base\\dbase.fdb")));
        QVERIFY(!paths::isServerPath(QStringLiteral("/srv/zentrax/dbase.fdb")));
    }

    // A database made by an older version is upgraded only when an
    // administrator agrees at his login; another user is never asked, and
    // the program works with the database as it is.
    void upgradeIsTheAdministratorsChoice()
    {
        // The log's table goes in a connection of its own: the guard trigger,
        // once run, holds it in use for the connection that dropped it.
        const QStringList older = {QStringLiteral("DROP TRIGGER base_changed_guard;\nDROP TRIGGER base_changed"),
                                   QStringLiteral("DROP TABLE base_changes;\nDROP INDEX pers_login_unique;\n"
                                                  "DROP TABLE zentrax_upgrades;\nDROP TABLE zentrax_distinct")};
        const QString objects = QStringLiteral(
            "SELECT COUNT(*) FROM RDB$RELATIONS WHERE RDB$RELATION_NAME IN ('BASE_CHANGES', 'ZENTRAX_UPGRADES')");
        auto startAs = [&](Program &p, const QString &login) -> TMF * {
            p.addUser(QStringLiteral("Админ"), QStringLiteral("admin"), QStringLiteral("a"), QStringLiteral("full"));
            p.addUser(QStringLiteral("Чтец"), QStringLiteral("reader"), QStringLiteral("r"), QStringLiteral("full"));
            for (const QString &statements : older)
                p.exec(statements);
            TMF *mf = p.createWindows();
            msg::takeShown();
            uitest::whileModal([&] { mf->FormActivate(); }, answerLogin(login, login.left(1)));
            return p.session->SessionUser.login == login ? mf : nullptr;
        };
        auto asked = [] {
            QStringList t;
            for (const msg::Shown &s : msg::takeShown())
                t << s.caption + QLatin1Char(':') +
                         QString(s.text).replace(QLatin1Char('\r'), QLatin1Char('\n')).section(QLatin1Char('\n'), 0, 0);
            return t;
        };
        {
            Program p;
            QVERIFY(startAs(p, QStringLiteral("reader")));
            QCOMPARE(asked(), QStringList());
            QCOMPARE(testdb::Peek(p.dbPath).value(objects), QStringLiteral("0"));
        }
        Program p;
        msg::script({msg::Answer::No});
        TMF *mf = startAs(p, QStringLiteral("admin"));
        QVERIFY(mf);
        const QString question = QStringLiteral("Обновление базы данных:База данных создана более ранней версией "
                                                "программы. Обновление добавит в неё:");
        QCOMPARE(asked(), QStringList{question});
        QCOMPARE(testdb::Peek(p.dbPath).value(objects), QStringLiteral("0"));
        QCOMPARE(mf->model()->cardCount(), 0); // the list works all the same
        // Agreed later: made, recorded and told; asked no more.
        msg::script({msg::Answer::Yes});
        mf->offerUpgrade();
        QCOMPARE(asked(), (QStringList{question, QStringLiteral("Обновление базы данных:База данных обновлена.")}));
        testdb::Peek peek(p.dbPath);
        QCOMPARE(peek.value(objects), QStringLiteral("2"));
        QCOMPARE(
            peek.value(QStringLiteral("SELECT LIST(step, ',') FROM (SELECT step FROM zentrax_upgrades ORDER BY 1)")),
            QStringLiteral("change_events,change_log,change_log_guard,change_log_index,distinct_cards,login_unique"));
        mf->offerUpgrade();
        QCOMPARE(asked(), QStringList());
    }

    void startUpAndExit()
    {
        Program p;
        p.addUser(QStringLiteral("Иванов Иван Иванович"), QStringLiteral("ivanov"), QStringLiteral("secret"),
                  QStringLiteral("read"));
        p.addCard({{u"fam"_s, u"Сидоров"_s},
                   {u"post"_s, u"Инженер"_s},
                   {u"bdate"_s, QDate::currentDate().toString(u"15.MM.1980"_s)},
                   {u"wtel"_s, u""_s},
                   {u"wmail"_s, u""_s},
                   {u"work"_s, u""_s}});
        p.exec(QStringLiteral("INSERT INTO organization (org) VALUES ('ООО Ромашка');\n"
                              "INSERT INTO organization (org) VALUES ('')"));
        TMF *mf = p.createWindows();
        QVERIFY(p.session->FirstActivation);
        QCOMPARE(p.session->SessionUser.id, -1);

        const QStringList shown = uitest::whileModal([&] { mf->FormActivate(); },
                                                     answerLogin(QStringLiteral("ivanov"), QStringLiteral("secret")));
        QCOMPARE(shown, QStringList{QStringLiteral("TLF")});
        QVERIFY(!mf->ended());
        QCOMPARE(p.session->SessionUser.id, 1);
        QCOMPARE(p.session->SessionUser.fullName, QStringLiteral("Иванов Иван Иванович"));
        QCOMPARE(statusPanel(mf, 3)->text(), QStringLiteral("  Иванов Иван Иванович"));
        QCOMPARE(statusPanel(mf, 4)->text(), QStringLiteral("  Доступ: чтение"));
        QCOMPARE(statusPanel(mf, 0)->text(), QStringLiteral(" Enter - Просмотр"));
        QVERIFY(!find<QAction>(mf, QStringLiteral("N2"))->isVisible());
        QCOMPARE(uitest::listColumn(mf, 1), QStringList{QStringLiteral("Сидоров  ")});
        QCOMPARE(find<QComboBox>(mf, QStringLiteral("MonthBox"))->currentIndex(), QDate::currentDate().month() - 1);
        QCOMPARE(find<QLabel>(mf, QStringLiteral("lb_bdate"))->text(), QStringLiteral("Дни рождения - 1"));
        // The card's organization list is filled, empty values left out.
        QCOMPARE(find<QComboBox>(uitest::forms(mf).RF, QStringLiteral("ed_work"))->count(), 1);

        // The start-up runs once: a second call asks for no login and leaves
        // the list alone; the list's own refill shows the new card.
        p.addCard({{u"fam"_s, u"Новый"_s},
                   {u"post"_s, u"x"_s},
                   {u"work"_s, u"w"_s},
                   {u"wtel"_s, u"1"_s},
                   {u"wmail"_s, u"m"_s}});
        mf->db.IBTrans.commit(); // others' changes show after the program's own next commit
        QCOMPARE(uitest::whileModal([&] { mf->FormActivate(); }), QStringList());
        QCOMPARE(mf->model()->cardCount(), 1);
        mf->FillList();
        QCOMPARE(mf->model()->cardCount(), 2);

        // Exit writes the settings (no password kept) and removes this copy's own
        // scratch folder under temp/ with all in it, but not other copies' folders.
        const QString own = p.session->tempFolder();
        // A folder of this machine's run that ended without its exit goes too; a
        // running copy's stays. Folders with a lock file go exactly when their
        // lock is free, whatever their name says (another machine may have the
        // same name); those of older versions, without one, by their name.
        const QString prefix = paths::tempFolderName().section(QLatin1Char('-'), 0, -2);
        const QString dead = p.folder + u"/temp/"_s + prefix + u"-999999999"_s;
        const QString alive = p.folder + u"/temp/"_s + prefix + u"-1"_s;
        const QString ended = p.folder + u"/temp/"_s + paths::tempFolderName() + u"-7"_s;
        const QString locked = p.folder + u"/temp/"_s + prefix + u"-999999998"_s;
        for (const QString &f : {dead, alive, ended + u"/sub"_s, locked})
            QDir().mkpath(f);
        writeFile(dead + u"/old.jpg"_s, "x");
        writeFile(alive + u"/busy.jpg"_s, "x");
        writeFile(ended + u"/.lock"_s, "");
        writeFile(ended + u"/sub/print.xltx"_s, "x");
        writeFile(locked + u"/.lock"_s, "");
        writeFile(locked + u"/busy.jpg"_s, "x");
        writeFile(p.root.filePath(u"outside.jpg"_s), "x");
#ifdef Q_OS_UNIX
        QVERIFY(QFile::link(p.root.filePath(u"outside.jpg"_s), ended + u"/sub/link.jpg"_s));
        // The copy that made it runs: it holds the lock (here through a second open file).
        const int lock = ::open(QFile::encodeName(locked + u"/.lock"_s).constData(), O_RDWR);
        QVERIFY(lock >= 0 && ::flock(lock, LOCK_EX | LOCK_NB) == 0);
#endif
        QVERIFY(own.startsWith(QDir::toNativeSeparators(p.folder + u"/temp/"_s)));
        QDir().mkpath(own + u"/sub"_s);
        QDir().mkpath(p.folder + u"/temp/other-1"_s);
        writeFile(own + u"/a.jpg"_s, "x");
        writeFile(own + u"/.hidden"_s, "x");
        writeFile(own + u"/sub/b.jpg"_s, "x");
        writeFile(p.folder + u"/temp/other-1/c.jpg"_s, "x");
        writeFile(p.folder + u"/temp/loose.jpg"_s, "x");
        mf->tb_exitClick();
        QVERIFY(mf->ended());
        QSettings ini(p.iniPath, QSettings::IniFormat);
        QCOMPARE(ini.value("main/user").toString(), QStringLiteral("ivanov"));
        QCOMPARE(ini.value("main/pass").toString(), QString());
        QVERIFY(!QFileInfo::exists(own));
        QVERIFY(QFile::exists(p.folder + u"/temp/other-1/c.jpg"_s));
        QVERIFY(!QFileInfo::exists(p.folder + u"/temp/loose.jpg"_s));
        QVERIFY(!QFileInfo::exists(dead));
        QVERIFY(QFile::exists(alive + u"/busy.jpg"_s));
        QVERIFY(!QFileInfo::exists(ended));
        QVERIFY(QFile::exists(p.root.filePath(u"outside.jpg"_s)));
#ifdef Q_OS_UNIX
        QVERIFY(QFile::exists(locked + u"/busy.jpg"_s));
        ::close(lock);
#endif
#ifdef Q_OS_UNIX
        // A temp folder that links elsewhere: the files there stay.
        QVERIFY(QDir().mkpath(p.root.filePath(u"elsewhere"_s)));
        writeFile(p.root.filePath(u"elsewhere/keep.jpg"_s), "x");
        QDir().mkpath(p.root.filePath(u"elsewhere/"_s) + QFileInfo(own).fileName());
        writeFile(p.root.filePath(u"elsewhere/"_s) + QFileInfo(own).fileName() + u"/mine.jpg"_s, "x");
        QVERIFY(QDir(p.folder + u"/temp"_s).removeRecursively());
        QVERIFY(QFile::link(p.root.filePath(u"elsewhere"_s), p.folder + u"/temp"_s));
        mf->ClearTemp();
        QVERIFY(QFile::exists(p.root.filePath(u"elsewhere/keep.jpg"_s)));
        QVERIFY(QFile::exists(p.root.filePath(u"elsewhere/"_s) + QFileInfo(own).fileName() + u"/mine.jpg"_s));
#endif
    }

    void cancelledLoginAndCloseBoxWriteNothing()
    {
        Program p;
        writeFile(p.iniPath, "[main]\nuser=admin\npass=old\n");
        p.addUser(QStringLiteral("Администратор"), QStringLiteral("admin"), QStringLiteral("new"),
                  QStringLiteral("full"));
        {
            TMF *mf = p.createWindows();
            uitest::whileModal([&] { mf->FormActivate(); }, answerLogin({}, {}, false, true));
            QVERIFY(mf->ended());
            QCOMPARE(p.session->SessionUser.id, -1);
            QCOMPARE(mf->model()->cardCount(), 0);
            QCOMPARE(readFile(p.iniPath), QStringLiteral("[main]\nuser=admin\npass=old\n"));
            destroyForms(p.forms);
            p.mf = nullptr;
        }
        TMF *mf = p.createWindows();
        // The remembered login and password are offered; logging in with another password works.
        uitest::whileModal([&] { mf->FormActivate(); },
                           [](QWidget *w) {
                               auto *lf = qobject_cast<TLF *>(w);
                               QVERIFY(lf);
                               const LoginControls ui(lf);
                               QCOMPARE(ui.PBox->currentText(), QStringLiteral("admin"));
                               QCOMPARE(ui.ed_pass->text(), QStringLiteral("old"));
                               QVERIFY(ui.CheckPass->isChecked());
                               ui.ed_pass->setText(QStringLiteral("new"));
                               ui.bt_login->click();
                           });
        QCOMPARE(p.session->SessionUser.password, QStringLiteral("new"));
        mf->show();
        mf->close(); // the close box
        QVERIFY(mf->ended());
        QCOMPARE(readFile(p.iniPath), QStringLiteral("[main]\nuser=admin\npass=old\n"));
    }

    void login()
    {
        Program p;
        p.addUser(QStringLiteral("Админ"), QStringLiteral("admin"), QStringLiteral("Secret"), QStringLiteral("read"));
        p.exec(QStringLiteral("DROP INDEX pers_login_unique")); // a database of older days lets two share a login
        p.addUser(QStringLiteral("Первый"), QStringLiteral("shared"), QStringLiteral("one"), QStringLiteral("full"));
        p.addUser(QStringLiteral("Второй"), QStringLiteral("shared"), QStringLiteral("two"), QStringLiteral("read"));
        p.addUser(QStringLiteral("Пустой"), QStringLiteral("empty"), QStringLiteral(""), QStringLiteral("full"));
        p.addUser(QStringLiteral("Нулевой"), QStringLiteral("null"), QString(), QStringLiteral("Full"));
        p.addUser(QStringLiteral("Большой"), QStringLiteral("Admin"), QStringLiteral("x"), QStringLiteral("full"));
        TMF *mf = p.createWindows();
        QVERIFY(mf->OpenDatabase());
        TLF *lf = uitest::forms(mf).LF;
        const LoginControls ui(lf);
        QAction *N2 = find<QAction>(mf, QStringLiteral("N2"));
        QAction *N19 = find<QAction>(mf, QStringLiteral("N19"));
        p.session->SessionUser.login = QStringLiteral("gone"); // remembered, no longer exists
        p.session->SessionUser.password = QStringLiteral("pw");
        lf->FormActivate();
        QCOMPARE(ui.PBox->count(), 6);
        QCOMPARE(ui.PBox->itemText(0), QStringLiteral("admin"));
        QCOMPARE(ui.PBox->currentText(), QString()); // not preselected
        QCOMPARE(ui.ed_pass->text(), QStringLiteral("pw"));
        QVERIFY(ui.CheckPass->isChecked());

        auto attempt = [&](const QString &login, const QString &pass) -> QStringList {
            msg::takeShown();
            p.session->SessionUser.id = -1;
            ui.PBox->setEditText(login);
            ui.ed_pass->setText(pass);
            ui.CheckPass->setChecked(false);
            ui.bt_login->click(); // errors go to the program's handler, as for a user
            return texts(msg::takeShown());
        };
        const QStringList unknown{QStringLiteral("Пользователь с данным логином не зарегистрирован!")};
        QCOMPARE(attempt(QStringLiteral("nobody"), QStringLiteral("x")), unknown);
        QCOMPARE(attempt(QStringLiteral("ADMIN"), QStringLiteral("Secret")), unknown); // logins compare exactly
        QCOMPARE(attempt(QStringLiteral("admin"), QStringLiteral("secret")),
                 QStringList{QStringLiteral("Неверный пароль")});
        QCOMPARE(p.session->SessionUser.id, -1);
        // Typed SQL is only ever a value.
        for (const QString &bad : {QStringLiteral("'"), QStringLiteral("a\\b"),
                                   QStringLiteral("'; delete from base; --"), QStringLiteral("' or '1'='1")})
            QCOMPARE(attempt(bad, QStringLiteral("x")), unknown);
        QVERIFY(attempt(QStringLiteral("日本"), QStringLiteral("x")).first().contains(QStringLiteral("Windows-1251")));

        // Several users with one login: the last row decides.
        QCOMPARE(attempt(QStringLiteral("shared"), QStringLiteral("one")),
                 QStringList{QStringLiteral("Неверный пароль")});
        QVERIFY(attempt(QStringLiteral("shared"), QStringLiteral("two")).isEmpty());
        QCOMPARE(p.session->SessionUser.fullName, QStringLiteral("Второй"));
        QCOMPARE(p.session->SessionUser.level, QStringLiteral("read"));
        QVERIFY(!N2->isVisible());

        // Empty password box matches empty and NULL.
        QVERIFY(attempt(QStringLiteral("empty"), QString()).isEmpty());
        QCOMPARE(p.session->SessionUser.fullName, QStringLiteral("Пустой"));
        QVERIFY(attempt(QStringLiteral("null"), QString()).isEmpty());
        QCOMPARE(p.session->SessionUser.fullName, QStringLiteral("Нулевой"));
        QVERIFY(!p.session->SessionUser.fullRights()); // "Full" is not "full"

        // The users menu: only for exactly "admin", whatever its level.
        mf->show();
        QVERIFY(attempt(QStringLiteral("Admin"), QStringLiteral("x")).isEmpty());
        QVERIFY(!N2->isVisible());
        QVERIFY(!N19->isVisible());
        QVERIFY(attempt(QStringLiteral("admin"), QStringLiteral("Secret")).isEmpty());
        QVERIFY(N2->isVisible());
        QVERIFY(N19->isVisible());
        QCOMPARE(p.session->SessionUser.login, QStringLiteral("admin"));
        QCOMPARE(p.session->SessionUser.id, 1);

        // Remembered password kept only when asked.
        p.session->SessionUser.id = -1;
        ui.PBox->setEditText(QStringLiteral("empty"));
        ui.ed_pass->clear();
        ui.CheckPass->setChecked(true);
        lf->bt_loginClick();
        QCOMPARE(p.session->SessionUser.password, QString());
        ui.PBox->setEditText(QStringLiteral("shared"));
        ui.ed_pass->setText(QStringLiteral("two"));
        lf->bt_loginClick();
        QCOMPARE(p.session->SessionUser.password, QStringLiteral("two"));
    }

    void loginKeys()
    {
        Program p;
        p.addUser(QStringLiteral("Админ"), QStringLiteral("admin"), QStringLiteral("pw"), QStringLiteral("full"));
        TMF *mf = p.createWindows();
        QVERIFY(mf->OpenDatabase());
        p.session->SessionUser.login = QStringLiteral("ADMIN"); // found without regard to case
        p.session->SessionUser.password.clear();
        const auto shown =
            uitest::whileModal([&] { uitest::forms(mf).LF->showModal(); },
                               [](QWidget *w) {
                                   auto *lf = qobject_cast<TLF *>(w);
                                   QVERIFY(lf);
                                   const LoginControls ui(lf);
                                   QCOMPARE(ui.PBox->currentText(), QStringLiteral("admin"));
                                   QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(ui.ed_pass));
                                   QTest::keyClicks(ui.ed_pass, QStringLiteral("pw"));
                                   QTest::keyClick(ui.ed_pass, Qt::Key_Return);
                                   QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(ui.bt_login));
                                   QTest::keyClick(ui.bt_login, Qt::Key_Return);
                               });
        QCOMPARE(shown, QStringList{QStringLiteral("TLF")});
        QCOMPARE(p.session->SessionUser.fullName, QStringLiteral("Админ"));
        QVERIFY(!uitest::forms(mf).LF->isVisible());

        // What is typed is the login: no completion replaces it.
        p.addUser(QStringLiteral("Вера"), QStringLiteral("vera"), QStringLiteral("v"), QStringLiteral("read"));
        mf->db.IBTrans.commit();
        TLF *lf = uitest::forms(mf).LF;
        lf->FormActivate();
        auto *box = uitest::find<QComboBox>(lf, QStringLiteral("PBox"));
        QCOMPARE(box->count(), 2);
        box->setEditText(QString());
        QTest::keyClicks(box->lineEdit(), QStringLiteral("ver"));
        QTest::keyClick(box->lineEdit(), Qt::Key_Return);
        QCOMPARE(box->currentText(), QStringLiteral("ver"));
        box->setEditText(QStringLiteral("ADMIN"));
        emit box->lineEdit()->editingFinished(); // the box is left
        QCOMPARE(box->currentText(), QStringLiteral("ADMIN"));
        msg::takeShown();
        uitest::find<QLineEdit>(lf, QStringLiteral("ed_pass"))->setText(QStringLiteral("pw"));
        uitest::find<QPushButton>(lf, QStringLiteral("bt_login"))->click();
        QCOMPARE(texts(msg::takeShown()),
                 QStringList{QStringLiteral("Пользователь с данным логином не зарегистрирован!")});
    }

    void adminMenuHiddenAndControlsNamed()
    {
        Program p;
        TMF *mf = p.createWindows();
        // Nobody is logged in yet: no user administration in the menu.
        QVERIFY(!uitest::find<QAction>(mf, QStringLiteral("N2"))->isVisible());
        QVERIFY(!uitest::find<QAction>(mf, QStringLiteral("N19"))->isVisible());
        // Every input control of the main and login windows has a name a screen reader reads.
        for (QWidget *top : {static_cast<QWidget *>(mf), static_cast<QWidget *>(uitest::forms(mf).LF)}) {
            const auto widgets = top->findChildren<QWidget *>();
            for (QWidget *w : widgets) {
                const bool control = qobject_cast<QLineEdit *>(w) || qobject_cast<QComboBox *>(w) ||
                                     qobject_cast<QAbstractButton *>(w) || w->objectName() == QLatin1String("Grid");
                if (!control || w->objectName().isEmpty() || w->objectName().startsWith(QLatin1String("qt_")) ||
                    w->window() != top)
                    continue;
                QVERIFY2(!w->accessibleName().isEmpty(), qPrintable(w->objectName()));
            }
        }
    }

    // An export named "….csv" is a CSV file whatever type the dialog showed, and
    // "….vcf" under the CSV type is a vCard; other names follow the type chosen.
    void exportFormatFollowsTypedExtension()
    {
        using core::CardFormat;
        QCOMPARE(filedlg::cardsTypeFor(0, QStringLiteral("/tmp/Карточки.CSV")), CardFormat::Csv);
        QCOMPARE(filedlg::cardsTypeFor(1, QStringLiteral("/tmp/a.csv")), CardFormat::Csv);
        QCOMPARE(filedlg::cardsTypeFor(2, QStringLiteral("/tmp/a.vcf")), CardFormat::VCard4);
        QCOMPARE(filedlg::cardsTypeFor(1, QStringLiteral("/tmp/a.vcf")), CardFormat::VCard3);
        QCOMPARE(filedlg::cardsTypeFor(2, QStringLiteral("/tmp/a.txt")), CardFormat::Csv);
        QCOMPARE(filedlg::cardsTypeFor(0, QStringLiteral("/tmp/a.txt")), CardFormat::VCard4);
    }

    // Every picture comes from its own SVG file in the resources, drawn sharp
    // at the sizes of scaled screens too, none empty and no two alike.
    void picturesAreDrawnFromTheirFiles()
    {
        QList<QImage> drawn;
        for (int i = int(icons::Id::Program); i <= int(icons::Id::Accept); ++i) {
            const QIcon icon = icons::get(icons::Id(i));
            const QList<QSize> sizes = icon.availableSizes();
            QVERIFY2(sizes.contains(QSize(32, 32)) && sizes.contains(QSize(64, 64)), qPrintable(QString::number(i)));
            const QImage image = icon.pixmap(QSize(64, 64)).toImage();
            int painted = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    painted += qAlpha(image.pixel(x, y)) > 0;
            QVERIFY2(painted > 64 * 64 / 20, qPrintable(QString::number(i)));
            QVERIFY2(!drawn.contains(image), qPrintable(QString::number(i)));
            drawn << image;
        }
    }
};

QTEST_MAIN(TestApp)
#include "tst_app.moc"
