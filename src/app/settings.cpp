#include "settings.h"
#include "paths.h"
#include "state.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

void LoadSettings()
{
    SessionUser.login = QStringLiteral("-1");
    SessionUser.password.clear();
    const QString file = paths::settingsFile();
    if (QFileInfo::exists(file)) {
        QSettings ini(file, QSettings::IniFormat);
        SessionUser.login = ini.value(QStringLiteral("main/user"), QString()).toString();
        SessionUser.password = ini.value(QStringLiteral("main/pass"), QString()).toString();
        return;
    }
    // The file may come to hold a password: create it readable by its owner only.
    QDir().mkpath(QFileInfo(file).absolutePath());
    QFile f(file);
    if (f.open(QIODevice::WriteOnly)) {
        f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        f.close();
    }
    QSettings ini(file, QSettings::IniFormat);
    ini.setValue(QStringLiteral("main/user"), QString());
    ini.setValue(QStringLiteral("main/pass"), QString());
}

void SaveSettings()
{
    const QString file = paths::settingsFile();
    if (!QFileInfo::exists(file))
        return;
    QSettings ini(file, QSettings::IniFormat);
    ini.setValue(QStringLiteral("main/user"), SessionUser.login);
    ini.setValue(QStringLiteral("main/pass"), SessionUser.password);
    ini.sync();
}
