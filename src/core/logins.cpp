#include "logins.h"
#include "typedtext.h"

#include "db/access.h"
#include "db/statements.h"

#include <optional>

namespace core {

QStringList Logins::all()
{
    db::Rows rows = m_db.read(sql::selectLogins());
    QStringList out;
    const int col = rows.column(QStringLiteral("Login"));
    while (rows.next())
        out << rows.text(col);
    return out;
}

LoginResult Logins::check(const QString &login, const QString &password, LoggedUser *user)
{
    const QString problem = typedTextProblem(login, TypedUse::Login);
    if (!problem.isEmpty())
        throw db::DbError(problem);
    // The last row found decides.
    std::optional<LoggedUser> found;
    QString pass;
    db::Rows rows = m_db.read(sql::selectUserByLogin(), {{QStringLiteral("login"), login}});
    while (rows.next()) {
        found.emplace();
        found->fullName = rows.text(QStringLiteral("FIO"));
        found->id = rows.number(QStringLiteral("pk_id"));
        found->level = rows.text(QStringLiteral("level"));
        pass = rows.text(QStringLiteral("Pass"));
    }
    if (!found)
        return LoginResult::UnknownLogin;
    if (pass != password)
        return LoginResult::WrongPassword;
    if (user)
        *user = *found;
    return LoginResult::Ok;
}

} // namespace core
