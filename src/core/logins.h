#pragma once
// Who may log in: the logins of pers and the check of a login and password.

#include <QString>
#include <QStringList>

namespace db {
class Access;
}

namespace core {

struct LoggedUser
{
    qint64 id = -1;
    QString fullName;
    QString level;
};

enum class LoginResult { Ok, UnknownLogin, WrongPassword };

class Logins
{
public:
    explicit Logins(db::Access &db) : m_db(db) {}

    // Every login, in the order the database gives them (empty ones too).
    QStringList all();
    // Looks the login up exactly (letter case counts) and compares the
    // password of the last row found with `password`, exactly. `user` is
    // filled on success. A text that cannot be compared throws a DbError
    // with the reason.
    LoginResult check(const QString &login, const QString &password, LoggedUser *user);

private:
    db::Access &m_db;
};

} // namespace core
