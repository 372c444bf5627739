#include "users.h"
#include "commit.h"

#include "db/columns.h"
#include "db/shared.h"
#include "db/statements.h"

namespace core {

QString levelText(const QString &level)
{
    return level == QLatin1String("read") ? QStringLiteral("Только чтение") : QStringLiteral("Полный");
}

int levelIndex(const QString &level)
{
    return level == QLatin1String("read") ? 0 : 1;
}

QString levelOfIndex(int index)
{
    return index == 0 ? QStringLiteral("read") : QStringLiteral("full");
}

namespace {

UserRecord readRow(const db::IBQuery &q)
{
    UserRecord u;
    u.id = q.asInt(QStringLiteral("pk_id"));
    u.fio = q.asText(QStringLiteral("fio"));
    u.login = q.asText(QStringLiteral("login"));
    u.pass = q.asText(QStringLiteral("pass"));
    u.level = q.asText(QStringLiteral("level"));
    return u;
}

} // namespace

QList<UserRecord> Users::list()
{
    db::IBQuery &q = m_db.iRead;
    db::Closer closer{q};
    q.close();
    q.setSql(sql::selectUsers());
    q.open();
    QList<UserRecord> out;
    for (; !q.eof(); q.next())
        out << readRow(q);
    return out;
}

std::optional<UserRecord> Users::load(qint64 id)
{
    return select(id, false);
}

// On the read transaction, or inside a unit that writes (its check).
std::optional<UserRecord> Users::select(qint64 id, bool inWrite)
{
    db::IBQuery &q = inWrite ? m_db.iSQL : m_db.iRead;
    db::Closer closer{q};
    q.close();
    q.setSql(sql::selectUser());
    q.setParam(QStringLiteral("pk_id"), id);
    q.open();
    if (q.eof())
        return std::nullopt;
    return readRow(q);
}

QString Users::problem(const UserRecord &user)
{
    const QHash<QString, int> lengths = db::textColumnLengths(m_db.iRead, QStringLiteral("PERS"));
    const struct
    {
        const char *column;
        QString label;
        const QString &value;
    } fields[] = {
        {"FIO", QStringLiteral("ФИО"), user.fio},
        {"LOGIN", QStringLiteral("Логин"), user.login},
        {"PASS", QStringLiteral("Пароль"), user.pass},
        {"LEVEL", QStringLiteral("Доступ"), user.level},
    };
    for (const auto &f : fields) {
        const QString p = db::valueProblem(f.label, f.value, lengths.value(QLatin1String(f.column)));
        if (!p.isEmpty())
            return p;
    }

    // The login is looked up as the login window does, and it takes the last
    // row found: a second holder would lock the first one out.
    db::IBQuery &q = m_db.iRead;
    db::Closer closer{q};
    q.close();
    q.setSql(sql::selectUserByLogin());
    q.setParam(QStringLiteral("login"), user.login);
    q.open();
    qint64 holder = -1;
    QString holderName;
    for (; !q.eof(); q.next()) {
        if (q.asInt(QStringLiteral("pk_id")) != user.id) {
            holder = q.asInt(QStringLiteral("pk_id"));
            holderName = q.asText(QStringLiteral("fio"));
            break;
        }
    }
    if (holder < 0)
        return QString();
    // The stored login may differ in trailing blanks, which the comparison ignores.
    const QString held = load(holder).value_or(UserRecord{}).login;
    return QStringLiteral("Логин «%1» уже занят пользователем «%2».\r"
                          "С одинаковым логином один из них не смог бы войти в программу. Укажите другой логин.")
        .arg(held.isEmpty() ? user.login : held, holderName);
}

// Checked before anything is written, so a refusal rolls nothing back.
void Users::refuseProblem(const UserRecord &user)
{
    const QString p = problem(user);
    if (!p.isEmpty())
        throw db::DbError(p);
}

// The four columns of the insert and the update.
static void bindUser(db::IBQuery &q, const UserRecord &user)
{
    q.setParam(QStringLiteral("fio"), user.fio);
    q.setParam(QStringLiteral("login"), user.login);
    q.setParam(QStringLiteral("pass"), user.pass);
    q.setParam(QStringLiteral("level"), user.level);
}

// A second holder of a login, refused by the database itself (two
// administrators adding it at one moment), is told as problem() tells it.
template <typename F>
static void refusingDuplicateLogin(Users &users, const UserRecord &user, F &&write)
{
    try {
        write();
    } catch (const db::DbError &e) {
        // Refused by the unique index, or met in it while the other was saving.
        if (e.kind() != db::DbError::Kind::DuplicateKey && !e.conflict())
            throw;
        const QString p = users.problem(user);
        if (p.isEmpty())
            throw;
        throw db::DbError(p);
    }
}

void Users::insert(const UserRecord &user)
{
    refuseProblem(user);
    refusingDuplicateLogin(*this, user, [&] {
        inOneCommit(m_db.IBTrans, [&] {
            db::IBQuery &q = m_db.iSQL;
            db::Closer closer{q};
            q.close();
            q.setSql(sql::insertUser());
            bindUser(q, user);
            q.execute();
        });
    });
}

static const QString kAdminStays = QStringLiteral("Имя, логин и уровень доступа администратора («admin») не "
                                                  "меняются: изменить можно только его пароль.");

bool Users::update(const UserRecord &user, const UserRecord &loaded)
{
    refuseProblem(user);
    bool found = false;
    refusingDuplicateLogin(*this, user, [&] {
        found = inOneCommit(m_db.IBTrans, [&] {
            const std::optional<UserRecord> stored = select(user.id, true);
            if (!stored)
                return false;
            if (*stored != loaded)
                throw db::DbError(db::conflictMessage(), false, db::DbError::Kind::Conflict);
            UserRecord written = user;
            if (isAdministrator(stored->login)) {
                // The level as the editor shows it: an odd stored one reads as full.
                const auto shown = [](const QString &level) { return levelOfIndex(levelIndex(level)); };
                if (user.login != stored->login || user.fio != stored->fio || shown(user.level) != shown(stored->level))
                    throw db::DbError(kAdminStays);
                written.level = stored->level;
            }
            db::IBQuery &q = m_db.iSQL;
            db::Closer closer{q};
            q.close();
            q.setSql(sql::updateUser());
            bindUser(q, written);
            q.setParam(QStringLiteral("pk_id"), user.id);
            q.execute();
            return q.rowsAffected() > 0;
        });
    });
    return found;
}

void Users::remove(qint64 id)
{
    inOneCommit(m_db.IBTrans, [&] {
        const std::optional<UserRecord> stored = select(id, true);
        if (stored && isAdministrator(stored->login))
            throw db::DbError(QStringLiteral("Администратора («admin») удалить нельзя: без него некому будет "
                                             "управлять пользователями."));
        db::IBQuery &q = m_db.ibDel5;
        q.close();
        q.setParam(QStringLiteral("pk_id"), id);
        q.execute();
    });
}

} // namespace core
