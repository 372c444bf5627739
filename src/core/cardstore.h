#pragma once
// A person card in the database: its row of Base and its accounts row, read,
// inserted, updated and deleted.

#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>

namespace db {
class Access;
}

namespace core {

// The social-network accounts of a card, four side by side.
struct Accounts
{
    QString network[4];
    QString address[4];
    bool operator==(const Accounts &) const = default;
};

// One card as stored: the columns the card window edits, by lower-case column
// name, in their stored forms (date texts, flags "1"/"0", notes with CR LF),
// and the two columns set once, when the card is first stored.
struct CardRecord
{
    QHash<QString, QString> values;
    QString fpath;
    QString sysinfo;

    QString value(const QString &column) const { return values.value(column); }
};

// The columns a card edits, in the order of the update statement.
const QStringList &cardColumns();

// The card's row; its first accounts row, with that row's id in `rowId` (0
// when it has none). Inside a unit they are read as the unit sees them.
std::optional<CardRecord> readCardRow(db::Access &db, qint64 id);
std::optional<Accounts> readAccountsRow(db::Access &db, qint64 cardId, qint64 *rowId = nullptr);

class CardStore
{
public:
    explicit CardStore(db::Access &db) : m_db(db) {}

    // The card's row; nothing when it does not exist.
    std::optional<CardRecord> load(qint64 id);
    // The card's first accounts row; nothing when it has none.
    std::optional<Accounts> loadAccounts(qint64 id);

    // Stores a new card (its id read back with RETURNING) with
    // `userId` as creator and last editor, and its accounts when given, in
    // one commit: a card is stored whole or not at all. Returns its id.
    qint64 insert(const CardRecord &card, qint64 userId, const QString &stamp, const Accounts *accounts);
    // Stores an edited card and, when given, its accounts (the
    // card's accounts row updated, or inserted if it has none) in one commit,
    // but only while the stored card is still the one `loaded` holds (and its
    // stored accounts still `loadedAccounts`, when accounts are written):
    // otherwise a colleague's change would be overwritten, and a DbError of
    // kind Conflict is thrown with nothing stored. False when the card no
    // longer exists: nothing is stored then.
    bool update(qint64 id, const CardRecord &card, qint64 userId, const Accounts *accounts, const CardRecord &loaded,
                const std::optional<Accounts> &loadedAccounts);
    // The update statement alone, as part of the unit that runs: false when
    // the card no longer exists.
    bool write(qint64 id, const CardRecord &card, qint64 userId);
    // Deletes the card's accounts, then the card, in one commit.
    void remove(qint64 id);

    // The accounts row's statements, run inside a save.
    void insertAccounts(qint64 cardId, const Accounts &accounts);
    void updateAccounts(qint64 accountsId, const Accounts &accounts);

private:
    db::Access &m_db;
};

} // namespace core
