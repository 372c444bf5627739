#include "cardstore.h"

#include "db/access.h"
#include "db/statements.h"

namespace core {

const QStringList &cardColumns()
{
    static const QStringList cols = [] {
        QStringList c = sql::baseUpdateColumns();
        c.removeAll(QStringLiteral("ldt"));
        return c;
    }();
    return cols;
}

namespace {

// The card's row as `rows` (a card statement's) stands on it.
CardRecord readCard(const db::Rows &rows)
{
    CardRecord r;
    for (const QString &c : cardColumns())
        r.values.insert(c, rows.text(c));
    r.fpath = rows.text(QStringLiteral("fpath"));
    r.sysinfo = rows.text(QStringLiteral("sysinfo"));
    return r;
}

// The card's columns as the insert (with its first user, empty photo path
// and stamp) or the update binds them.
db::Binds cardBinds(bool insert, const CardRecord &card, qint64 userId)
{
    db::Binds binds;
    binds.reserve(size_t(cardColumns().size()) + 5);
    for (const QString &c : cardColumns())
        binds.emplace_back(c, card.value(c));
    binds.emplace_back(QStringLiteral("ldt"), userId);
    if (insert) {
        binds.emplace_back(QStringLiteral("fdt"), userId);
        binds.emplace_back(QStringLiteral("fpath"), QString());
        binds.emplace_back(QStringLiteral("sysinfo"), card.sysinfo);
    }
    return binds;
}

[[noreturn]] void colleagueChangedIt()
{
    throw db::DbError(db::conflictMessage(), false, db::DbError::Kind::Conflict);
}

// Runs the accounts row's insert or update with the four accounts bound.
void runAccounts(db::Access &db, const QString &statement, const QString &idParam, qint64 id, const Accounts &a)
{
    db::Binds binds{{idParam, id}};
    for (int k = 0; k < 4; ++k) {
        binds.emplace_back(QStringLiteral("sn%1").arg(k + 1), a.network[k]);
        binds.emplace_back(QStringLiteral("adr%1").arg(k + 1), a.address[k]);
    }
    db.write(statement, binds);
}

} // namespace

std::optional<CardRecord> readCardRow(db::Access &db, qint64 id)
{
    db::Rows rows = db.read(sql::selectCard(), {{QStringLiteral("pk_id"), id}});
    if (!rows.next())
        return std::nullopt;
    return readCard(rows);
}

std::optional<Accounts> readAccountsRow(db::Access &db, qint64 cardId, qint64 *rowId)
{
    if (rowId)
        *rowId = 0;
    db::Rows rows = db.read(sql::selectAccounts(), {{QStringLiteral("bs_fk"), cardId}});
    if (!rows.next())
        return std::nullopt;
    Accounts a;
    for (int k = 0; k < 4; ++k) {
        a.network[k] = rows.text(QStringLiteral("sn%1").arg(k + 1));
        a.address[k] = rows.text(QStringLiteral("adr%1").arg(k + 1));
    }
    if (rowId)
        *rowId = rows.number(QStringLiteral("pk_id"));
    return a;
}

std::optional<CardRecord> CardStore::load(qint64 id)
{
    // The read sees each commit at once and holds back none of the engine's
    // clean-up, so a colleague's save can take the old memo's BLOB away
    // between the row and its text. Read again, the row names the new one.
    try {
        return readCardRow(m_db, id);
    } catch (const db::DbError &e) {
        if (!e.fromEngine() || e.kind() == db::DbError::Kind::ConnectionLost)
            throw;
    }
    return readCardRow(m_db, id);
}

std::optional<Accounts> CardStore::loadAccounts(qint64 id)
{
    return readAccountsRow(m_db, id);
}

qint64 CardStore::insert(const CardRecord &card, qint64 userId, const QString &stamp, const Accounts *accounts)
{
    return m_db.unit([&] {
        CardRecord stamped = card;
        stamped.sysinfo = stamp;
        db::Rows inserted = m_db.write(sql::insertCard(), cardBinds(true, stamped, userId));
        // The id comes back with the row: stamps repeat within a second.
        inserted.next();
        const qint64 id = inserted.number(QStringLiteral("pk_id"));
        if (accounts)
            insertAccounts(id, *accounts);
        return id;
    });
}

bool CardStore::update(qint64 id, const CardRecord &card, qint64 userId, const Accounts *accounts,
                       const CardRecord &loaded, const std::optional<Accounts> &loadedAccounts)
{
    return m_db.unit([&] {
        // Checked inside the unit that writes: a colleague committing after
        // this read makes the update below fail as a conflict, so nothing
        // between the card's loading and its save can hide a change.
        const std::optional<CardRecord> stored = readCardRow(m_db, id);
        if (!stored)
            return false; // deleted meanwhile: no accounts for a card that is gone
        for (const QString &c : cardColumns())
            if (stored->value(c) != loaded.value(c))
                colleagueChangedIt();
        qint64 accountsRow = 0;
        if (accounts && readAccountsRow(m_db, id, &accountsRow) != loadedAccounts)
            colleagueChangedIt();
        if (!write(id, card, userId))
            return false;
        if (accounts) {
            if (accountsRow)
                updateAccounts(accountsRow, *accounts);
            else
                insertAccounts(id, *accounts);
        }
        return true;
    });
}

bool CardStore::write(qint64 id, const CardRecord &card, qint64 userId)
{
    return m_db.unit([&] {
        db::Binds binds = cardBinds(false, card, userId);
        binds.emplace_back(QStringLiteral("pk_id"), id);
        return m_db.write(sql::updateCard(), binds).affected() > 0;
    });
}

void CardStore::insertAccounts(qint64 cardId, const Accounts &accounts)
{
    runAccounts(m_db, sql::insertAccounts(), QStringLiteral("bs_fk"), cardId, accounts);
}

void CardStore::updateAccounts(qint64 accountsId, const Accounts &accounts)
{
    runAccounts(m_db, sql::updateAccounts(), QStringLiteral("pk_id"), accountsId, accounts);
}

void CardStore::remove(qint64 id)
{
    // Accounts first, then the card, in one commit: a card is never left
    // without its accounts by a failure between the two.
    m_db.unit([&] {
        m_db.write(sql::deleteAccounts(), {{QStringLiteral("bs_fk"), id}});
        m_db.write(sql::deleteCard(), {{QStringLiteral("pk_id"), id}});
    });
}

} // namespace core
