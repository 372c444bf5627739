// The index kept current: the change log taken in, changed cards placed
// anew in the orders, old versions written out.

#include "searchindex_p.h"

#include "db/access.h"
#include "db/cp1251.h"

#include <QByteArray>

namespace core {

using namespace indexdetail;

void SearchIndex::sync(bool settle)
{
    try {
        syncOrThrow(settle);
    } catch (...) {
        // Half taken in, the index would lack cards for good: it is read anew
        // at the next search instead (beside the window when built there).
        m_ready = false;
        m_wantsRebuild = !m_inline;
        throw;
    }
}

bool SearchIndex::settleIfDue()
{
    if (!m_ready || m_settledAt.elapsed() <= 2000)
        return false;
    const quint64 before = m_version;
    sync();
    return m_version != before || !m_ready;
}

void SearchIndex::syncOrThrow(bool settleDue)
{
    // Now and then the mark moves on to the oldest transaction still running:
    // it is read before the log, so every older one is in what is read.
    qint64 settle = -1;
    if (settleDue && m_settledAt.elapsed() > 2000) {
        bool logged = false;
        {
            db::Rows rows = m_db.read(
                QStringLiteral("SELECT MON$OLDEST_ACTIVE AS oat, (SELECT COUNT(*) FROM RDB$TRIGGERS "
                               "WHERE RDB$TRIGGER_NAME = 'BASE_CHANGED' AND COALESCE(RDB$TRIGGER_INACTIVE, 0) = 0) "
                               "AS logged FROM MON$DATABASE"));
            if (rows.next()) {
                settle = rows.number(0);
                logged = rows.number(1) > 0;
            }
        }
        if (!logged) { // someone turned the log off: the list statement serves until it is back
            m_ready = false;
            m_unusable = true;
            m_unusableSince.start();
            return;
        }
        // Fewer transactions than before: another database under the same
        // name (restored from a copy); nothing read so far holds.
        if (settle < m_settled) {
            reload();
            return;
        }
    }
    std::vector<qint32> changed;
    bool cleared = false;
    auto readLog = [&] {
        for (db::Rows rows = m_db.read(QStringLiteral("SELECT txn, card, IIF(card IS NULL, 1, 0) AS cleared "
                                                      "FROM base_changes WHERE txn >= :txn"),
                                       {{QStringLiteral("txn"), m_settled}});
             rows.next();) {
            if (rows.number(2)) { // rows of transactions below were cleared away (or the log was off)
                cleared |= m_seen.insert({rows.number(0), kMarker}).second && rows.number(0) > m_settled;
                continue;
            }
            const std::pair<qint64, qint32> change{rows.number(0), qint32(rows.number(1))};
            if (m_seen.insert(change).second)
                changed.push_back(change.second);
        }
    };
    auto settled = [&] {
        if (settle >= 0) {
            m_settled = settle;
            m_settledAt.start();
            m_seen.erase(m_seen.begin(), m_seen.lower_bound({settle, std::numeric_limits<qint32>::min()}));
        }
    };
    // Most searches find the log as it was: one cheap read, outside any
    // snapshot.
    readLog();
    if (cleared) {
        reload();
        return;
    }
    if (changed.empty()) {
        settled();
        return;
    }
    // Changes are taken in within one snapshot, in which the log, the
    // changed cards and the cards they are compared with to find their
    // places agree.
    const bool taken = m_db.snapshot([&] {
        readLog();
        if (cleared)
            return false;
        settled();
        std::sort(changed.begin(), changed.end());
        changed.erase(std::unique(changed.begin(), changed.end()), changed.end());
        if (changed.size() > (m_inline ? kMostChangesApplied : kMostChangesInBackground))
            return false;
        refresh(changed);
        return true;
    });
    if (!taken)
        reload();
}

// Reads the changed cards again: each takes its place in the orders anew,
// found by the database's own comparison with the cards around it.
void SearchIndex::refresh(const std::vector<qint32> &ids)
{
    m_version = nextVersion();
    std::vector<uint32_t> old;
    for (qint32 id : ids)
        if (const uint32_t at = m_slotOf.find(id); at != SlotOf::kNone)
            old.push_back(at);
    unplace(old);
    struct Placed
    {
        uint32_t slot;
        std::array<QByteArray, 3> key;
        std::array<bool, 3> null;
    };
    std::vector<Placed> placed;
    Cells cells;
    const QString card = QStringLiteral("SELECT ") + kColumnsRead + QStringLiteral(" FROM base WHERE pk_id = :id");
    for (qint32 id : ids) {
        db::Rows rows = m_db.read(card, {{QStringLiteral("id"), qint64(id)}});
        if (!rows.next()) { // deleted
            if (const uint32_t at = m_slotOf.find(id); at != SlotOf::kNone) {
                Slot &s = m_slots[at];
                m_garbage += bytesOf(s);
                s.live = false;
                m_slotOf.erase(id);
                --m_live;
            }
            continue;
        }
        rows.cells(cells.v);
        store(cells);
        Placed p{m_slotOf.find(id), {}, {}};
        for (int sort = 0; sort < 3; ++sort) {
            const std::string_view k = cells.text(kSortColumn[sort]);
            p.key[size_t(sort)] = QByteArray(k.data(), qsizetype(k.size()));
            p.null[size_t(sort)] = cells.null(kSortColumn[sort]);
        }
        placed.push_back(p);
    }
    for (const Placed &p : placed)
        for (int sort = 0; sort < 3; ++sort)
            if (m_orderLoaded[size_t(sort)])
                place(sort, p.slot,
                      std::string_view(p.key[size_t(sort)].constData(), size_t(p.key[size_t(sort)].size())),
                      p.null[size_t(sort)]);
    compactIfWasteful();
}

void SearchIndex::unplace(const std::vector<uint32_t> &gone)
{
    if (gone.empty())
        return;
    std::vector<bool> leaving(m_slots.size());
    for (uint32_t s : gone)
        leaving[s] = true;
    for (int sort = 0; sort < 3; ++sort) {
        if (!m_orderLoaded[size_t(sort)])
            continue;
        std::erase_if(m_order[size_t(sort)], [&leaving](uint32_t s) { return leaving[s]; });
        m_positionValid[size_t(sort)] = false;
    }
}

void SearchIndex::place(int sort, uint32_t slot, std::string_view key, bool keyNull)
{
    std::vector<uint32_t> &order = m_order[size_t(sort)];
    const QString column = QLatin1String(kSortColumn[sort] == Fam    ? "fam"
                                         : kSortColumn[sort] == Work ? "work"
                                                                     : "post");
    const QString compare = QStringLiteral("SELECT IIF(b.%1 IS NULL, 1, 0) AS othernull, "
                                           "IIF(CAST(:v AS VARCHAR(8000) CHARACTER SET WIN1251) COLLATE PXW_CYRL < "
                                           "b.%1 COLLATE PXW_CYRL, 1, 0) AS before FROM base b WHERE b.pk_id = :id")
                                .arg(column);
    const db::Bind value = keyNull ? db::Bind::null(QStringLiteral("v"))
                                   : db::Bind(QStringLiteral("v"), cp1251::decode(key.data(), qsizetype(key.size())));
    // The first card this one sorts before; cards of an equal key stay first.
    size_t lo = 0, hi = order.size();
    while (lo < hi) {
        const size_t mid = (lo + hi) / 2;
        db::Rows rows = m_db.read(compare, {value, {QStringLiteral("id"), qint64(m_slots[order[mid]].id)}});
        // A card deleted meanwhile counts as sorting before (it leaves with the log).
        const bool there = rows.next();
        const bool otherNull = there && rows.number(0) == 1;
        const bool before = there && (keyNull ? !otherNull : (!otherNull && rows.number(1) == 1));
        if (before)
            hi = mid;
        else
            lo = mid + 1;
    }
    order.insert(order.begin() + qsizetype(lo), slot);
    m_positionValid[size_t(sort)] = false;
}

// Once half of what the index holds is old versions, it is written anew.
void SearchIndex::compactIfWasteful()
{
    if (m_garbage < m_arena.used() / 2)
        return;
    Arena fresh;
    for (Slot &s : m_slots)
        if (s.live)
            s.row = fresh.append(m_arena.at(s.row), bytesOf(s));
    m_arena.swap(fresh);
    m_garbage = 0;
}

} // namespace core
