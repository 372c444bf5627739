#include "settings.h"
#include "core/settingsfile.h"
#include "paths.h"
#include "state.h"

#include <QDir>
#include <QFileInfo>

void LoadSettings()
{
    SessionUser.login = QStringLiteral("-1");
    SessionUser.password.clear();
    const QString file = paths::settingsFile();
    if (QFileInfo::exists(file)) {
        core::LoginSettings s;
        core::readLoginSettings(file, &s);
        SessionUser.login = s.user;
        SessionUser.password = s.pass;
        return;
    }
    // First start: "[main]", "user=", "pass=", readable by the owner only.
    QDir().mkpath(QFileInfo(file).absolutePath());
    core::writeLoginSettings(file, {});
}

void SaveSettings()
{
    const QString file = paths::settingsFile();
    if (!QFileInfo::exists(file))
        return;
    core::writeLoginSettings(file, {SessionUser.login, SessionUser.password});
}
