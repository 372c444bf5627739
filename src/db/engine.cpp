// The engine: its start in the program's folder, its lock folder, the
// ending of its objects, and its errors in the user's words.

#include "cp1251.h"
#include "ibase_p.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <set>
#ifdef Q_OS_UNIX
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#endif

using namespace Firebird;

namespace db {

IMaster *master()
{
    static IMaster *m = fb_get_master_interface();
    return m;
}

QString describe(IStatus *status)
{
    char buf[4096];
    master()->getUtilInterface()->formatStatus(buf, sizeof buf, status);
    return cp1251::decode(buf, qsizetype(std::strlen(buf))).trimmed();
}

StatusCodes codesOf(IStatus *status)
{
    StatusCodes codes;
    const ISC_STATUS *v = status->getErrors();
    for (int i = 0; v[i] != isc_arg_end; i += 2) {
        if (v[i] == isc_arg_cstring) { // kind, length, pointer
            ++i;
            continue;
        }
        codes.items.emplace_back(long(v[i]), long(v[i + 1]));
    }
    return codes;
}

QByteArray encodeOrThrow(const QString &text)
{
    QByteArray out;
    qsizetype bad = -1;
    if (!cp1251::encode(text, out, &bad))
        throw DbError(encodingMessage(text, bad));
    return out;
}

QString encodingMessage(const QString &text, qsizetype pos)
{
    return QStringLiteral("Символ %1 не поддерживается базой данных: она хранит текст в кодировке Windows-1251.")
        .arg(cp1251::describeChar(text, pos));
}

bool isServerPath(const QString &path)
{
    if (path.startsWith(QLatin1String("inet://")) || path.startsWith(QLatin1String("xnet://")))
        return true;
    const qsizetype colon = path.indexOf(QLatin1Char(':'));
    // "C:\..." is a drive letter, not a host; "\\server\share" is a local (UNC) path.
    if (colon < 2)
        return false;
    // The host part may carry a port ("host/3051") but is never a path itself.
    const QString host = path.left(colon);
    return !host.startsWith(QLatin1Char('/')) && !host.contains(QLatin1Char('\\'));
}

QString conflictMessage()
{
    return QStringLiteral("Эти данные только что изменил или удалил другой пользователь, или он как раз сохраняет их.\r"
                          "Ничего не записано. Обновите данные и повторите действие.");
}

QString lockFolder()
{
    const QString env = qEnvironmentVariable("FIREBIRD_LOCK");
    if (!env.isEmpty())
        return env;
#ifdef Q_OS_UNIX
    // The engine's standard folder: never the session's TMPDIR, which differs
    // from user to user where a session sets it, so two engines would open one
    // file without knowing of each other.
    return QStringLiteral("/tmp/firebird");
#else
    return QString();
#endif
}

#ifdef Q_OS_UNIX
namespace {

// Below this much free room the engine's shared lock files cannot grow, and
// the engine crashes on the first page it cannot map.
constexpr unsigned long long kLockRoomBytes = 8ull * 1024 * 1024;

gid_t engineGroup()
{
    const struct group *g = ::getgrnam("firebird");
    return g ? g->gr_gid : gid_t(-1);
}

uid_t engineUser()
{
    const struct passwd *p = ::getpwnam("firebird");
    return p ? p->pw_uid : uid_t(-1);
}

// An entry the engine does not make: a link (which the engine would follow
// to a file of the link maker's choosing), a pipe, a device. Its name, or
// nothing.
QString strangeEntry(const QByteArray &folder)
{
    DIR *d = ::opendir(folder.constData());
    if (!d)
        return QString();
    QString found;
    while (const dirent *e = ::readdir(d)) {
        if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, ".."))
            continue;
        struct stat st;
        if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode) &&
            !S_ISDIR(st.st_mode)) {
            found = QFile::decodeName(e->d_name);
            break;
        }
    }
    ::closedir(d);
    return found;
}

// Accounts of people (uid 1000 and up: not root, not the engine's or
// another service's system account) that may add entries to a folder of
// `st`: its owner, the members of its group, or everyone. One name, "все",
// or nothing.
QString peopleWhoMayWrite(const struct stat &st)
{
    constexpr uid_t kFirstPerson = 1000;
    if (st.st_mode & S_IWOTH)
        return QStringLiteral("все пользователи");
    if ((st.st_mode & S_IWUSR) && st.st_uid >= kFirstPerson)
        if (const struct passwd *p = ::getpwuid(st.st_uid))
            return QString::fromLocal8Bit(p->pw_name);
    if (!(st.st_mode & S_IWGRP))
        return QString();
    if (const struct group *g = ::getgrgid(st.st_gid))
        for (char **member = g->gr_mem; member && *member; ++member)
            if (const struct passwd *p = ::getpwnam(*member); p && p->pw_uid >= kFirstPerson)
                return QString::fromLocal8Bit(p->pw_name);
    QString found;
    ::setpwent();
    while (const struct passwd *p = ::getpwent())
        if (p->pw_gid == st.st_gid && p->pw_uid >= kFirstPerson) {
            found = QString::fromLocal8Bit(p->pw_name);
            break;
        }
    ::endpwent();
    return found;
}

} // namespace
#endif

QString lockFolderProblem(const QString &folder)
{
#ifdef Q_OS_UNIX
    if (folder.isEmpty())
        return QString();
    const QString shown = QDir::toNativeSeparators(folder);
    const QByteArray path = QFile::encodeName(folder);
    const QString fix = QStringLiteral("\rПопросите администратора исправить права папки или удалить её (программа "
                                       "создаст её заново); пользователи, работающие с общей базой данных, должны "
                                       "входить в группу firebird.");
    struct stat st;
    if (::lstat(path.constData(), &st) != 0)
        return QStringLiteral("Папку блокировок базы данных «%1» не удалось создать.").arg(shown) + fix;
    if (S_ISLNK(st.st_mode))
        return QStringLiteral("Папка блокировок базы данных «%1» — это ссылка на другое место, а не папка. "
                              "Пользоваться ею небезопасно.")
                   .arg(shown) +
               fix;
    if (!S_ISDIR(st.st_mode))
        return QStringLiteral("«%1» должна быть папкой блокировок базы данных, но это не папка.").arg(shown) + fix;
    const gid_t group = engineGroup();
    const bool trustedOwner = st.st_uid == 0 || st.st_uid == ::geteuid() || st.st_uid == engineUser() ||
                              (group != gid_t(-1) && st.st_gid == group);
    if (!trustedOwner)
        return QStringLiteral("Папку блокировок базы данных «%1» создал другой пользователь компьютера, не входящий "
                              "в группу firebird. Пользоваться ею небезопасно.")
                   .arg(shown) +
               fix;
    if ((st.st_mode & S_IWOTH) && !(st.st_mode & S_ISVTX))
        return QStringLiteral("Папка блокировок базы данных «%1» открыта для записи всем пользователям компьютера. "
                              "Пользоваться ею небезопасно.")
                   .arg(shown) +
               fix;
    if (const QString entry = strangeEntry(path); !entry.isEmpty())
        return QStringLiteral("В папке блокировок базы данных «%1» лежит «%2» — ссылка или особый файл, каких движок "
                              "базы данных не создаёт: её мог подложить другой пользователь. Пользоваться папкой "
                              "небезопасно.")
                   .arg(shown, entry) +
               fix;
    if (::access(path.constData(), R_OK | W_OK | X_OK) != 0)
        return QStringLiteral("Нет доступа к папке блокировок базы данных «%1».\rКаждый пользователь компьютера, "
                              "работающий с общей базой данных, должен входить в группу firebird (adduser ИМЯ "
                              "firebird, затем войти в систему заново); попросите об этом администратора.")
            .arg(shown);
    struct statvfs vfs;
    if (::statvfs(path.constData(), &vfs) == 0) {
        const unsigned long long room = (unsigned long long)vfs.f_bavail * vfs.f_frsize;
        if (room < kLockRoomBytes)
            return QStringLiteral("В папке блокировок базы данных «%1» не осталось места (свободно %2 КБ, нужно "
                                  "не меньше %3 МБ).\rОсвободите место на этом диске (обычно это временная папка "
                                  "/tmp) и запустите программу снова.")
                .arg(shown)
                .arg(room / 1024)
                .arg(kLockRoomBytes / (1024 * 1024));
    }
    // Root's engine follows whatever those people plant there under the
    // lock files' names (a link to a file of theirs, or of root's).
    if (::geteuid() == 0)
        if (const QString who = peopleWhoMayWrite(st); !who.isEmpty())
            return QStringLiteral("Программа запущена от имени root, а в папку блокировок базы данных «%1» могут "
                                  "писать и другие (%2). Движок базы данных, работающий от имени root, пошёл бы по "
                                  "подложенным туда ссылкам и испортил бы файлы, на которые они указывают.\r"
                                  "Запустите программу от имени обычного пользователя из группы firebird (например: "
                                  "sudo -u ИМЯ %3).")
                .arg(shown, who, QCoreApplication::applicationFilePath());
#else
    Q_UNUSED(folder);
#endif
    return QString();
}

QString reserveLockRoom(const QString &folder)
{
#ifdef Q_OS_UNIX
    if (folder.isEmpty())
        return QString();
    const QByteArray path = QFile::encodeName(folder);
    DIR *d = ::opendir(path.constData());
    if (!d)
        return QString();
    // The files this process's engine has mapped, where the system tells:
    // not the tables of other databases, nor those a killed process left.
    std::set<QByteArray> mapped;
    bool mapsKnown = false;
    if (QFile maps(QStringLiteral("/proc/self/maps")); maps.open(QIODevice::ReadOnly)) {
        mapsKnown = true;
        const QByteArray prefix = path + '/';
        for (const QByteArray &line : maps.readAll().split('\n'))
            if (const qsizetype at = line.indexOf(prefix); at >= 0)
                mapped.insert(line.mid(at + prefix.size()).trimmed());
    }
    int failure = 0;
    while (const dirent *e = ::readdir(d)) {
        if (std::strncmp(e->d_name, "fb", 2) != 0 || (mapsKnown && !mapped.count(QByteArray(e->d_name))))
            continue;
        // Opened without following links and without blocking on a pipe: a
        // planted entry is refused by the folder's check, never written.
        const int fd = ::openat(::dirfd(d), e->d_name, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue; // another user's private file, or one just removed
        struct stat st;
        // Files with all their blocks (most, after the first look) cost one fstat.
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
            quint64(st.st_blocks) * 512 < quint64(st.st_size)) {
            const int rc = ::posix_fallocate(fd, 0, st.st_size);
            if (rc == ENOSPC || rc == EDQUOT)
                failure = rc;
        }
        ::close(fd);
    }
    ::closedir(d);
    if (failure)
        return QStringLiteral("В папке блокировок базы данных «%1» кончилось место, и движок базы данных не может "
                              "дальше работать с файлом безопасно.\rОсвободите место на этом диске (обычно это "
                              "временная папка /tmp) и запустите программу снова.")
            .arg(QDir::toNativeSeparators(folder));
#else
    Q_UNUSED(folder);
#endif
    return QString();
}

void prepareEngine(const QString &programFolder)
{
    if (qEnvironmentVariableIsEmpty("FIREBIRD")) {
        const QString root = programFolder + QStringLiteral("/firebird");
        if (QFileInfo::exists(root + QStringLiteral("/firebird.conf")))
            qputenv("FIREBIRD", QFile::encodeName(root));
    }
#ifdef Q_OS_UNIX
    if (qEnvironmentVariableIsEmpty("FIREBIRD_LOCK")) {
        // Made by the first copy before the engine makes it for that user
        // alone: set-group-ID with the group "firebird", which the users who
        // share a database file on this machine belong to; nobody else may
        // enter it. Without that group it stays this user's own.
        const QString folder = lockFolder();
        const QByteArray path = QFile::encodeName(folder);
        if (::mkdir(path.constData(), 0700) == 0) {
            const gid_t group = engineGroup();
            if (group != gid_t(-1) && ::chown(path.constData(), uid_t(-1), group) == 0)
                ::chmod(path.constData(), 02770);
        }
        qputenv("FIREBIRD_LOCK", path);
    }
#endif
}

// ------------------------------------------------------------ engine ends

namespace detail {

void EngineEnd::operator()(IAttachment *a) const
{
    Status st;
    try {
        a->detach(&st);
    } catch (const FbException &) {
        a->release(); // a connection already gone cannot be detached cleanly
    }
}

void EngineEnd::operator()(ITransaction *t) const
{
    Status st;
    try {
        t->rollback(&st);
    } catch (const FbException &) {
        t->release();
    }
}

void EngineEnd::operator()(IStatement *s) const
{
    Status st;
    try {
        s->free(&st);
    } catch (const FbException &) {
        s->release();
    }
}

void EngineEnd::operator()(IResultSet *r) const
{
    Status st;
    try {
        r->close(&st);
    } catch (const FbException &) {
        r->release();
    }
}

void EngineEnd::operator()(IBlob *b) const
{
    Status st;
    try {
        b->cancel(&st);
    } catch (const FbException &) {
        b->release();
    }
}

void EngineEnd::operator()(IMessageMetadata *m) const
{
    m->release();
}

void EngineEnd::operator()(IMetadataBuilder *b) const
{
    b->release();
}

void EngineEnd::operator()(IXpbBuilder *x) const
{
    x->dispose();
}

void EngineEnd::operator()(IProvider *p) const
{
    p->release();
}

} // namespace detail

} // namespace db
