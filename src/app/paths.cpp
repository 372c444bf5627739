#include "paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

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

} // namespace paths
