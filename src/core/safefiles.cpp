#include "safefiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QScopeGuard>
#include <QStringList>

#ifdef Q_OS_UNIX
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace core {

#ifdef Q_OS_UNIX
namespace {

QString systemError(int error)
{
    switch (error) {
    case ENOENT:
        return QStringLiteral("файл не найден");
    case EACCES:
    case EPERM:
        return QStringLiteral("нет прав доступа");
    case EEXIST:
        return QStringLiteral("такое имя уже занято");
    case ELOOP:
        return QStringLiteral("на этом месте стоит ссылка");
    case ENOSPC:
        return QStringLiteral("нет места на диске");
    default:
        return QString::fromLocal8Bit(std::strerror(error));
    }
}

const QString kNotAFile = QStringLiteral("это не обычный файл (канал, устройство или папка)");

// Removes everything inside the open folder `dir`, never following a link.
bool removeEntries(int dir)
{
    QList<QByteArray> names;
    if (DIR *d = ::fdopendir(::dup(dir))) {
        while (const dirent *e = ::readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                names << QByteArray(e->d_name);
        ::closedir(d);
    } else {
        return false;
    }
    bool ok = true;
    for (const QByteArray &name : names) {
        struct stat st;
        if (::fstatat(dir, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue; // gone meanwhile
        if (S_ISDIR(st.st_mode)) {
            const int sub = ::openat(dir, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub < 0) {
                ok = false;
                continue;
            }
            ok = removeEntries(sub) && ok;
            ::close(sub);
            ok = ::unlinkat(dir, name.constData(), AT_REMOVEDIR) == 0 && ok;
        } else {
            ok = ::unlinkat(dir, name.constData(), 0) == 0 && ok;
        }
    }
    return ok;
}

} // namespace
#endif

bool makeSharedFolder(const QString &folder, bool sticky)
{
    const QString innermost = QDir::cleanPath(folder);
    // The missing folders, outermost first.
    QStringList missing;
    for (QString f = innermost; !f.isEmpty() && !QFileInfo::exists(f) && !QFileInfo(f).isSymLink();) {
        missing.prepend(f);
        const QString up = QFileInfo(f).path();
        if (up == f)
            break;
        f = up;
    }
#ifdef Q_OS_UNIX
    const struct group *g = ::getgrnam("firebird");
    for (const QString &f : missing) {
        const QByteArray path = QFile::encodeName(f);
        if (::mkdir(path.constData(), 0700) != 0) {
            if (errno == EEXIST)
                continue; // made by someone else meanwhile: theirs
            return false;
        }
        // Given to the group before it is opened to the group.
        if (g)
            (void)::chown(path.constData(), uid_t(-1), g->gr_gid);
        ::chmod(path.constData(), mode_t(02770 | (sticky && f == innermost ? 01000 : 0)));
    }
#else
    Q_UNUSED(sticky);
    for (const QString &f : missing)
        if (!QDir().mkdir(f) && !QFileInfo(f).isDir())
            return false;
#endif
    return QFileInfo(innermost).isDir();
}

bool liesInside(const QString &folder, const QString &path)
{
    const QString root = QFileInfo(folder).canonicalFilePath();
    const QString real = QFileInfo(path).canonicalFilePath();
    if (root.isEmpty() || real.isEmpty())
        return false;
#ifdef Q_OS_WIN
    const Qt::CaseSensitivity cs = Qt::CaseInsensitive;
#else
    const Qt::CaseSensitivity cs = Qt::CaseSensitive;
#endif
    const QString prefix = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
    return real.startsWith(prefix, cs);
}

bool openRegularFile(QFile &file, const QString &path, QString *why)
{
    QString reason;
#ifdef Q_OS_UNIX
    const QByteArray native = QFile::encodeName(path);
    struct stat st;
    // Not even opened when it is no plain file: opening a pipe waits for a writer.
    if (::stat(native.constData(), &st) != 0) {
        reason = systemError(errno);
    } else if (!S_ISREG(st.st_mode)) {
        reason = kNotAFile;
    } else {
        // Without waiting, should a pipe have taken the file's place meanwhile.
        const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            reason = systemError(errno);
        } else if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            reason = kNotAFile;
            ::close(fd);
        } else {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            if (file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
                return true;
            reason = file.errorString();
            ::close(fd);
        }
    }
#else
    if (!QFileInfo(path).isFile())
        reason = QFileInfo::exists(path) ? QStringLiteral("это не обычный файл") : QStringLiteral("файл не найден");
    else if (file.setFileName(path), file.open(QIODevice::ReadOnly))
        return true;
    else
        reason = file.errorString();
#endif
    if (why)
        *why = reason;
    return false;
}

bool createNewFile(QFile &file, const QString &path, QString *why, int permissions)
{
#ifdef Q_OS_UNIX
    // O_EXCL fails on any existing name, a link too, wherever it leads.
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          mode_t(permissions));
    if (fd < 0) {
        if (why)
            *why = systemError(errno);
        return false;
    }
    ::fchmod(fd, mode_t(permissions)); // whatever the umask took away
    if (file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle))
        return true;
    ::close(fd);
#else
    Q_UNUSED(permissions);
    file.setFileName(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return true;
#endif
    if (why)
        *why = file.errorString();
    return false;
}

QString replaceFile(const QString &from, const QString &to, bool *crossDevice)
{
    if (crossDevice)
        *crossDevice = false;
#ifdef Q_OS_UNIX
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return QString();
    if (crossDevice)
        *crossDevice = errno == EXDEV;
    return systemError(errno);
#elif defined(Q_OS_WIN)
    if (::MoveFileExW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(from).utf16()),
                      reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(to).utf16()),
                      MOVEFILE_REPLACE_EXISTING))
        return QString();
    if (crossDevice)
        *crossDevice = ::GetLastError() == ERROR_NOT_SAME_DEVICE;
    return QStringLiteral("файл не переименовывается");
#else
    if (QFile::rename(from, to))
        return QString();
    return QStringLiteral("файл не переименовывается");
#endif
}

QString moveBelow(const QString &from, const QString &root, const QString &target)
{
    const QFileInfo t(target);
    const QString relative = QDir(root).relativeFilePath(t.absolutePath());
    const QStringList parts = relative == QLatin1String(".") ? QStringList() : relative.split(QLatin1Char('/'));
    if (t.fileName().isEmpty() || parts.contains(QLatin1String("..")) || QDir::isAbsolutePath(relative))
        return QStringLiteral("файл должен лежать в папке «%1»").arg(QDir::toNativeSeparators(root));
#ifdef Q_OS_UNIX
    int dir = ::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return systemError(errno);
    const auto closeDir = qScopeGuard([&dir] { ::close(dir); });
    for (const QString &part : parts) {
        const int next =
            ::openat(dir, QFile::encodeName(part).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0)
            return errno == ELOOP || errno == ENOTDIR
                       ? QStringLiteral("папка «%1» заменена ссылкой или файлом").arg(part)
                       : systemError(errno);
        ::close(dir);
        dir = next;
    }
    const QByteArray name = QFile::encodeName(t.fileName());
    if (::renameat(AT_FDCWD, QFile::encodeName(from).constData(), dir, name.constData()) == 0)
        return QString();
    if (errno != EXDEV)
        return systemError(errno);
    // Another file system: copied beside the target, then renamed over it.
    const int in = ::open(QFile::encodeName(from).constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return systemError(errno);
    const auto closeIn = qScopeGuard([in] { ::close(in); });
    const QByteArray partial = "." + name + ".part";
    ::unlinkat(dir, partial.constData(), 0);
    const int out = ::openat(dir, partial.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0660);
    if (out < 0)
        return systemError(errno);
    bool written = true;
    char buf[64 * 1024];
    for (ssize_t n; written && (n = ::read(in, buf, sizeof buf)) != 0;) {
        if (n < 0) {
            written = errno == EINTR;
            continue;
        }
        for (ssize_t done = 0; written && done < n;) {
            const ssize_t w = ::write(out, buf + done, size_t(n - done));
            written = w > 0 || (w < 0 && errno == EINTR);
            done += std::max<ssize_t>(w, 0);
        }
    }
    const int error = written ? 0 : errno;
    written = written && ::fsync(out) == 0;
    ::close(out);
    if (!written || ::renameat(dir, partial.constData(), dir, name.constData()) != 0) {
        const int why = error ? error : errno;
        ::unlinkat(dir, partial.constData(), 0);
        return systemError(why);
    }
    ::unlink(QFile::encodeName(from).constData());
    return QString();
#else
    Q_UNUSED(parts);
    bool crossDevice = false;
    QString error = replaceFile(from, target, &crossDevice);
    if (crossDevice && (error = copyFileSafely(from, target)).isEmpty())
        QFile::remove(from);
    return error;
#endif
}

bool removeTree(const QString &folder)
{
    const QString clean = QDir::cleanPath(folder);
#ifdef Q_OS_UNIX
    const QByteArray native = QFile::encodeName(clean);
    const int dir = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0)
        return false;
    const bool emptied = removeEntries(dir);
    ::close(dir);
    return emptied && ::rmdir(native.constData()) == 0;
#else
    const QFileInfo info(clean);
    if (info.isSymLink() || info.isJunction() || !info.isDir())
        return false;
    return QDir(clean).removeRecursively();
#endif
}

bool writeWholeFile(const QString &path, const QByteArray &data, QFileDevice::Permissions permissions, QString *why)
{
    QSaveFile f(path);
    // The flush is checked here: committing would not notice that it failed.
    if (f.open(QIODevice::WriteOnly) && (!permissions || f.setPermissions(permissions)) &&
        f.write(data) == data.size() && f.flush() && f.commit())
        return true;
    if (why)
        *why = f.errorString();
    return false;
}

} // namespace core
