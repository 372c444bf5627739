#include "paths.h"

#include "core/safefiles.h"
#include "core/tempfolder.h"
#include "db/ibase.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#endif

namespace paths {
QString executableFolder()
{
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
}

QString join(const QString &folder, const QString &name)
{
    return folder + QDir::separator() + name;
}

QString tempFolderName()
{
    return core::scratchFolderName();
}

bool processRunning(qint64 pid)
{
#ifdef Q_OS_UNIX
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno != ESRCH);
#else
    Q_UNUSED(pid);
    return true; // not known: kept
#endif
}

bool makeSharedFolder(const QString &folder, bool sticky)
{
    return core::makeSharedFolder(folder, sticky);
}

QString settingsFile()
{
    const QString appData = qEnvironmentVariable("APPDATA");
    if (!appData.isEmpty())
        return join(QDir::toNativeSeparators(appData), QStringLiteral("zentrax.ini"));
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty())
        config = QDir::homePath() + QStringLiteral("/.config");
    return join(QDir::toNativeSeparators(config), QStringLiteral("zentrax.ini"));
}

bool isServerPath(const QString &path)
{
    return db::isServerPath(path);
}

} // namespace paths
