#include "engineerrors.h"
#include "ibase.h"

#include <algorithm>
#include <cerrno>
#include <firebird/Interface.h>

namespace db {

bool StatusCodes::has(long gdsCode) const
{
    return std::any_of(items.begin(), items.end(),
                       [gdsCode](const auto &i) { return i.first == isc_arg_gds && i.second == gdsCode; });
}

bool StatusCodes::hasUnix(long errnoValue) const
{
    return std::any_of(items.begin(), items.end(),
                       [errnoValue](const auto &i) { return i.first == isc_arg_unix && i.second == errnoValue; });
}

namespace {

bool g_windowAdvice = true;

bool any(const StatusCodes &codes, std::initializer_list<long> list)
{
    return std::any_of(list.begin(), list.end(), [&](long c) { return codes.has(c); });
}

QString withDetail(const QString &russian, const QString &engineText)
{
    return russian + QStringLiteral("\r\rСообщение базы данных:\r") + engineText;
}

} // namespace

void setWindowAdvice(bool on)
{
    g_windowAdvice = on;
}

bool windowAdvice()
{
    return g_windowAdvice;
}

DbError engineError(const StatusCodes &codes, const QString &engineText)
{
    using Kind = DbError::Kind;
    if (any(codes, {isc_update_conflict, isc_deadlock, isc_lock_conflict, isc_lock_timeout}))
        return DbError(conflictMessage(), true, Kind::Conflict);
    if (any(codes, {isc_unique_key_violation, isc_no_dup}))
        return DbError(
            withDetail(QStringLiteral("Такая запись уже есть в базе данных: повторять её нельзя."), engineText), true,
            Kind::DuplicateKey);
    if (codes.hasUnix(ENOSPC))
        return DbError(withDetail(QStringLiteral("На диске с базой данных не осталось места, поэтому изменения не "
                                                 "записаны.\rОсвободите место на этом диске (или попросите об этом "
                                                 "администратора) и повторите действие") +
                                      (g_windowAdvice ? QStringLiteral(": введённые данные остались на экране.")
                                                      : QStringLiteral(".")),
                                  engineText),
                       true);
    if (codes.has(isc_io_write_err))
        return DbError(withDetail(QStringLiteral("Файл базы данных не удалось записать: скорее всего, на его диске не "
                                                 "осталось места (или диск стал доступен только для чтения).\r"
                                                 "Изменения не записаны") +
                                      (g_windowAdvice ? QStringLiteral(", введённые данные остались на экране. ")
                                                      : QStringLiteral(". ")) +
                                      QStringLiteral("Освободите место на диске (или попросите об этом "
                                                     "администратора) и повторите действие."),
                                  engineText),
                       true);
    // A file cut short or overwritten in place under the engine (cp over it).
    if (codes.has(isc_io_read_err))
        return DbError(withDetail(QStringLiteral("Файл базы данных не удалось прочитать: он повреждён, укорочен или "
                                                 "заменён другим файлом, пока с ним работали (или его диск стал "
                                                 "недоступен).\rНичего не сохраняйте, закройте программу и сообщите "
                                                 "администратору: базу данных нужно проверить (gfix) или "
                                                 "восстановить из резервной копии."),
                                  engineText),
                       true);
    if (codes.has(isc_lock_dir_access))
        return DbError(withDetail(QStringLiteral("Нет доступа к папке блокировок базы данных «%1».\rКаждый "
                                                 "пользователь компьютера, работающий с общей базой данных, должен "
                                                 "входить в группу firebird (adduser ИМЯ firebird, затем войти в "
                                                 "систему заново); попросите об этом администратора.")
                                      .arg(lockFolder()),
                                  engineText),
                       true);
    if (any(codes, {isc_instance_conflict, isc_already_opened}))
        return DbError(withDetail(QStringLiteral("Файл базы данных уже открыт другой программой Firebird, которая "
                                                 "работает с ним иначе, чем эта (например, сервер базы данных или "
                                                 "утилита, запущенная без настроек программы).\rЗакройте ту "
                                                 "программу или работайте с базой данных через сервер, затем "
                                                 "повторите действие."),
                                  engineText),
                       true);
    if (any(codes, {isc_bad_db_format, isc_db_corrupt, isc_corrupt, isc_badpage, isc_wrong_ods}))
        return DbError(withDetail(QStringLiteral("Файл базы данных повреждён или подменён другим файлом, пока "
                                                 "программа работала.\rНичего не сохраняйте, закройте программу и "
                                                 "сообщите администратору: базу данных нужно проверить (gfix) или "
                                                 "восстановить из резервной копии."),
                                  engineText),
                       true);
    // A check of the engine itself failed on what it read: a damaged file,
    // or one replaced under the running engine.
    if (codes.has(isc_bug_check))
        return DbError(withDetail(QStringLiteral("База данных повреждена или файл был заменён, пока с ним "
                                                 "работали: восстановите копию."),
                                  engineText),
                       true);
    // The program connects again at the user's next action.
    const QString again = g_windowAdvice
                              ? QStringLiteral("\rВведённые и не сохранённые данные остались на экране. Программа "
                                               "снова подключится к базе данных при следующем действии: повторите "
                                               "его, когда база данных будет доступна.")
                              : QStringLiteral("\rПовторите действие, когда база данных будет доступна.");
    if (any(codes, {isc_network_error, isc_net_connect_err, isc_net_connect_listen_err}))
        return DbError(withDetail(QStringLiteral("Сервер базы данных недоступен по сети. Проверьте подключение к "
                                                 "сети и то, что сервер базы данных запущен (об этом можно спросить "
                                                 "администратора)."),
                                  engineText),
                       true, Kind::ConnectionLost);
    if (any(codes, {isc_shutdown, isc_conn_lost, isc_net_read_err, isc_net_write_err, isc_lost_db_connection,
                    isc_att_shutdown}))
        return DbError(withDetail(QStringLiteral("Соединение с базой данных прервано: сервер остановлен, сеть "
                                                 "недоступна или администратор закрыл подключения.") +
                                      again,
                                  engineText),
                       true, Kind::ConnectionLost);
    return DbError(engineText, true);
}

} // namespace db
