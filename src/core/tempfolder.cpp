#include "tempfolder.h"
#include "safefiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSysInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace core {

QString scratchFolderName()
{
    QString host = QSysInfo::machineHostName();
    host.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]")), QStringLiteral("_"));
    return (host.isEmpty() ? QStringLiteral("copy") : host) + QLatin1Char('-') +
           QString::number(QCoreApplication::applicationPid());
}

namespace {
const char kLockName[] = ".lock";
}

void clearTempFolder(const QString &folder)
{
    // Without the trailing separator: "temp/" would be looked at through a link.
    const QFileInfo dir(QDir::cleanPath(folder));
    if (folder.isEmpty() || dir.isSymLink() || dir.isJunction() || !dir.isDir())
        return;
    // System: on Windows files with that attribute are listed only so.
    const QFileInfoList entries =
        QDir(dir.filePath())
            .entryInfoList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks | QDir::NoDotAndDotDot);
    for (const QFileInfo &fi : entries) {
        // Only regular files: no links, pipes, sockets or devices.
        if (fi.isSymLink() || fi.isJunction() || !fi.isFile())
            continue;
        QFile::remove(fi.filePath());
    }
}

ScratchFolder::~ScratchFolder()
{
    release();
}

void ScratchFolder::release()
{
#ifdef Q_OS_UNIX
    if (m_lock >= 0)
        ::close(m_lock); // the lock goes with it
#endif
    m_lock = -1;
    m_path.clear();
}

#ifdef Q_OS_UNIX
namespace {

// Opens and locks the lock file of `folder` (made when `create`); -1 when it
// is missing or another copy holds it.
int lockFolder(const QString &folder, bool create)
{
    const QByteArray file = QFile::encodeName(folder + QLatin1Char('/') + QLatin1String(kLockName));
    const int fd =
        ::open(file.constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | (create ? O_CREAT : 0), 0600);
    if (fd < 0)
        return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Whether `folder` is a real folder of this user that nobody else may write to.
bool ownPrivateFolder(const QByteArray &folder)
{
    struct stat st;
    return ::lstat(folder.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & 022) == 0;
}

} // namespace
#endif

bool ScratchFolder::make(const QString &parent, const QString &name)
{
    release();
    const QString root = QDir::cleanPath(parent);
    makeSharedFolder(root, true);
    const QFileInfo rootInfo(root);
    if (rootInfo.isSymLink() || rootInfo.isJunction() || !rootInfo.isDir())
        return false; // a link: what lies behind it is not the program's
#ifdef Q_OS_UNIX
    for (int i = 1; i <= 50; ++i) {
        const QString path = root + QLatin1Char('/') + (i == 1 ? name : name + QLatin1Char('-') + QString::number(i));
        const QByteArray native = QFile::encodeName(path);
        int lock = -1;
        const int made = ::mkdir(native.constData(), 0700) == 0 ? 0 : errno;
        if (made == 0) {
            lock = lockFolder(path, true);
        } else if (made == EEXIST && ownPrivateFolder(native)) {
            lock = lockFolder(path, true);                // fails while the copy that made it runs
            if (lock >= 0 && !ownPrivateFolder(native)) { // replaced meanwhile
                ::close(lock);
                lock = -1;
            }
        } else if (made != EEXIST) {
            return false;
        }
        if (lock >= 0) {
            ::chmod(native.constData(), 0700);
            m_path = QDir::toNativeSeparators(path);
            m_lock = lock;
            return true;
        }
    }
    return false;
#else
    const QString path = root + QLatin1Char('/') + name;
    if (!QDir().mkpath(path))
        return false;
    m_path = QDir::toNativeSeparators(path);
    return true;
#endif
}

QString ScratchFolder::path() const
{
    if (m_path.isEmpty())
        return QString();
#ifdef Q_OS_UNIX
    // Still the folder that holds this object's lock file: not a link, not a
    // folder put in its place.
    struct stat held, now;
    const QByteArray file = QFile::encodeName(m_path + QLatin1Char('/') + QLatin1String(kLockName));
    if (!ownPrivateFolder(QFile::encodeName(m_path)) || ::fstat(m_lock, &held) != 0 ||
        ::lstat(file.constData(), &now) != 0 || held.st_dev != now.st_dev || held.st_ino != now.st_ino)
        return QString();
#endif
    return m_path;
}

void ScratchFolder::remove()
{
    const QString own = path();
    if (!own.isEmpty())
        removeTree(own);
    release();
}

Scratch removeIfEnded(const QString &folder, const std::function<bool(const QString &folder)> &beforeRemoval)
{
#ifdef Q_OS_UNIX
    const QString clean = QDir::cleanPath(folder);
    const QFileInfo dir(clean);
    if (dir.isSymLink() || !dir.isDir())
        return Scratch::InUse; // not a scratch folder: left alone
    const QFileInfo lockFile(clean + QLatin1Char('/') + QLatin1String(kLockName));
    if (!lockFile.exists() && !lockFile.isSymLink())
        return Scratch::NoLock;
    const int lock = lockFolder(clean, false);
    if (lock < 0)
        return Scratch::InUse;
    if (beforeRemoval && !beforeRemoval(clean)) {
        ::close(lock);
        return Scratch::InUse;
    }
    removeTree(clean);
    ::close(lock);
    return Scratch::Removed;
#else
    Q_UNUSED(folder);
    Q_UNUSED(beforeRemoval);
    return Scratch::NoLock;
#endif
}

} // namespace core
