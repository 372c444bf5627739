// The program's own files: the settings file zentrax.ini and the temp folder.

#include "core/safefiles.h"
#include "core/settingsfile.h"
#include "core/tempfolder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <linux/capability.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#endif

using core::LoginSettings;
using namespace Qt::StringLiterals;

namespace {

const QByteArray kAbsent("<no file>");

QByteArray readBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : kAbsent;
}

bool writeBytes(const QString &path, const QByteArray &content)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
}

#ifdef Q_OS_UNIX
mode_t modeOf(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777) : 07777;
}
#endif

#ifdef Q_OS_LINUX
// Root writes into a read-only folder all the same: while this lives, the
// calling thread goes without that power (taken back from its effective set only).
class WithoutDacOverride
{
public:
    WithoutDacOverride()
    {
        m_saved = ::syscall(SYS_capget, &m_head, m_caps) == 0;
        __user_cap_data_struct less[2] = {m_caps[0], m_caps[1]};
        less[0].effective &= ~(1u << CAP_DAC_OVERRIDE);
        if (m_saved)
            ::syscall(SYS_capset, &m_head, less);
    }
    ~WithoutDacOverride()
    {
        if (m_saved)
            ::syscall(SYS_capset, &m_head, m_caps);
    }

private:
    __user_cap_header_struct m_head{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_caps[2] = {};
    bool m_saved = false;
};
#endif

} // namespace

class TestFiles : public QObject
{
    Q_OBJECT

private slots:
    void readingSettings_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("pass");
        QTest::newRow("plain") << QByteArray("[main]\nuser=admin\npass=secret\n") << "admin"
                               << "secret";
        QTest::newRow("comma is no list") << QByteArray("[main]\nuser=admin\npass=p,q\n") << "admin"
                                          << "p,q";
        QTest::newRow("nothing unquoted or trimmed") << QByteArray("[main]\nuser= a;b \npass=\"x\"=y, z \n") << " a;b "
                                                     << "\"x\"=y, z ";
        QTest::newRow("CR LF") << QByteArray("[main]\r\nuser=admin\r\npass=p,q\r\n") << "admin"
                               << "p,q";
        QTest::newRow("no final line end") << QByteArray("[main]\nuser=admin\npass=p q") << "admin"
                                           << "p q";
        QTest::newRow("UTF-8") << QByteArray("[main]\nuser=Петров\npass=ёж\n") << "Петров"
                               << "ёж";
        QTest::newRow("byte order mark") << QByteArray("\xEF\xBB\xBF[main]\r\nuser=a\r\n") << "a"
                                         << "";
        QTest::newRow("missing keys") << QByteArray("[main]\n") << ""
                                      << "";
        QTest::newRow("empty file") << QByteArray() << ""
                                    << "";
        QTest::newRow("other sections ignored")
            << QByteArray("user=top\n[print]\nuser=x\npass=y\n[main]\npass=z\n[after]\nuser=w\n") << ""
            << "z";
        QTest::newRow("first of repeated keys") << QByteArray("[main]\nuser=a\nuser=b\n") << "a"
                                                << "";
    }

    void readingSettings()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, user);
        QFETCH(QString, pass);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("zentrax.ini"));
        QVERIFY(writeBytes(path, file));
        LoginSettings s{QStringLiteral("stale"), QStringLiteral("stale")};
        QVERIFY(core::readLoginSettings(path, &s));
        QCOMPARE(s.user, user);
        QCOMPARE(s.pass, pass);

        // No file: empty values, reported.
        QVERIFY(!core::readLoginSettings(dir.filePath(QStringLiteral("none.ini")), &s));
        QCOMPARE(s.user, QString());
        QCOMPARE(s.pass, QString());
    }

    void writingSettings_data()
    {
        QTest::addColumn<QByteArray>("before"); // kAbsent: no file yet
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("pass");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("new file, empty values") << kAbsent << ""
                                                << "" << QByteArray("[main]\nuser=\npass=\n");
        QTest::newRow("new file, user before pass") << kAbsent << "admin"
                                                    << "secret" << QByteArray("[main]\nuser=admin\npass=secret\n");
        QTest::newRow("new file, values as they are")
            << kAbsent << " a, b;c "
            << "p,q;r=s \"t\" " << QByteArray("[main]\nuser= a, b;c \npass=p,q;r=s \"t\" \n");
        QTest::newRow("new file, UTF-8") << kAbsent << "Петров"
                                         << "ёж" << QByteArray("[main]\nuser=Петров\npass=ёж\n");
        QTest::newRow("line breaks dropped") << kAbsent << "a\nb"
                                             << "c\r\n[x]" << QByteArray("[main]\nuser=ab\npass=c[x]\n");
        QTest::newRow("replaced in place, shorter")
            << QByteArray("; note\n[main]\nuser=a much longer name\nlang=ru\npass=a long password\n") << "u"
            << "p" << QByteArray("; note\n[main]\nuser=u\nlang=ru\npass=p\n");
        QTest::newRow("other sections kept")
            << QByteArray("[print]\nuser=x\npass=y\n[main]\nuser=old\npass=old\n[view]\nwide=1\n") << "u"
            << "p" << QByteArray("[print]\nuser=x\npass=y\n[main]\nuser=u\npass=p\n[view]\nwide=1\n");
        QTest::newRow("keys added after [main]")
            << QByteArray("[main]\nlang=ru\n[view]\nwide=1\n") << "u"
            << "p" << QByteArray("[main]\nuser=u\npass=p\nlang=ru\n[view]\nwide=1\n");
        QTest::newRow("pass added after user") << QByteArray("[main]\nuser=old\nlang=ru\n") << "u"
                                               << "p" << QByteArray("[main]\nuser=u\npass=p\nlang=ru\n");
        QTest::newRow("user added before pass") << QByteArray("[main]\nlang=ru\npass=old\n") << "u"
                                                << "p" << QByteArray("[main]\nuser=u\nlang=ru\npass=p\n");
        QTest::newRow("section added") << QByteArray("[view]\nwide=1") << "u"
                                       << "p" << QByteArray("[view]\nwide=1\n[main]\nuser=u\npass=p\n");
        QTest::newRow("empty file") << QByteArray() << "u"
                                    << "p" << QByteArray("[main]\nuser=u\npass=p\n");
        QTest::newRow("CR LF becomes LF") << QByteArray("[main]\r\nuser=old\r\npass=old\r\n[view]\r\nwide=1\r\n") << "u"
                                          << "p" << QByteArray("[main]\nuser=u\npass=p\n[view]\nwide=1\n");
        QTest::newRow("repeated keys all set") << QByteArray("[main]\nuser=a\nuser=b\npass=c\n") << "u"
                                               << "p" << QByteArray("[main]\nuser=u\nuser=u\npass=p\n");
    }

    void writingSettings()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, user);
        QFETCH(QString, pass);
        QFETCH(QByteArray, after);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("zentrax.ini"));
        if (before != kAbsent)
            QVERIFY(writeBytes(path, before));
        QVERIFY(core::writeLoginSettings(path, {user, pass}));
        QCOMPARE(readBytes(path), after);

        // What was written reads back as it was given.
        LoginSettings s;
        QVERIFY(core::readLoginSettings(path, &s));
        QCOMPARE(s.user, QString(user).remove(QLatin1Char('\r')).remove(QLatin1Char('\n')));
        QCOMPARE(s.pass, QString(pass).remove(QLatin1Char('\r')).remove(QLatin1Char('\n')));
    }

    void settingsFileKeptPrivate()
    {
#ifndef Q_OS_UNIX
        QSKIP("file modes are a Unix matter");
#else
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("zentrax.ini"));

        // A new file is its owner's alone, whatever the umask lets through.
        const mode_t savedMask = ::umask(0);
        const bool made = core::writeLoginSettings(path, {QStringLiteral("u"), QStringLiteral("p")});
        ::umask(savedMask);
        QVERIFY(made);
        QCOMPARE(modeOf(path), mode_t(0600));

        // An existing file that others may read is closed to them, and stays so.
        QVERIFY(writeBytes(path, "[main]\nuser=\npass=\n"));
        QVERIFY(::chmod(QFile::encodeName(path).constData(), 0644) == 0);
#ifdef Q_OS_LINUX
        // The change of mode comes before anything else in the folder; the
        // new text then takes the file's place whole, never written into it.
        const int watch = ::inotify_init1(IN_NONBLOCK);
        QVERIFY(watch >= 0);
        QVERIFY(::inotify_add_watch(watch, QFile::encodeName(dir.path()).constData(),
                                    IN_ATTRIB | IN_MODIFY | IN_CREATE | IN_MOVED_TO) >= 0);
#endif
        QVERIFY(core::writeLoginSettings(path, {QStringLiteral("admin"), QStringLiteral("secret")}));
        QCOMPARE(modeOf(path), mode_t(0600));
        QCOMPARE(readBytes(path), QByteArray("[main]\nuser=admin\npass=secret\n"));
#ifdef Q_OS_LINUX
        QStringList events; // "event name"
        alignas(inotify_event) char buf[4096];
        for (ssize_t n; (n = ::read(watch, buf, sizeof buf)) > 0;)
            for (char *p = buf; p < buf + n; p += sizeof(inotify_event) + reinterpret_cast<inotify_event *>(p)->len) {
                const auto *e = reinterpret_cast<inotify_event *>(p);
                const char *kind = e->mask & IN_ATTRIB   ? "mode"
                                   : e->mask & IN_MODIFY ? "written"
                                   : e->mask & IN_CREATE ? "made"
                                                         : "moved";
                events << QLatin1String(kind) + QLatin1Char(' ') + QString::fromUtf8(e->len ? e->name : "");
            }
        ::close(watch);
        QVERIFY2(events.value(0) == QLatin1String("mode zentrax.ini") &&
                     events.last() == QLatin1String("moved zentrax.ini") &&
                     !events.contains(QLatin1String("written zentrax.ini")),
                 qPrintable(events.join(QLatin1String(", "))));
#endif
#endif
    }

    // A write that cannot be finished leaves the file as it was, and says so.
    void failedWriteKeepsTheFile_data()
    {
        QTest::addColumn<bool>("readOnlyFolder"); // else the disk fills up midway
        QTest::newRow("folder read-only") << true;
        QTest::newRow("disk full midway") << false;
    }

    void failedWriteKeepsTheFile()
    {
#ifndef Q_OS_LINUX
        QSKIP("needs Linux's file size limit and capabilities");
#else
        QFETCH(bool, readOnlyFolder);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("zentrax.ini"));
        const QByteArray old("[main]\nuser=old\npass=old\n");
        QVERIFY(writeBytes(path, old));
        const LoginSettings values{QString(100, QLatin1Char('u')), QStringLiteral("p")};
        bool written = true;
        QString why;
        if (readOnlyFolder) {
            QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0555) == 0);
            {
                const WithoutDacOverride asOwner;
                written = core::writeLoginSettings(path, values, &why);
            }
            ::chmod(QFile::encodeName(dir.path()).constData(), 0700);
        } else {
            // No file may grow past 40 bytes, as if the disk were full.
            rlimit saved;
            QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
            rlimit small = saved;
            small.rlim_cur = 40;
            const auto handler = ::signal(SIGXFSZ, SIG_IGN);
            QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
            written = core::writeLoginSettings(path, values, &why);
            ::setrlimit(RLIMIT_FSIZE, &saved);
            ::signal(SIGXFSZ, handler);
        }
        QVERIFY(!written);
        QVERIFY(!why.isEmpty()); // the system's reason, for the user's message
        QCOMPARE(readBytes(path), old);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("zentrax.ini")});
#endif
    }

    // A file moved below a folder reaches its place only through real
    // folders: one swapped for a link is refused and the link's target
    // stays untouched; across file systems it is copied whole.
    void movingBelowAFolder_data()
    {
        QTest::addColumn<QString>("sourceFolder"); // empty: beside the root
        QTest::addColumn<QString>("target");       // below the root
        QTest::addColumn<bool>("moved");
        QTest::newRow("own folder") << QString() << u"photos/a/p.jpg"_s << true;
        QTest::newRow("the root itself") << QString() << u"photos/p.jpg"_s << true;
        QTest::newRow("a folder that is a link") << QString() << u"photos/link/p.jpg"_s << false;
        QTest::newRow("a link deeper down") << QString() << u"photos/a/deeplink/p.jpg"_s << false;
        QTest::newRow("outside the root") << QString() << u"outside/p.jpg"_s << false;
        if (QFileInfo(u"/dev/shm"_s).isWritable())
            QTest::newRow("from another file system") << u"/dev/shm"_s << u"photos/a/p.jpg"_s << true;
    }
    void movingBelowAFolder()
    {
#ifndef Q_OS_UNIX
        QSKIP("needs symbolic links");
#else
        QFETCH(QString, sourceFolder);
        QFETCH(QString, target);
        QFETCH(bool, moved);
        QTemporaryDir root;
        QDir r(root.path());
        QVERIFY(r.mkpath(u"photos/a"_s) && r.mkpath(u"outside"_s));
        QVERIFY(QFile::link(r.filePath(u"outside"_s), r.filePath(u"photos/link"_s)));
        QVERIFY(QFile::link(r.filePath(u"outside"_s), r.filePath(u"photos/a/deeplink"_s)));
        QTemporaryDir elsewhere(sourceFolder.isEmpty() ? QDir::tempPath() + u"/src-XXXXXX"_s
                                                       : sourceFolder + u"/src-XXXXXX"_s);
        const QString from = QDir(elsewhere.path()).filePath(u"staged.jpg"_s);
        QVERIFY(writeBytes(from, "picture"));
        const QString error = core::moveBelow(from, r.filePath(u"photos"_s), r.filePath(target));
        QCOMPARE(error.isEmpty(), moved);
        QCOMPARE(QFileInfo::exists(r.filePath(target)), moved);
        QCOMPARE(QFileInfo::exists(from), !moved);
        QVERIFY(!QFileInfo::exists(r.filePath(u"outside/p.jpg"_s)) || target == u"outside/p.jpg"_s);
        QVERIFY(QDir(r.filePath(u"outside"_s)).entryList(QDir::Files | QDir::Hidden).isEmpty());
        if (moved) {
            QFile f(r.filePath(target));
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), QByteArray("picture"));
            QVERIFY(
                QDir(QFileInfo(r.filePath(target)).absolutePath()).entryList({u".*.part"_s}, QDir::Hidden).isEmpty());
        }
#endif
    }

    void clearingTheTempFolder()
    {
#ifndef Q_OS_UNIX
        QSKIP("needs symbolic links");
#else
        QTemporaryDir root;
        QDir r(root.path());
        QVERIFY(r.mkpath(QStringLiteral("outside")));
        QVERIFY(r.mkpath(QStringLiteral("temp/sub")));
        for (const char *name : {"outside/keep.jpg", "outside/.hidden", "temp/a.jpg", "temp/.hidden", "temp/sub/b.jpg"})
            QVERIFY(writeBytes(r.filePath(QString::fromLatin1(name)), "x"));
        QVERIFY(
            QFile::link(r.filePath(QStringLiteral("outside/keep.jpg")), r.filePath(QStringLiteral("temp/link.jpg"))));
        QVERIFY(QFile::link(r.filePath(QStringLiteral("outside")), r.filePath(QStringLiteral("temp/dirlink"))));
        QVERIFY(QFile::link(r.filePath(QStringLiteral("outside")), r.filePath(QStringLiteral("linked"))));
        QVERIFY(::mkfifo(QFile::encodeName(r.filePath(QStringLiteral("temp/pipe"))).constData(), 0600) == 0);

        // A temp folder that links elsewhere: nothing there is touched, with or without a final separator.
        core::clearTempFolder(r.filePath(QStringLiteral("linked")));
        core::clearTempFolder(r.filePath(QStringLiteral("linked")) + QLatin1Char('/'));
        // Missing, or a file rather than a folder: nothing happens.
        core::clearTempFolder(r.filePath(QStringLiteral("missing")));
        core::clearTempFolder(r.filePath(QStringLiteral("outside/keep.jpg")));
        core::clearTempFolder(QString());
        QVERIFY(QFile::exists(r.filePath(QStringLiteral("outside/keep.jpg"))));
        QVERIFY(QFile::exists(r.filePath(QStringLiteral("outside/.hidden"))));
        QVERIFY(QFile::exists(r.filePath(QStringLiteral("temp/a.jpg"))));

        // The real folder: its plain files go, hidden ones too; links, the pipe and subfolders stay.
        core::clearTempFolder(r.filePath(QStringLiteral("temp")));
        QVERIFY(!QFile::exists(r.filePath(QStringLiteral("temp/a.jpg"))));
        QVERIFY(!QFile::exists(r.filePath(QStringLiteral("temp/.hidden"))));
        QVERIFY(QFile::exists(r.filePath(QStringLiteral("temp/sub/b.jpg"))));
        QVERIFY(QFileInfo(r.filePath(QStringLiteral("temp/link.jpg"))).isSymLink());
        QVERIFY(QFileInfo(r.filePath(QStringLiteral("temp/dirlink"))).isSymLink());
        QVERIFY(QFileInfo::exists(r.filePath(QStringLiteral("temp/pipe"))));
        QVERIFY(QFile::exists(r.filePath(QStringLiteral("outside/keep.jpg"))));
        QVERIFY(QFile::exists(r.filePath(QStringLiteral("outside/.hidden"))));
#endif
    }
};

QTEST_GUILESS_MAIN(TestFiles)
#include "tst_files.moc"
