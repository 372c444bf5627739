#include "paths.h"

#include "db/ibase.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QSysInfo>
#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#endif

namespace paths {
namespace {
QString g_folder;
}

QString programFolder()
{
    if (!g_folder.isEmpty())
        return g_folder;
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
}

void setProgramFolder(const QString &folder)
{
    g_folder = folder;
}

QString join(const QString &folder, const QString &name)
{
    return folder + QDir::separator() + name;
}

QString tempFolder()
{
    QString host = QSysInfo::machineHostName();
    host.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]")), QStringLiteral("_"));
    return join(join(programFolder(), QStringLiteral("temp")),
                (host.isEmpty() ? QStringLiteral("copy") : host) + QLatin1Char('-') +
                    QString::number(QCoreApplication::applicationPid()));
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

bool makeSharedFolder(const QString &folder)
{
    // The missing folders, outermost first.
    QStringList missing;
    for (QString f = QDir::cleanPath(folder); !f.isEmpty() && !QFileInfo::exists(f);) {
        missing.prepend(f);
        const QString up = QFileInfo(f).path();
        if (up == f)
            break;
        f = up;
    }
    if (!QDir().mkpath(folder))
        return false;
    for (const QString &f : missing)
        QFile::setPermissions(f, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                     QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
                                     QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther);
    return true;
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
