#include "logins.h"
#include "typedtext.h"

#include "db/shared.h"
#include "db/statements.h"

namespace core {

QStringList Logins::all()
{
    db::IBQuery &q = m_db.iRead;
    q.close();
    q.setSql(sql::selectLogins());
    q.open();
    QStringList out;
    const int col = q.fieldIndex(QStringLiteral("Login"));
    for (; !q.eof(); q.next())
        out << q.asText(col);
    q.close();
    return out;
}

LoginResult Logins::check(const QString &login, const QString &password, LoggedUser *user)
{
    const QString problem = typedTextProblem(login, TypedUse::Login);
    if (!problem.isEmpty())
        throw db::DbError(problem);
    db::IBQuery &q = m_db.iRead;
    db::Closer closer{q};
    q.close();
    q.setSql(sql::selectUserByLogin());
    q.setParam(QStringLiteral("login"), login);
    q.open();
    q.last();
    if (q.recordCount() == 0)
        return LoginResult::UnknownLogin;
    if (q.asText(QStringLiteral("Pass")) != password)
        return LoginResult::WrongPassword;
    if (user) {
        user->fullName = q.asText(QStringLiteral("FIO"));
        user->id = q.asInt(QStringLiteral("pk_id"));
        user->level = q.asText(QStringLiteral("level"));
    }
    return LoginResult::Ok;
}

} // namespace core
