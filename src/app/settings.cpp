#include "settings.h"
#include "core/settingsfile.h"
#include "messages.h"
#include "paths.h"
#include "state.h"

#include <QDir>
#include <QFileInfo>

namespace {

// Writes the values; when the file cannot take them the user is told, and
// the program goes on without them remembered.
void writeSettings(const QString &file, const core::LoginSettings &values)
{
    QString why;
    if (core::writeLoginSettings(file, values, &why))
        return;
    msg::error(nullptr, QStringLiteral("Не удалось сохранить настройки программы в файле\r%1\r"
                                       "Программа продолжит работу, но имя пользователя и пароль не будут запомнены. "
                                       "Проверьте, что папка этого файла доступна вам для записи и на диске есть "
                                       "свободное место.\r\rПодробности: %2")
                            .arg(QDir::toNativeSeparators(file), why));
}

} // namespace

void LoadSettings(SessionUserT &SessionUser)
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
    writeSettings(file, {});
}

void SaveSettings(const SessionUserT &SessionUser)
{
    const QString file = paths::settingsFile();
    if (!QFileInfo::exists(file))
        return;
    writeSettings(file, {SessionUser.login, SessionUser.password});
}
