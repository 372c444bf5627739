#include "cardstore.h"

#include "db/shared.h"
#include "db/statements.h"
#include "commit.h"

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

// The card's row as `q` (a card statement, open) stands on it.
CardRecord readCard(const db::IBQuery &q)
{
    CardRecord r;
    for (const QString &c : cardColumns())
        r.values.insert(c, q.asText(c));
    r.fpath = q.asText(QStringLiteral("fpath"));
    r.sysinfo = q.asText(QStringLiteral("sysinfo"));
    return r;
}

} // namespace

std::optional<CardRecord> readCardRow(db::IBQuery &q, qint64 id)
{
    q.close();
    if (q.sql() != sql::selectCard())
        q.setSql(sql::selectCard());
    q.setParam(QStringLiteral("pk_id"), id);
    q.open();
    std::optional<CardRecord> out;
    if (!q.eof())
        out = readCard(q);
    q.close();
    return out;
}

std::optional<Accounts> readAccountsRow(db::IBQuery &q, qint64 cardId, qint64 *rowId)
{
    q.close();
    q.setSql(sql::selectAccounts());
    q.setParam(QStringLiteral("bs_fk"), cardId);
    q.open();
    std::optional<Accounts> out;
    if (rowId)
        *rowId = 0;
    if (!q.eof()) {
        Accounts a;
        for (int k = 0; k < 4; ++k) {
            a.network[k] = q.asText(QStringLiteral("sn%1").arg(k + 1));
            a.address[k] = q.asText(QStringLiteral("adr%1").arg(k + 1));
        }
        out = a;
        if (rowId)
            *rowId = q.asInt(QStringLiteral("pk_id"));
    }
    q.close();
    return out;
}

namespace {

[[noreturn]] void colleagueChangedIt()
{
    throw db::DbError(db::conflictMessage(), false, db::DbError::Kind::Conflict);
}

} // namespace

std::optional<CardRecord> CardStore::load(qint64 id)
{
    // The read sees each commit at once and holds back none of the engine's
    // clean-up, so a colleague's save can take the old memo's BLOB away
    // between the row and its text. Read again, the row names the new one.
    try {
        return readCardRow(m_db.ibSelect, id);
    } catch (const db::DbError &e) {
        if (!e.fromEngine() || e.kind() == db::DbError::Kind::ConnectionLost)
            throw;
        m_db.ibSelect.close();
    }
    return readCardRow(m_db.ibSelect, id);
}

std::optional<Accounts> CardStore::loadAccounts(qint64 id)
{
    return readAccountsRow(m_db.iRead, id);
}

void CardStore::bindCard(bool insert, const CardRecord &card, qint64 userId)
{
    db::IBQuery &q = insert ? m_db.ibInsert : m_db.ibUpdate;
    for (const QString &c : cardColumns())
        q.setParam(c, card.value(c));
    q.setParam(QStringLiteral("ldt"), userId);
    if (insert) {
        q.setParam(QStringLiteral("fdt"), userId);
        q.setParam(QStringLiteral("fpath"), QString());
        q.setParam(QStringLiteral("sysinfo"), card.sysinfo);
    }
}

qint64 CardStore::insert(const CardRecord &card, qint64 userId, const QString &stamp, const Accounts *accounts)
{
    return inOneCommit(m_db.IBTrans, [&] {
        db::IBQuery &ins = m_db.ibInsert;
        ins.close();
        CardRecord stamped = card;
        stamped.sysinfo = stamp;
        bindCard(true, stamped, userId);
        ins.execute();
        // The id comes back with the row: stamps repeat within a second.
        const qint64 id = ins.asInt(QStringLiteral("pk_id"));
        ins.close();
        if (accounts)
            insertAccounts(id, *accounts);
        return id;
    });
}

bool CardStore::update(qint64 id, const CardRecord &card, qint64 userId, const Accounts *accounts,
                       const CardRecord &loaded, const std::optional<Accounts> &loadedAccounts)
{
    return inOneCommit(m_db.IBTrans, [&] {
        // Checked inside the unit that writes: a colleague committing after
        // this read makes the update below fail as a conflict, so nothing
        // between the card's loading and its save can hide a change.
        const std::optional<CardRecord> stored = readCardRow(m_db.iSQL, id);
        if (!stored)
            return false; // deleted meanwhile: no accounts for a card that is gone
        for (const QString &c : cardColumns())
            if (stored->value(c) != loaded.value(c))
                colleagueChangedIt();
        qint64 accountsRow = 0;
        if (accounts && readAccountsRow(m_db.iSQL, id, &accountsRow) != loadedAccounts)
            colleagueChangedIt();
        db::IBQuery &upd = m_db.ibUpdate;
        upd.close();
        bindCard(false, card, userId);
        upd.setParam(QStringLiteral("pk_id"), id);
        upd.execute();
        if (upd.rowsAffected() == 0)
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
    return inOneCommit(m_db.IBTrans, [&] {
        db::IBQuery &upd = m_db.ibUpdate;
        upd.close();
        bindCard(false, card, userId);
        upd.setParam(QStringLiteral("pk_id"), id);
        upd.execute();
        return upd.rowsAffected() > 0;
    });
}

// Runs the accounts row's insert or update with the four accounts bound.
static void runAccounts(db::IBQuery &q, const QString &statement, const QString &idParam, qint64 id, const Accounts &a)
{
    q.close();
    q.setSql(statement);
    q.setParam(idParam, id);
    for (int k = 0; k < 4; ++k) {
        q.setParam(QStringLiteral("sn%1").arg(k + 1), a.network[k]);
        q.setParam(QStringLiteral("adr%1").arg(k + 1), a.address[k]);
    }
    q.execute();
}

void CardStore::insertAccounts(qint64 cardId, const Accounts &accounts)
{
    runAccounts(m_db.iSQL, sql::insertAccounts(), QStringLiteral("bs_fk"), cardId, accounts);
}

void CardStore::updateAccounts(qint64 accountsId, const Accounts &accounts)
{
    runAccounts(m_db.iSQL, sql::updateAccounts(), QStringLiteral("pk_id"), accountsId, accounts);
}

void CardStore::remove(qint64 id)
{
    // Accounts first, then the card, in one commit: a card is never left
    // without its accounts by a failure between the two.
    inOneCommit(m_db.IBTrans, [&] {
        m_db.ibDel6.close();
        m_db.ibDel6.setParam(QStringLiteral("bs_fk"), id);
        m_db.ibDel6.execute();
        m_db.ibDel.close();
        m_db.ibDel.setParam(QStringLiteral("pk_id"), id);
        m_db.ibDel.execute();
    });
}

} // namespace core
