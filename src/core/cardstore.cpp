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

std::optional<CardRecord> CardStore::load(qint64 id)
{
    m_db.IBTrans.refresh(); // the card as it is stored now, colleagues' saves included
    db::IBQuery &q = m_db.ibSelect;
    q.close();
    q.setParam(QStringLiteral("pk_id"), id);
    q.open();
    if (q.eof()) {
        q.close();
        return std::nullopt;
    }
    CardRecord r;
    for (const QString &c : cardColumns())
        r.values.insert(c, q.asText(c));
    r.fpath = q.asText(QStringLiteral("fpath"));
    r.sysinfo = q.asText(QStringLiteral("sysinfo"));
    q.close();
    return r;
}

std::optional<Accounts> CardStore::loadAccounts(qint64 id)
{
    db::IBQuery &q = m_db.iSQL;
    q.close();
    q.setSql(sql::selectAccounts());
    q.setParam(QStringLiteral("bs_fk"), id);
    q.open();
    std::optional<Accounts> out;
    if (!q.eof()) {
        Accounts a;
        for (int k = 0; k < 4; ++k) {
            a.network[k] = q.asText(QStringLiteral("sn%1").arg(k + 1));
            a.address[k] = q.asText(QStringLiteral("adr%1").arg(k + 1));
        }
        out = a;
    }
    q.close();
    return out;
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
            InsertAccounts(id, *accounts);
        return id;
    });
}

bool CardStore::update(qint64 id, const CardRecord &card, qint64 userId, const Accounts *accounts)
{
    return inOneCommit(m_db.IBTrans, [&] {
        db::IBQuery &upd = m_db.ibUpdate;
        upd.close();
        bindCard(false, card, userId);
        upd.setParam(QStringLiteral("pk_id"), id);
        upd.execute();
        if (upd.rowsAffected() == 0)
            return false; // deleted meanwhile: no accounts for a card that is gone
        if (accounts)
            writeAccounts(id, *accounts);
        return true;
    });
}

void CardStore::writeAccounts(qint64 cardId, const Accounts &accounts)
{
    db::IBQuery &q = m_db.iSQL;
    q.close();
    q.setSql(sql::selectAccountsId());
    q.setParam(QStringLiteral("bs_fk"), cardId);
    q.open();
    if (!q.eof()) {
        const qint64 accountsId = q.asInt(QStringLiteral("pk_id"));
        q.close();
        UpdateAccounts(accountsId, accounts);
    } else {
        q.close();
        InsertAccounts(cardId, accounts);
    }
}

// Runs the accounts row's insert or update with the four accounts bound.
static void runAccounts(db::IBQuery &q, const QString &statement, const QString &idParam, qint64 id,
                        const Accounts &a)
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

void CardStore::InsertAccounts(qint64 cardId, const Accounts &accounts)
{
    runAccounts(m_db.iSQL, sql::insertAccounts(), QStringLiteral("bs_fk"), cardId, accounts);
}

void CardStore::UpdateAccounts(qint64 accountsId, const Accounts &accounts)
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
