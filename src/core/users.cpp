#include "users.h"

#include "db/access.h"
#include "db/columns.h"
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

UserRecord readRow(const db::Rows &rows)
{
    UserRecord u;
    u.id = rows.number(QStringLiteral("pk_id"));
    u.fio = rows.text(QStringLiteral("fio"));
    u.login = rows.text(QStringLiteral("login"));
    u.pass = rows.text(QStringLiteral("pass"));
    u.level = rows.text(QStringLiteral("level"));
    return u;
}

// The four columns of the insert and the update.
db::Binds userBinds(const UserRecord &user)
{
    return {{QStringLiteral("fio"), user.fio},
            {QStringLiteral("login"), user.login},
            {QStringLiteral("pass"), user.pass},
            {QStringLiteral("level"), user.level}};
}

} // namespace

QList<UserRecord> Users::list()
{
    db::Rows rows = m_db.read(sql::selectUsers());
    QList<UserRecord> out;
    while (rows.next())
        out << readRow(rows);
    return out;
}

// Inside a unit that writes, read in the unit (its check).
std::optional<UserRecord> Users::load(qint64 id)
{
    db::Rows rows = m_db.read(sql::selectUser(), {{QStringLiteral("pk_id"), id}});
    if (!rows.next())
        return std::nullopt;
    return readRow(rows);
}

QString Users::problem(const UserRecord &user)
{
    const QHash<QString, int> lengths = db::textColumnLengths(m_db, QStringLiteral("PERS"));
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
    qint64 holder = -1;
    QString holderName;
    {
        db::Rows rows = m_db.read(sql::selectUserByLogin(), {{QStringLiteral("login"), user.login}});
        while (rows.next())
            if (rows.number(QStringLiteral("pk_id")) != user.id) {
                holder = rows.number(QStringLiteral("pk_id"));
                holderName = rows.text(QStringLiteral("fio"));
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
    refusingDuplicateLogin(*this, user, [&] { m_db.unit([&] { m_db.write(sql::insertUser(), userBinds(user)); }); });
}

static const QString kAdminStays = QStringLiteral("Имя, логин и уровень доступа администратора («admin») не "
                                                  "меняются: изменить можно только его пароль.");

bool Users::update(const UserRecord &user, const UserRecord &loaded)
{
    refuseProblem(user);
    bool found = false;
    refusingDuplicateLogin(*this, user, [&] {
        found = m_db.unit([&] {
            const std::optional<UserRecord> stored = load(user.id);
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
            db::Binds binds = userBinds(written);
            binds.emplace_back(QStringLiteral("pk_id"), user.id);
            return m_db.write(sql::updateUser(), binds).affected() > 0;
        });
    });
    return found;
}

void Users::remove(qint64 id)
{
    m_db.unit([&] {
        const std::optional<UserRecord> stored = load(id);
        if (stored && isAdministrator(stored->login))
            throw db::DbError(QStringLiteral("Администратора («admin») удалить нельзя: без него некому будет "
                                             "управлять пользователями."));
        m_db.write(sql::deleteUser(), {{QStringLiteral("pk_id"), id}});
    });
}

} // namespace core
