#include "searchindex.h"
#include "searchindex_p.h"

#include <QScopeGuard>
#include <limits>
#include <atomic>
#include "contactlist.h"
#include "listmodel.h"

#include "db/access.h"
#include "db/cp1251.h"
#include "db/schema.h"

#include <QByteArray>
#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>
#include <exception>
#include <thread>

namespace core {

using namespace indexdetail;

SearchIndex::SearchIndex(db::Link db) : m_connection(db.connection), m_db(db.access) {}

bool SearchIndex::prepare()
{
    // A database the index cannot serve is looked at again now and then: an
    // administrator may upgrade it, a tool switch its log back on.
    if (m_ready || (m_unusable && m_unusableSince.elapsed() < kRecheckMs) || !m_inline)
        return m_ready;
    if (!checkDatabase()) {
        m_unusable = true;
        m_unusableSince.start();
        return false;
    }
    m_unusable = false;
    load();
    m_ready = true;
    return true;
}

// The index follows the database only where the database lets it: the log
// of changes must be kept, and LIKE on the upper-cased column must compare
// byte by byte, as it does with the collation the list uses.
bool SearchIndex::checkDatabase()
{
    if (!m_db.read(QStringLiteral("SELECT 1 FROM RDB$TRIGGERS WHERE RDB$TRIGGER_NAME = 'BASE_CHANGED' "
                                  "AND COALESCE(RDB$TRIGGER_INACTIVE, 0) = 0"))
             .next())
        return false;

    QByteArray all;
    for (int b = 1; b < 256; ++b)
        all.append(char(b));
    QByteArray upper;
    {
        db::Rows rows =
            m_db.read(QStringLiteral("SELECT UPPER(CAST(:s AS VARCHAR(255) CHARACTER SET WIN1251) COLLATE PXW_CYRL) "
                                     "AS u FROM RDB$DATABASE"),
                      {{QStringLiteral("s"), cp1251::decode(all)}});
        if (!rows.next() || !cp1251::encode(rows.text(0), upper) || upper.size() != 255)
            return false;
    }
    for (int b = 1; b < 256; ++b)
        m_upper[size_t(b)] = uint8_t(upper[b - 1]);

    // Every pair (text byte, pattern byte) that LIKE takes for equal.
    std::set<std::pair<int, int>> found;
    for (db::Rows rows = m_db.read(QStringLiteral(
             "WITH RECURSIVE n (i) AS (SELECT 1 FROM RDB$DATABASE UNION ALL SELECT i + 1 FROM n WHERE i < 255) "
             "SELECT a.i AS t, b.i AS p FROM n a CROSS JOIN n b WHERE b.i NOT IN (37, 95) AND "
             "UPPER(CAST(ASCII_CHAR(a.i) AS VARCHAR(1) CHARACTER SET WIN1251) COLLATE PXW_CYRL) LIKE "
             "CAST(ASCII_CHAR(b.i) AS VARCHAR(1) CHARACTER SET WIN1251)"));
         rows.next();)
        found.insert({int(rows.number(0)), int(rows.number(1))});
    std::set<std::pair<int, int>> expected;
    for (int t = 1; t < 256; ++t) {
        const uint8_t u = m_upper[size_t(t)];
        if (u != 0 && u != '%' && u != '_')
            expected.insert({t, int(u)});
    }
    if (found != expected)
        return false;
    // Changed cards then find their places without asking the database;
    // where the order cannot be learned, they still do by asking.
    try {
        m_collation.learn(m_db);
    } catch (const db::DbError &) {
        m_collation.forget();
    }
    return true;
}

SearchIndex::Encoded SearchIndex::encode(const Cells &cells, std::vector<char> &into) const
{
    const qint64 id = cells.id();
    Encoded e;
    Slot &s = e.slot;
    s.id = qint32(id);
    char digits[24];
    const char *end = std::to_chars(digits, digits + sizeof digits, id).ptr;
    ListModel::encodeRow(into, std::string_view(digits, size_t(end - digits)),
                         {cells.text(Fam), cells.text(Name1), cells.text(Name2), cells.text(Work), cells.text(Dep),
                          cells.text(Post), cells.text(Bdate), cells.text(Wtel), cells.text(Wmail)});
    for (int c = 0; c < kColumns; ++c) {
        const std::string_view t = cells.text(c);
        if (cells.null(c))
            s.nulls |= uint16_t(1u << c);
        // A column a tool made wider than the schema's: the statement answers.
        if (t.size() > 0xFF)
            throw db::DbError(QStringLiteral("Поле карточки длиннее, чем вмещает указатель в памяти"));
        s.length[size_t(c)] = uint8_t(t.size());
    }
    for (Column c : kExtra) {
        const std::string_view t = cells.text(c);
        into.insert(into.end(), t.begin(), t.end());
    }
    // Each box's signature: a bit for every pair of neighbouring characters,
    // in the phone box for every run of three digits.
    for (int g = 0; g < 5; ++g)
        for (int c = kGroups[g].first; c < kGroups[g].end; ++c) {
            const std::string_view t = cells.text(c);
            if (g == kPhoneGroup) {
                e.signature[size_t(g)] |= digitTrigramBits(reinterpret_cast<const uint8_t *>(t.data()), t.size());
                continue;
            }
            for (size_t i = 1; i < t.size(); ++i)
                e.signature[size_t(g)] |= pairBit(m_upper[uint8_t(t[i - 1])], m_upper[uint8_t(t[i])]);
        }
    return e;
}

uint32_t SearchIndex::put(const Encoded &e, const char *bytes, size_t size)
{
    Slot s = e.slot;
    // Reached by 32-bit references: far beyond a million cards.
    try {
        s.row = m_arena.append(bytes, size);
    } catch (const std::length_error &) {
        throw db::DbError(QStringLiteral("Слишком много карточек для указателя в памяти"));
    }
    uint32_t at = m_slotOf.find(s.id);
    if (at == SlotOf::kNone) {
        at = uint32_t(m_slots.size());
        m_slotOf.set(s.id, at);
        m_slots.push_back(s);
        for (auto &sig : m_signature)
            sig.push_back(0);
        ++m_live;
    } else {
        Slot &old = m_slots[at];
        m_garbage += bytesOf(old);
        old = s;
    }
    for (int g = 0; g < 5; ++g)
        m_signature[size_t(g)][at] = e.signature[size_t(g)];
    return at;
}

void SearchIndex::store(const Cells &cells)
{
    m_scratch.clear();
    const Encoded e = encode(cells, m_scratch);
    put(e, m_scratch.data(), m_scratch.size());
}

size_t SearchIndex::extraBytes(const Slot &s)
{
    size_t n = 0;
    for (Column c : kExtra)
        n += s.length[size_t(c)];
    return n;
}

size_t SearchIndex::bytesOf(const Slot &s) const
{
    return ListModel::encodedSize(m_arena.at(s.row)) + extraBytes(s);
}

void SearchIndex::columns(const Slot &s, std::array<const uint8_t *, kColumns> &at) const
{
    // The row's cells: id, "fam name1 name2", "work dep", post, bdate, wtel, wmail.
    std::array<const uint8_t *, ListModel::kColumns> cell;
    const char *p = m_arena.at(s.row);
    for (auto &c : cell) {
        uint16_t len;
        std::memcpy(&len, p, 2);
        c = reinterpret_cast<const uint8_t *>(p + 2);
        p += 2 + len;
    }
    const auto &len = s.length;
    at[Fam] = cell[1];
    at[Name1] = at[Fam] + len[Fam] + 1;
    at[Name2] = at[Name1] + len[Name1] + 1;
    at[Work] = cell[2];
    at[Dep] = at[Work] + len[Work] + 1;
    at[Post] = cell[3];
    at[Wtel] = cell[5];
    at[Wmail] = cell[6];
    const auto *extra = reinterpret_cast<const uint8_t *>(p); // right after the row
    for (Column c : kExtra) {
        at[c] = extra;
        extra += len[c];
    }
}

uint32_t SearchIndex::SlotOf::find(qint32 id) const
{
    if (id >= 0 && size_t(id) < m_dense.size() && m_dense[size_t(id)] != kNone)
        return m_dense[size_t(id)];
    // An id set in the map before the table grew past it stays there.
    const auto it = m_sparse.find(id);
    return it == m_sparse.end() ? kNone : it->second;
}

void SearchIndex::SlotOf::set(qint32 id, uint32_t slot)
{
    ++m_count;
    // Ids up to twice the cards (and the first 65,536) go in the table.
    if (id >= 0 && size_t(id) < std::max<size_t>(65536, 2 * m_count)) {
        if (size_t(id) >= m_dense.size())
            m_dense.resize(std::max(size_t(id) + 1, m_dense.size() * 2), kNone);
        m_dense[size_t(id)] = slot;
    } else {
        m_sparse[id] = slot;
    }
}

void SearchIndex::SlotOf::erase(qint32 id)
{
    if (id >= 0 && size_t(id) < m_dense.size())
        m_dense[size_t(id)] = kNone;
    m_sparse.erase(id);
}

void SearchIndex::SlotOf::clear()
{
    m_dense.clear();
    m_sparse.clear();
    m_count = 0;
}

size_t SearchIndex::SlotOf::bytes() const
{
    return m_dense.capacity() * sizeof(uint32_t) +
           m_sparse.size() * (sizeof(std::pair<qint32, uint32_t>) + 2 * sizeof(void *));
}

void SearchIndex::reload()
{
    if (m_inline) {
        load();
        return;
    }
    // Read anew beside the window: until then the statement answers.
    m_ready = false;
    m_wantsRebuild = true;
    m_version = nextVersion();
}

bool SearchIndex::build(const std::atomic<bool> *cancel)
{
    m_cancel = cancel;
    const auto reset = qScopeGuard([this] { m_cancel = nullptr; });
    m_inline = true;
    // The orders the database sorts (all three, or the names alone, see
    // below) are read while the cards are, beside them on a connection of
    // their own (the database sorts each for seconds at a million cards).
    // They start once the log's mark is set: what they miss, or hold in an
    // older place, committed after it and comes with the log.
    std::atomic<bool> stop{false};
    std::array<std::vector<qint32>, 3> ids;
    std::array<std::exception_ptr, 3> failed;
    std::vector<std::thread> readers;
    // With the collation's order learned, the database sorts the names only
    // (the learned order is checked on them) and the other two orders are
    // sorted here, from the cards read: seconds less at a million cards.
    int ordersRead = 3;
    m_marked = [&] {
        if (placeByLearnedOrder && m_collation.usable())
            ordersRead = 1;
        // One after the other: three sorts at once would hold three sorts'
        // memory.
        readers.emplace_back([&, read = ordersRead] {
            for (int s = 0; s < read && !stop; ++s) {
                try {
                    readOrder(s, ids[size_t(s)], stop);
                } catch (...) {
                    failed[size_t(s)] = std::current_exception();
                    return;
                }
            }
        });
    };
    auto joined = qScopeGuard([&] {
        m_marked = nullptr;
        stop = true;
        for (std::thread &r : readers)
            r.join();
    });
    const bool ok = prepare();
    joined.dismiss();
    m_marked = nullptr;
    stop = !ok;
    for (std::thread &r : readers)
        r.join();
    if (ok) {
        for (const std::exception_ptr &e : failed)
            if (e)
                std::rethrow_exception(e);
        for (int s = 0; s < ordersRead; ++s)
            placeOrder(s, ids[size_t(s)]);
        // A text with a byte the order was not learned for: the database sorts.
        if (ordersRead < 3 && m_collation.usable())
            for (const Slot &s : m_slots)
                for (int sort = ordersRead; sort < 3 && s.live; ++sort)
                    if (!keyKnown(s, sort))
                        m_collation.forget();
        if (ordersRead < 3 && m_collation.usable()) {
            std::exception_ptr otherFailed;
            std::thread other([this, &otherFailed] {
                try {
                    sortLearned(2);
                } catch (...) { // out of memory
                    otherFailed = std::current_exception();
                }
            });
            auto join = qScopeGuard([&other] { other.join(); });
            sortLearned(1);
            join.dismiss();
            other.join();
            if (otherFailed)
                std::rethrow_exception(otherFailed);
        } else {
            // The database sorted the names otherwise than learned: it sorts the others too.
            for (int s = ordersRead; s < 3; ++s) {
                std::vector<qint32> more;
                readOrder(s, more, stop);
                placeOrder(s, more);
            }
        }
        positions(int(ListSort::Name)); // the list's usual order; another's when first searched in
        // Read once and then changed little: what the growth left spare goes.
        m_slots.shrink_to_fit();
        for (auto &sig : m_signature)
            sig.shrink_to_fit();
    }
    m_inline = false;
    return ok;
}

void SearchIndex::load()
{
    m_version = nextVersion();
    m_slots.clear();
    for (auto &sig : m_signature)
        sig.clear();
    m_slotOf.clear();
    m_arena.clear();
    m_garbage = 0;
    m_live = 0;
    m_orderLoaded = {};
    m_positionValid = {};
    m_seen.clear();

    // Transactions older than the oldest one still running have ended: what
    // they changed shows in the cards read now, the rest in the log later.
    {
        db::Rows rows = m_db.read(QStringLiteral("SELECT MON$OLDEST_ACTIVE AS oat FROM MON$DATABASE"));
        m_settled = rows.next() ? rows.number(0) : 0;
    }
    m_settledAt.start();
    // What the log holds from the mark on is in the cards read below (a
    // reader sees only what was committed): taken for seen, so that a
    // transaction still running below it does not make the new index read
    // anew what it has just read.
    for (db::Rows rows =
             m_db.read(QStringLiteral("SELECT txn, card, IIF(card IS NULL, 1, 0) FROM base_changes WHERE txn >= :txn"),
                       {{QStringLiteral("txn"), m_settled}});
         rows.next();)
        m_seen.insert({rows.number(0), rows.number(2) ? kMarker : qint32(rows.number(1))});
    if (m_marked)
        m_marked();

    // Read in pieces: a million cards are never all in the query at once.
    // On a transaction and cursor of its own, each row viewed where it arrived.
    db::IBTransaction t(&m_connection, db::IBTransaction::Kind::Read);
    db::IBQuery q(&m_connection, &t);
    q.setSql(QStringLiteral("SELECT ") + kColumnsRead + QStringLiteral(" FROM base"));
    q.open();
    Cells cells;
    for (;;) {
        for (int r = 0; r < q.recordCount(); ++r) {
            q.rowView(r, cells.v);
            store(cells);
        }
        if (q.fetchedAll())
            break;
        if (m_cancel && m_cancel->load())
            throw db::DbError(QStringLiteral("Чтение указателя прервано"));
        q.dropFetched();
        q.fetchMore(4096);
    }
    q.close();
    t.commit();
}

bool SearchIndex::readOrderIds(db::IBQuery &q, int sort, std::vector<qint32> &ids, const std::atomic<bool> *stop) const
{
    q.close();
    q.setSql(QStringLiteral("SELECT pk_id FROM base ORDER BY ") + sortExpression(ListSort(sort)));
    q.open();
    std::vector<db::IBQuery::CellView> cells;
    for (;;) {
        for (int r = 0; r < q.recordCount(); ++r) {
            q.rowView(r, cells);
            qint64 id = 0;
            std::memcpy(&id, cells[0].data, 8);
            ids.push_back(qint32(id));
        }
        if (q.fetchedAll())
            break;
        if ((stop && stop->load()) || (m_cancel && m_cancel->load()))
            return false;
        q.dropFetched();
        q.fetchMore(8192);
    }
    q.close();
    return true;
}

void SearchIndex::readOrder(int sort, std::vector<qint32> &ids, const std::atomic<bool> &stop) const
{
    db::IBDatabase d;
    d.databaseName = m_connection.databaseName;
    d.userName = m_connection.userName;
    d.password = m_connection.password;
    d.cachePages = kCachePages;
    d.open();
    db::IBTransaction t(&d, db::IBTransaction::Kind::Read);
    db::IBQuery q(&d, &t);
    if (readOrderIds(q, sort, ids, &stop))
        t.commit();
}

void SearchIndex::placeOrder(int sort, const std::vector<qint32> &ids)
{
    std::vector<uint32_t> &order = m_order[size_t(sort)];
    order.clear();
    order.reserve(size_t(m_live));
    // A card stored after the index was read comes with the log.
    for (qint32 id : ids)
        if (const uint32_t at = m_slotOf.find(id); at != SlotOf::kNone)
            order.push_back(at);
    m_orderLoaded[size_t(sort)] = true;
    m_positionValid[size_t(sort)] = false;
    // The stored texts as the database sorted them are the last check of
    // what was learned. The cards and the order are read apart: a card
    // changed since the mark may stand where its older text sorted, and is
    // passed over (the log brings it to its place).
    if (m_collation.usable()) {
        std::vector<bool> moved(m_slots.size());
        for (db::Rows rows =
                 m_db.read(QStringLiteral("SELECT card FROM base_changes WHERE txn >= :txn AND card IS NOT NULL"),
                           {{QStringLiteral("txn"), m_settled}});
             rows.next();)
            if (const uint32_t at = m_slotOf.find(qint32(rows.number(0))); at != SlotOf::kNone)
                moved[at] = true;
        if (!followsLearnedOrder(sort, moved))
            m_collation.forget();
    }
}

void SearchIndex::loadOrder(int sort)
{
    db::IBTransaction t(&m_connection, db::IBTransaction::Kind::Read);
    db::IBQuery q(&m_connection, &t);
    std::vector<qint32> ids;
    if (!readOrderIds(q, sort, ids, nullptr))
        throw db::DbError(QStringLiteral("Чтение указателя прервано"));
    t.commit();
    placeOrder(sort, ids);
}

const std::vector<uint32_t> &SearchIndex::positions(int sort)
{
    std::vector<uint32_t> &pos = m_position[size_t(sort)];
    if (!m_positionValid[size_t(sort)]) {
        // Kept for one order at a time: 4 bytes a card each.
        for (int other = 0; other < 3; ++other)
            if (other != sort) {
                m_position[size_t(other)] = {};
                m_positionValid[size_t(other)] = false;
            }
        pos.assign(m_slots.size(), UINT32_MAX);
        const std::vector<uint32_t> &order = m_order[size_t(sort)];
        for (size_t i = 0; i < order.size(); ++i)
            pos[order[i]] = uint32_t(i);
        m_positionValid[size_t(sort)] = true;
    }
    return pos;
}

SearchIndex::Pattern::Pattern(std::vector<uint8_t> bytes) : text(std::move(bytes))
{
    any = onlyPercents(text);
    // "%text%" with no wildcard inside: a plain search for the text.
    plain = text.size() >= 2 && text.front() == '%' && text.back() == '%' &&
            std::none_of(text.begin() + 1, text.end() - 1, [](uint8_t c) { return c == '%' || c == '_'; });
}

bool SearchIndex::Pattern::matches(const uint8_t *t, size_t n, const uint8_t *upper) const
{
    if (any)
        return true;
    if (plain)
        return containsUpper(t, n, std::string_view(reinterpret_cast<const char *>(text.data()) + 1, text.size() - 2),
                             upper);
    return like(t, n, text.data(), text.size(), upper);
}

bool SearchIndex::matches(const Slot &s, const std::array<const uint8_t *, kColumns> &at,
                          const std::array<Pattern, 5> &patterns) const
{
    for (int g = 0; g < 5; ++g) {
        const Pattern &p = patterns[size_t(g)];
        bool hit = false;
        // An empty box asks only that one of its columns is not NULL.
        for (int c = kGroups[g].first; !hit && c < kGroups[g].end; ++c)
            hit = !(s.nulls & (1u << c)) && p.matches(at[size_t(c)], s.length[size_t(c)], m_upper.data());
        if (!hit)
            return false;
    }
    return true;
}

std::optional<std::vector<const char *>> SearchIndex::find(const ListFilter &f, ListSort sort, size_t firstRows)
{
    m_rest.reset();
    if (!f.contains)
        return std::nullopt;
    checkTyped(f);
    std::array<Pattern, 5> patterns;
    for (int g = 0; g < 5; ++g) {
        const QString &typed = typedOf(f, g);
        QByteArray bytes;
        qsizetype bad = -1;
        if (!cp1251::encode(listPattern(typed, true), bytes, &bad))
            throw db::DbError(db::encodingMessage(typed, bad - 1));
        if (bytes.contains('\0'))
            return std::nullopt;
        patterns[size_t(g)] = Pattern(std::vector<uint8_t>(bytes.begin(), bytes.end()));
    }
    if (!prepare())
        return std::nullopt;
    sync(false);
    if (!m_ready)
        return std::nullopt;
    const int s = int(sort);
    if (!m_orderLoaded[size_t(s)]) {
        if (!m_inline) { // built beside the window with every order: read anew there
            reload();
            return std::nullopt;
        }
        loadOrder(s);
    }
    positions(s);

    Search q;
    q.patterns = std::move(patterns);
    q.sort = s;
    // The box with the longest text of its own is looked through first.
    for (int g = 0; g < 5; ++g) {
        const std::string_view l = longestLiteral(q.patterns[size_t(g)].text);
        if (l.size() > q.literal.size()) {
            q.literal = std::string(l);
            q.first = g;
        }
    }
    // The pairs of neighbouring characters (in the phone box the runs of
    // three digits) each box's text needs: a card whose signature lacks one
    // is passed over without reading its text.
    std::array<uint64_t, 5> need{};
    for (int g = 0; g < 5; ++g) {
        const std::vector<uint8_t> &p = q.patterns[size_t(g)].text;
        if (g == kPhoneGroup) { // each run of the text's own characters apart
            for (size_t i = 0; i < p.size();) {
                size_t j = i;
                while (j < p.size() && p[j] != '%' && p[j] != '_')
                    ++j;
                need[size_t(g)] |= digitTrigramBits(p.data() + i, j - i);
                i = j + 1;
            }
            continue;
        }
        for (size_t i = 1; i < p.size(); ++i)
            if (p[i - 1] != '%' && p[i - 1] != '_' && p[i] != '%' && p[i] != '_')
                need[size_t(g)] |= pairBit(p[i - 1], p[i]);
    }
    if (q.first >= 0 && need[size_t(q.first)])
        q.sieve.emplace_back(q.first, need[size_t(q.first)]);
    for (int g = 0; g < 5; ++g)
        if (g != q.first && need[size_t(g)])
            q.sieve.emplace_back(g, need[size_t(g)]);

    // The first rows by walking the order until enough are found: a common
    // text fills the screen after a few thousand cards. The rest, or a text
    // too rare for that, by a look at every card.
    if (firstRows != SIZE_MAX) {
        const std::vector<uint32_t> &order = m_order[size_t(s)];
        const size_t most = std::min(order.size(), kMostWalked);
        std::vector<const char *> rows;
        size_t k = 0;
        for (; k < most && rows.size() < firstRows; ++k)
            if (hit(order[k], q))
                rows.push_back(m_arena.at(m_slots[order[k]].row));
        if (k == order.size())
            return rows;
        if (rows.size() == firstRows) {
            m_rest = Rest{std::move(q), uint32_t(k), m_version};
            return rows;
        }
    }
    return scan(q, 0);
}

bool SearchIndex::hit(uint32_t i, const Search &q) const
{
    for (const auto &[g, bits] : q.sieve)
        if ((m_signature[size_t(g)][i] & bits) != bits)
            return false;
    const Slot &sl = m_slots[i];
    if (!sl.live)
        return false;
    std::array<const uint8_t *, kColumns> at;
    columns(sl, at);
    if (q.first >= 0) {
        bool found = false;
        for (int c = kGroups[q.first].first; !found && c < kGroups[q.first].end; ++c)
            found = containsUpper(at[size_t(c)], sl.length[size_t(c)], q.literal, m_upper.data());
        if (!found)
            return false;
    }
    return matches(sl, at, q.patterns);
}

std::vector<const char *> SearchIndex::scan(const Search &q, uint32_t from)
{
    const std::vector<uint32_t> &pos = positions(q.sort);
    const std::vector<uint32_t> &order = m_order[size_t(q.sort)];
    // The cards found are marked at their place in the order, which then
    // gives them in that order without sorting them.
    const size_t words = (order.size() + 63) / 64;
    auto mark = [&](uint32_t begin, uint32_t end, std::vector<uint64_t> &marked) {
        marked.assign(words, 0);
        for (uint32_t i = begin; i < end; ++i)
            if (pos[i] != UINT32_MAX && pos[i] >= from && hit(i, q))
                marked[pos[i] / 64] |= uint64_t(1) << (pos[i] % 64);
    };
    // A text too rare to fill the first screen from the order's beginning
    // has every card looked at: with many cards, half of them on another
    // core, so that the first rows come within a frame. The index is only
    // read meanwhile.
    const auto cards = uint32_t(m_slots.size());
    std::vector<uint64_t> marked;
    if (cards >= splitScanFrom && std::thread::hardware_concurrency() > 1) {
        std::vector<uint64_t> other;
        std::thread half([&] { mark(cards / 2, cards, other); });
        mark(0, cards / 2, marked);
        half.join();
        for (size_t w = 0; w < words; ++w)
            marked[w] |= other[w];
    } else {
        mark(0, cards, marked);
    }
    std::vector<const char *> rows;
    for (size_t w = 0; w < marked.size(); ++w)
        for (uint64_t bits = marked[w]; bits; bits &= bits - 1)
            rows.push_back(m_arena.at(m_slots[order[w * 64 + size_t(std::countr_zero(bits))]].row));
    return rows;
}

std::optional<std::vector<const char *>> SearchIndex::rest()
{
    std::optional<Rest> r = std::exchange(m_rest, std::nullopt);
    if (!r || r->version != m_version || !m_ready)
        return std::nullopt;
    return scan(r->search, r->from);
}

size_t SearchIndex::memoryBytes() const
{
    size_t n = m_slots.capacity() * sizeof(Slot) + m_arena.bytes() + m_slotOf.bytes();
    for (const auto &sig : m_signature)
        n += sig.capacity() * sizeof(uint64_t);
    for (int s = 0; s < 3; ++s)
        n += (m_order[size_t(s)].capacity() + m_position[size_t(s)].capacity()) * sizeof(uint32_t);
    return n;
}

} // namespace core
