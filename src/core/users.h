#pragma once
// The users of the program (table pers): the list, one user, and the changes
// that user administration makes, each committed at once.

#include <QList>
#include <QString>
#include <optional>

namespace db {
class Access;
}

namespace core {

struct UserRecord
{
    qint64 id = -1; // pk_id; -1 for a user not stored yet
    QString fio;
    QString login;
    QString pass;
    QString level; // "read", "full", or whatever another program stored
    bool operator==(const UserRecord &) const = default;
};

// The level as the user list shows it: "read" is read-only, anything else full.
QString levelText(const QString &level);
// The editor's level list: index 0 read-only, 1 full.
int levelIndex(const QString &level);
QString levelOfIndex(int index);

class Users
{
public:
    explicit Users(db::Access &db) : m_db(db) {}

    // Every user, ordered by full name in Cyrillic alphabetical order.
    QList<UserRecord> list();
    // One user by id; nothing when there is no such row.
    std::optional<UserRecord> load(qint64 id);

    // Why `user` cannot be stored as it is: a text the database cannot hold,
    // or a login that another user already holds. Empty when it can.
    QString problem(const UserRecord &user);
    // Store a new user, or change the stored one with the same id, after
    // problem() found nothing (else a DbError with its text is thrown).
    void insert(const UserRecord &user);
    // Only while the stored user is still `loaded` (else a DbError of kind
    // Conflict, nothing stored). The administrator keeps name, login and
    // level whatever is asked: only the password changes. False when the
    // user no longer exists: nothing is stored then.
    bool update(const UserRecord &user, const UserRecord &loaded);
    // The administrator is never deleted (a DbError says why).
    void remove(qint64 id);

    // The administrator: the user whose login is exactly this.
    static bool isAdministrator(const QString &login) { return login == QLatin1String("admin"); }

private:
    void refuseProblem(const UserRecord &user);

    db::Access &m_db;
};

} // namespace core
