// The index kept current: the change log taken in, changed cards placed
// anew in the orders, old versions written out.

#include "searchindex_p.h"

#include "db/access.h"
#include "db/cp1251.h"

#include <QByteArray>
#include <unordered_set>

namespace core {

using namespace indexdetail;

void SearchIndex::sync(bool settle)
{
    if (m_wantsCatchUp)
        return; // read beside meanwhile, from this state
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
    std::vector<std::pair<qint64, qint32>> fresh; // the log's rows not taken in yet
    qint64 firstChange = 0;                       // the oldest transaction of those
    bool cleared = false;
    const bool learned = placeByLearnedOrder && m_collation.usable();
    const size_t most = learned ? mostChangesHere : m_inline ? kMostChangesApplied : kMostChangesInBackground;
    // Stops past `most` new rows: so many are read again beside the window
    // (or the index is read anew), not here.
    bool tooMany = false;
    std::unordered_set<qint32> distinct;
    auto readLog = [&] {
        tooMany = false;
        distinct.clear();
        changed.clear();
        fresh.clear();
        firstChange = std::numeric_limits<qint64>::max();
        for (db::Rows rows = m_db.read(QStringLiteral("SELECT txn, card, IIF(card IS NULL, 1, 0) AS cleared "
                                                      "FROM base_changes WHERE txn >= :txn"),
                                       {{QStringLiteral("txn"), m_settled}});
             rows.next();) {
            if (rows.number(2)) { // rows of transactions below were cleared away (or the log was off)
                cleared |= m_seen.insert({rows.number(0), kMarker}).second && rows.number(0) > m_settled;
                continue;
            }
            const std::pair<qint64, qint32> change{rows.number(0), qint32(rows.number(1))};
            if (!m_seen.contains(change)) {
                fresh.push_back(change);
                firstChange = std::min(firstChange, change.first);
                // A card updated by many statements has as many rows.
                if (distinct.insert(change.second).second)
                    changed.push_back(change.second);
                if (changed.size() > most) {
                    tooMany = true;
                    break;
                }
            }
        }
        std::sort(changed.begin(), changed.end());
        changed.erase(std::unique(changed.begin(), changed.end()), changed.end());
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
    if (tooMany || changed.size() > most) {
        catchUpOrReload();
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
        if (tooMany || changed.size() > most) {
            tooMany = true;
            return true;
        }
        settled();
        if (!refresh(changed, firstChange))
            return false;
        m_seen.insert(fresh.begin(), fresh.end());
        return true;
    });
    if (tooMany)
        catchUpOrReload();
    else if (!taken)
        reload();
}

void SearchIndex::catchUpOrReload()
{
    if (!placeByLearnedOrder || !m_collation.usable()) {
        reload(); // each would have to be placed by asking the database
        return;
    }
    if (m_inline) {
        takeCatchUp(readCatchUp(m_db));
        return;
    }
    m_wantsCatchUp = true;
}

std::unique_ptr<SearchIndex::CatchUp> SearchIndex::readCatchUp(db::Access &db, const std::atomic<bool> *cancel) const
{
    auto c = std::make_unique<CatchUp>();
    c->version = m_version;
    auto stopped = [cancel] { return cancel && cancel->load(); };
    // Transactions older than the oldest one running now have ended before
    // the snapshot below begins: the mark moves on to it with this catch-up,
    // so that the searches after it do not read the same rows of the log
    // again and again until the next settling.
    {
        db::Rows rows = db.read(QStringLiteral("SELECT MON$OLDEST_ACTIVE AS oat FROM MON$DATABASE"));
        c->settle = rows.next() ? rows.number(0) : -1;
    }
    std::vector<qint32> ids;
    // The log and the changed cards, in one snapshot.
    const bool read = db.snapshot([&] {
        qint64 firstChange = std::numeric_limits<qint64>::max();
        for (db::Rows rows = db.read(QStringLiteral("SELECT txn, card, IIF(card IS NULL, 1, 0) AS cleared "
                                                    "FROM base_changes WHERE txn >= :txn"),
                                     {{QStringLiteral("txn"), m_settled}});
             rows.next();) {
            if (stopped())
                return false;
            if (rows.number(2)) {
                if (rows.number(0) > m_settled && !m_seen.contains({rows.number(0), kMarker}))
                    c->readAnew = true;
                continue;
            }
            const std::pair<qint64, qint32> change{rows.number(0), qint32(rows.number(1))};
            if (!m_seen.contains(change)) {
                c->logged.push_back(change);
                ids.push_back(change.second);
                firstChange = std::min(firstChange, change.first);
            }
        }
        if (c->readAnew || ids.empty())
            return true;
        std::sort(ids.begin(), ids.end());
        ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
        auto next = uint32_t(m_slots.size()); // the slots new cards will have, in turn
        const std::vector<bool> found = readChanged(db, ids, firstChange, [&](const Cells &cells, qint32 id) {
            if (stopped())
                return false;
            CatchUp::Card card;
            card.at = uint32_t(c->bytes.size());
            card.encoded = encode(cells, c->bytes);
            card.size = uint32_t(c->bytes.size() - card.at);
            card.slot = m_slotOf.find(id);
            if (card.slot == SlotOf::kNone)
                card.slot = next++;
            c->cards.push_back(card);
            return true;
        });
        if (stopped())
            return false;
        for (size_t i = 0; i < ids.size(); ++i)
            if (!found[i])
                if (const uint32_t at = m_slotOf.find(ids[i]); at != SlotOf::kNone) {
                    CatchUp::Card card;
                    card.gone = true;
                    card.slot = at;
                    card.encoded.slot.id = ids[i];
                    c->cards.push_back(card);
                }
        return true;
    });
    if (!read)
        return nullptr;
    if (c->readAnew)
        return c;

    // Each order without the changed cards, then merged with them in their
    // new places, as placeLearned does on the searching thread.
    std::vector<bool> leaving(m_slots.size());
    for (const CatchUp::Card &card : c->cards)
        if (card.slot < leaving.size())
            leaving[card.slot] = true;
    for (int sort = 0; sort < 3; ++sort) {
        if (!m_orderLoaded[size_t(sort)])
            continue;
        struct Added
        {
            std::string_view key;
            bool null;
            uint32_t slot;
        };
        std::vector<Added> added;
        for (const CatchUp::Card &card : c->cards) {
            if (card.gone)
                continue;
            bool null = false;
            const std::string_view key = sortKeyIn(c->bytes.data() + card.at, card.encoded.slot, sort, null);
            if (!null && !m_collation.knows(key)) {
                c->readAnew = true;
                return c;
            }
            added.push_back({key, null, card.slot});
        }
        std::stable_sort(added.begin(), added.end(), [this](const Added &a, const Added &b) {
            return compareKeys(a.key, a.null, b.key, b.null) < 0;
        });
        std::vector<uint32_t> kept;
        kept.reserve(m_order[size_t(sort)].size());
        for (uint32_t s : m_order[size_t(sort)])
            if (!leaving[s])
                kept.push_back(s);
        if (stopped())
            return nullptr;
        std::vector<uint32_t> &order = c->order[size_t(sort)];
        order.reserve(kept.size() + added.size());
        auto from = kept.cbegin();
        for (size_t i = 0; i < added.size(); ++i) {
            const Added &a = added[i];
            if (i % 4096 == 0 && stopped())
                return nullptr;
            // After the cards of an equal key, as when the database is asked.
            const auto to = std::upper_bound(from, kept.cend(), a, [this, sort](const Added &x, uint32_t s) {
                bool null = false;
                const std::string_view key = sortKey(m_slots[s], sort, null);
                return compareKeys(x.key, x.null, key, null) < 0;
            });
            order.insert(order.end(), from, to);
            order.push_back(a.slot);
            from = to;
        }
        order.insert(order.end(), from, kept.cend());
    }
    return c;
}

void SearchIndex::takeCatchUp(std::unique_ptr<CatchUp> c)
{
    m_wantsCatchUp = false;
    if (!c || c->readAnew || c->version != m_version || !m_ready) {
        reload();
        return;
    }
    m_version = nextVersion();
    try {
        for (const CatchUp::Card &card : c->cards) {
            if (card.gone) {
                drop(card.encoded.slot.id);
                continue;
            }
            if (put(card.encoded, c->bytes.data() + card.at, card.size) != card.slot) {
                reload(); // cannot be: the index was not to change meanwhile
                return;
            }
        }
    } catch (...) {
        // Half taken in (no room left for 32-bit references): read anew.
        reload();
        throw;
    }
    for (int sort = 0; sort < 3; ++sort)
        if (m_orderLoaded[size_t(sort)]) {
            m_order[size_t(sort)].swap(c->order[size_t(sort)]);
            m_positionValid[size_t(sort)] = false;
        }
    if (c->settle > m_settled) {
        m_settled = c->settle;
        m_seen.erase(m_seen.begin(), m_seen.lower_bound({m_settled, std::numeric_limits<qint32>::min()}));
    }
    // Those below the mark are never read again: an import's million pairs
    // are not kept only to be let go.
    for (const auto &pair : c->logged)
        if (pair.first >= m_settled)
            m_seen.insert(pair);
    compactIfWasteful();
}

void SearchIndex::drop(qint32 id)
{
    if (const uint32_t at = m_slotOf.find(id); at != SlotOf::kNone) {
        Slot &s = m_slots[at];
        m_garbage += bytesOf(s);
        s.live = false;
        m_slotOf.erase(id);
        --m_live;
    }
}

// Reads the changed cards again (sorted, each once): each takes its place in
// the orders anew, found by the learned order of the database's collation,
// or else by the database's own comparison with the cards around it.
bool SearchIndex::refresh(const std::vector<qint32> &ids, qint64 fromTxn)
{
    m_version = nextVersion();
    std::vector<uint32_t> old;
    for (qint32 id : ids)
        if (const uint32_t at = m_slotOf.find(id); at != SlotOf::kNone)
            old.push_back(at);
    unplace(old);
    std::vector<uint32_t> placed;
    const std::vector<bool> found = readChanged(m_db, ids, fromTxn, [&](const Cells &cells, qint32 id) {
        store(cells);
        placed.push_back(m_slotOf.find(id));
        return true;
    });
    for (size_t i = 0; i < ids.size(); ++i)
        if (!found[i]) // deleted
            drop(ids[i]);
    // A text with a byte the order was not learned for (a NUL a tool wrote)
    // is placed by asking, and so is every later one.
    if (m_collation.usable())
        for (uint32_t slot : placed)
            for (int sort = 0; sort < 3; ++sort)
                if (!keyKnown(m_slots[slot], sort))
                    m_collation.forget();
    const bool learned = placeByLearnedOrder && m_collation.usable();
    // Too many to place by asking: read anew instead (what was taken in so
    // far is dropped with the rest).
    if (!learned && placed.size() > (m_inline ? kMostChangesApplied : kMostChangesInBackground))
        return false;
    for (int sort = 0; sort < 3; ++sort) {
        if (!m_orderLoaded[size_t(sort)])
            continue;
        if (learned) {
            placeLearned(sort, placed);
            continue;
        }
        for (uint32_t slot : placed) {
            bool null = false;
            const std::string_view key = sortKey(m_slots[slot], sort, null);
            place(sort, slot, key, null);
        }
    }
    compactIfWasteful();
    return true;
}

std::vector<bool> SearchIndex::readChanged(db::Access &db, const std::vector<qint32> &ids, qint64 fromTxn,
                                           const std::function<bool(const Cells &, qint32)> &take) const
{
    std::vector<bool> found(ids.size());
    Cells cells;
    // Read through the log's rows, in the snapshot the log was read in: one
    // statement of the same text each time, whatever the number of cards
    // (a list of their ids in the statement costs the engine a compilation
    // and memory of its own each time).
    for (db::Rows rows = db.read(QStringLiteral("SELECT ") + kColumnsRead +
                                     QStringLiteral(" FROM base_changes c JOIN base b ON b.pk_id = c.card "
                                                    "WHERE c.txn >= :txn"),
                                 {{QStringLiteral("txn"), fromTxn}});
         rows.next();) {
        rows.cells(cells.v);
        const auto at = std::lower_bound(ids.begin(), ids.end(), qint32(cells.id()));
        if (at == ids.end() || *at != cells.id() || found[size_t(at - ids.begin())])
            continue; // taken in before, or met again in a later transaction
        found[size_t(at - ids.begin())] = true;
        if (!take(cells, *at))
            break;
    }
    return found;
}

std::string_view SearchIndex::sortKey(const Slot &s, int sort, bool &null) const
{
    return sortKeyIn(m_arena.at(s.row), s, sort, null);
}

std::string_view SearchIndex::sortKeyIn(const char *row, const Slot &s, int sort, bool &null)
{
    const Column c = kSortColumn[sort];
    null = (s.nulls >> c) & 1;
    // The row's cells are the id, "fam name1 name2", "work dep", post...:
    // the order's text starts the cell after the id, the next or the one after.
    const char *p = row;
    for (int cell = 0; cell <= sort; ++cell) {
        uint16_t len;
        std::memcpy(&len, p, 2);
        p += 2 + len;
    }
    return std::string_view(p + 2, s.length[size_t(c)]);
}

bool SearchIndex::keyKnown(const Slot &s, int sort) const
{
    bool null = false;
    return m_collation.knows(sortKey(s, sort, null));
}

int SearchIndex::compareSlots(uint32_t a, uint32_t b, int sort) const
{
    bool nullA = false, nullB = false;
    const std::string_view x = sortKey(m_slots[a], sort, nullA);
    const std::string_view y = sortKey(m_slots[b], sort, nullB);
    return compareKeys(x, nullA, y, nullB);
}

int SearchIndex::compareKeys(std::string_view x, bool nullX, std::string_view y, bool nullY) const
{
    if (nullX || nullY)
        return int(nullY) - int(nullX);
    return m_collation.compare(x, y);
}

bool SearchIndex::followsLearnedOrder(int sort, const std::vector<bool> &passedOver) const
{
    uint32_t before = UINT32_MAX;
    for (uint32_t slot : m_order[size_t(sort)]) {
        if (!keyKnown(m_slots[slot], sort))
            return false;
        if (passedOver[slot])
            continue;
        if (before != UINT32_MAX && compareSlots(before, slot, sort) > 0)
            return false;
        before = slot;
    }
    return true;
}

void SearchIndex::sortLearned(int sort)
{
    // The keys where they lie, 16 bytes a card while sorting.
    struct Keyed
    {
        const char *key;
        uint32_t slot;
        uint8_t length;
        bool null;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(size_t(m_live));
    for (uint32_t i = 0; i < m_slots.size(); ++i)
        if (m_slots[i].live) {
            bool null = false;
            const std::string_view k = sortKey(m_slots[i], sort, null);
            keyed.push_back({k.data(), i, uint8_t(k.size()), null});
        }
    // Stable: cards of an equal key stay in the order they were read in,
    // the order of their records, which the database's own index mostly
    // keeps too.
    std::stable_sort(keyed.begin(), keyed.end(), [this](const Keyed &a, const Keyed &b) {
        if (a.null || b.null)
            return a.null && !b.null;
        return m_collation.compare({a.key, a.length}, {b.key, b.length}) < 0;
    });
    std::vector<uint32_t> &order = m_order[size_t(sort)];
    order.clear();
    order.reserve(keyed.size());
    for (const Keyed &k : keyed)
        order.push_back(k.slot);
    m_orderLoaded[size_t(sort)] = true;
    m_positionValid[size_t(sort)] = false;
}

void SearchIndex::placeLearned(int sort, std::vector<uint32_t> added)
{
    auto less = [this, sort](uint32_t a, uint32_t b) { return compareSlots(a, b, sort) < 0; };
    std::stable_sort(added.begin(), added.end(), less);
    std::vector<uint32_t> &order = m_order[size_t(sort)];
    std::vector<uint32_t> merged;
    merged.reserve(order.size() + added.size());
    auto from = order.cbegin();
    for (uint32_t s : added) {
        // After the cards of an equal key, as when the database is asked.
        const auto to = std::upper_bound(from, order.cend(), s, less);
        merged.insert(merged.end(), from, to);
        merged.push_back(s);
        from = to;
    }
    merged.insert(merged.end(), from, order.cend());
    order.swap(merged);
    m_positionValid[size_t(sort)] = false;
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
