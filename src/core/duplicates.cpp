#include "duplicates.h"

#include "db/access.h"
#include "db/cp1251.h"
#include "db/statements.h"

#include <QHash>
#include <cstring>
#include <numeric>

namespace core {

QString duplicateReasonText(int reasons)
{
    QStringList out;
    if (reasons & SameMobile)
        out << QStringLiteral("тот же мобильный телефон");
    else if (reasons & SamePhone)
        out << QStringLiteral("тот же телефон");
    if (reasons & SameBirthday)
        out << QStringLiteral("та же дата рождения");
    if (reasons & SameMail)
        out << QStringLiteral("тот же e-mail");
    return out.join(QStringLiteral(", "));
}

QString normalName(const QString &part)
{
    QString out;
    const QString upper = cp1251::upper(part);
    out.reserve(upper.size());
    for (QChar c : upper) {
        if (c.isSpace() || c == QLatin1Char('-') || c == QLatin1Char('.') || c == QChar(0x2010) || c == QChar(0x2013) ||
            c == QChar(0x2014))
            continue;
        if (c == QChar(0x0401)) // Ё
            c = QChar(0x0415);  // Е
        out += c;
    }
    return out;
}

namespace {

// The birthday of a stored date text: "DD.MM.YYYY", or without a year.
void birthday(const QString &text, PersonKeys &k)
{
    const QStringList parts = text.trimmed().split(QLatin1Char('.'));
    if (parts.size() < 2)
        return;
    bool okDay = false, okMonth = false, okYear = false;
    const int day = parts[0].trimmed().toInt(&okDay), month = parts[1].trimmed().toInt(&okMonth);
    if (!okDay || !okMonth || day < 1 || day > 31 || month < 1 || month > 12)
        return;
    k.day = uint8_t(day);
    k.month = uint8_t(month);
    if (parts.size() > 2) {
        const int year = parts[2].trimmed().toInt(&okYear);
        if (okYear && year > 0)
            k.year = uint16_t(std::min(year, 65535));
    }
}

// The number's last ten digits; nothing for a text with fewer than seven.
qint64 phoneNumber(const QString &text)
{
    qint64 last = 0; // the last ten digits, as a number
    int count = 0;
    for (QChar c : text)
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
            last = (last * 10 + (c.unicode() - '0')) % 10000000000LL;
            ++count;
        }
    return count < 7 ? -1 : last;
}

// A text's fingerprint, a 64-bit FNV-1a over its UTF-16; 0 only for the
// empty text.
uint64_t fingerprint(const QString &text)
{
    if (text.isEmpty())
        return 0;
    uint64_t h = 1469598103934665603ULL;
    for (QChar c : text) {
        h ^= c.unicode();
        h *= 1099511628211ULL;
    }
    return h ? h : 1;
}

uint64_t mix(uint64_t a, uint64_t b)
{
    return a ^ (b + 0x9e3779b97f4a7c15ULL + (a << 6) + (a >> 2));
}

} // namespace

namespace {

// The keys of a card whose column texts `value` gives.
template <typename Value>
PersonKeys keysOf(Value &&value)
{
    PersonKeys k;
    const QString fam = normalName(value("fam"));
    const QString name1 = normalName(value("name1"));
    if (!fam.isEmpty() || !name1.isEmpty())
        k.name = fingerprint(std::min(fam + name1, name1 + fam));
    k.patronymic = fingerprint(normalName(value("name2")));
    birthday(value("bdate"), k);
    for (const char *c : {"wtel", "htel", "wmob", "hmob"}) {
        const qint64 n = phoneNumber(value(c));
        if (n < 0)
            continue;
        const bool mob = c[1] == 'm';
        bool merged = false;
        for (int i = 0; i < k.phoneCount; ++i)
            if (k.phones[size_t(i)] == n) {
                if (!mob)
                    k.mobile &= uint8_t(~(1u << i));
                merged = true;
            }
        if (!merged) {
            k.phones[k.phoneCount] = n;
            if (mob)
                k.mobile |= uint8_t(1u << k.phoneCount);
            ++k.phoneCount;
        }
    }
    for (const char *c : {"wmail", "hmail"})
        if (const uint64_t m = fingerprint(value(c).trimmed().toLower()); m && (k.mailCount == 0 || k.mails[0] != m))
            k.mails[k.mailCount++] = m;
    return k;
}

} // namespace

PersonKeys personKeys(const CardRecord &card)
{
    return keysOf([&](const char *c) { return card.value(QLatin1String(c)); });
}

int duplicateReasons(const PersonKeys &a, const PersonKeys &b)
{
    if (!a.named() || a.name != b.name)
        return 0;
    if (a.patronymic && b.patronymic && a.patronymic != b.patronymic)
        return 0;
    int reasons = 0;
    if (a.day && a.day == b.day && a.month == b.month && (!a.year || !b.year || a.year == b.year))
        reasons |= SameBirthday;
    for (int i = 0; i < a.phoneCount; ++i)
        for (int j = 0; j < b.phoneCount; ++j)
            if (a.phones[size_t(i)] == b.phones[size_t(j)])
                reasons |= (a.mobile >> i & b.mobile >> j & 1) ? (SamePhone | SameMobile) : SamePhone;
    for (int i = 0; i < a.mailCount; ++i)
        for (int j = 0; j < b.mailCount; ++j)
            if (a.mails[size_t(i)] == b.mails[size_t(j)])
                reasons |= SameMail;
    return reasons;
}

namespace {

// The name with each thing that can make two cards one person: two cards
// that are alike share at least one of these. A birthday, four numbers and
// two addresses at most.
struct Buckets
{
    std::array<uint64_t, 7> key{};
    int count = 0;
    const uint64_t *begin() const { return key.data(); }
    const uint64_t *end() const { return key.data() + count; }
};

Buckets bucketsOf(const PersonKeys &keys)
{
    Buckets out;
    if (!keys.named())
        return out;
    const uint64_t name = keys.name;
    if (keys.day)
        out.key[size_t(out.count++)] = mix(name, uint64_t(keys.month * 32 + keys.day) << 8 | 2);
    for (int i = 0; i < keys.phoneCount; ++i)
        out.key[size_t(out.count++)] = mix(name, uint64_t(keys.phones[size_t(i)]) << 8 | 3);
    for (int i = 0; i < keys.mailCount; ++i)
        out.key[size_t(out.count++)] = mix(name, keys.mails[size_t(i)] ^ 4);
    return out;
}

// Each card's buckets as entries {key, place}, sorted: cards that can be
// alike stand side by side. `key` turns a bucket into the entry's key type.
// Sized exactly (buckets counted first): at a million cards a doubling
// array would hold them twice for a moment.
template <typename Entry, typename Key>
std::vector<Entry> filedByBucket(const QList<QPair<qint64, PersonKeys>> &cards, Key key)
{
    size_t count = 0;
    for (const auto &card : cards)
        count += size_t(bucketsOf(card.second).count);
    std::vector<Entry> out;
    out.reserve(count);
    for (qsizetype at = 0; at < cards.size(); ++at)
        for (uint64_t b : bucketsOf(cards[at].second))
            out.push_back({key(b), uint32_t(at)});
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace

void DuplicateIndex::add(qint64 id, PersonKeys keys)
{
    const uint32_t at = uint32_t(m_cards.size());
    for (uint64_t b : bucketsOf(keys)) {
        std::vector<uint32_t> &v = m_byKey[b];
        if (v.empty() || v.back() != at)
            v.push_back(at);
    }
    m_cards.append({id, keys});
}

void DuplicateIndex::addAll(QList<QPair<qint64, PersonKeys>> cards)
{
    Q_ASSERT(m_cards.isEmpty());
    m_cards = std::move(cards);
    m_sorted = filedByBucket<Filed>(m_cards, [](uint64_t b) { return b; });
}

QList<QPair<qint64, int>> DuplicateIndex::like(const PersonKeys &keys) const
{
    QList<QPair<qint64, int>> out;
    std::vector<uint32_t> seen;
    const auto compare = [&](uint32_t at) {
        if (std::find(seen.begin(), seen.end(), at) != seen.end())
            return;
        seen.push_back(at);
        const auto &[id, other] = m_cards[at];
        if (const int r = duplicateReasons(keys, other))
            out.append({id, r});
    };
    for (uint64_t b : bucketsOf(keys)) {
        for (auto it = std::lower_bound(m_sorted.begin(), m_sorted.end(), Filed{b, 0});
             it != m_sorted.end() && it->key == b; ++it)
            compare(it->at);
        if (const auto it = m_byKey.find(b); it != m_byKey.end())
            for (uint32_t at : it->second)
                compare(at);
    }
    return out;
}

QList<DuplicateGroup> duplicateGroups(const QList<QPair<qint64, PersonKeys>> &cards, const DistinctPairs &distinct)
{
    // Every card under each of its keys, sorted by key; only cards side by
    // side are compared. A key is kept as 32 bits of its fingerprint, so
    // that a million cards' keys take 8 bytes each; two keys that share
    // those bits only add a comparison, as the rule itself decides.
    struct Keyed
    {
        uint32_t key, at;
        bool operator<(const Keyed &o) const { return key != o.key ? key < o.key : at < o.at; }
    };
    const std::vector<Keyed> keyed = filedByBucket<Keyed>(cards, [](uint64_t b) { return uint32_t(b ^ (b >> 32)); });

    // Alike cards are joined into one group (union-find over their places).
    std::vector<uint32_t> parent(size_t(cards.size()));
    std::iota(parent.begin(), parent.end(), 0u);
    std::vector<int> reasons(size_t(cards.size()), 0);
    auto root = [&](uint32_t i) {
        while (parent[i] != i)
            i = parent[i] = parent[parent[i]];
        return i;
    };
    for (size_t from = 0; from < keyed.size();) {
        size_t to = from + 1;
        while (to < keyed.size() && keyed[to].key == keyed[from].key)
            ++to;
        for (size_t x = from; x < to; ++x)
            for (size_t y = x + 1; y < to; ++y) {
                const uint32_t a = keyed[x].at, b = keyed[y].at;
                const qint64 ia = cards[qsizetype(a)].first, ib = cards[qsizetype(b)].first;
                if (a == b || (!distinct.empty() && distinct.count({std::min(ia, ib), std::max(ia, ib)})))
                    continue;
                const int why = duplicateReasons(cards[qsizetype(a)].second, cards[qsizetype(b)].second);
                if (!why)
                    continue;
                const uint32_t ra = root(a), rb = root(b);
                const int r = reasons[ra] | reasons[rb] | why;
                parent[ra] = rb;
                reasons[rb] = r;
            }
        from = to;
    }
    QHash<uint32_t, int> groupOf;
    QList<DuplicateGroup> groups;
    for (qsizetype i = 0; i < cards.size(); ++i) {
        const uint32_t r = root(uint32_t(i));
        if (reasons[r] == 0)
            continue; // alone
        auto it = groupOf.find(r);
        if (it == groupOf.end()) {
            it = groupOf.insert(r, int(groups.size()));
            groups.append({{}, reasons[r]});
        }
        groups[*it].ids << cards[i].first;
    }
    for (DuplicateGroup &g : groups)
        std::sort(g.ids.begin(), g.ids.end());
    groups.removeIf([](const DuplicateGroup &g) { return g.ids.size() < 2; });
    std::sort(groups.begin(), groups.end(),
              [](const DuplicateGroup &a, const DuplicateGroup &b) { return a.ids.first() < b.ids.first(); });
    return groups;
}

QList<QPair<qint64, PersonKeys>> storedPersonKeys(db::Access &db)
{
    static const char *const columns[] = {"fam",  "name1", "name2", "bdate", "wtel",
                                          "htel", "wmob",  "hmob",  "wmail", "hmail"};
    QString select = QStringLiteral("SELECT pk_id");
    for (const char *c : columns)
        select += QStringLiteral(", ") + QLatin1String(c);
    select += QStringLiteral(" FROM base");
    QList<QPair<qint64, PersonKeys>> out;
    // Sized once from the count (a million cards' keys are 80 MB, and growing
    // by doubling would hold them twice for a moment); the rows then go by in
    // pieces, never all in memory at once.
    {
        db::Rows count = db.read(QStringLiteral("SELECT COUNT(*) FROM base"));
        if (count.next())
            out.reserve(qsizetype(count.number(0)));
    }
    db::Rows rows = db.read(select);
    while (rows.next()) {
        PersonKeys k = keysOf([&](const char *c) {
            for (int i = 0; i < 10; ++i)
                if (std::strcmp(columns[i], c) == 0)
                    return rows.text(i + 1);
            return QString();
        });
        if (k.named())
            out.append({rows.number(0), std::move(k)});
    }
    return out;
}

QList<DuplicateGroup> storedDuplicates(db::Access &db)
{
    return duplicateGroups(storedPersonKeys(db), distinctPairs(db));
}

bool distinctMarksKept(db::Access &db)
{
    db::Rows rows = db.read(sql::countTables(), {{QStringLiteral("name"), QStringLiteral("ZENTRAX_DISTINCT")}});
    return rows.next() && rows.number(QStringLiteral("n")) > 0;
}

DistinctPairs distinctPairs(db::Access &db)
{
    DistinctPairs out;
    if (!distinctMarksKept(db))
        return out;
    db::Rows rows = db.read(sql::selectDistinct());
    while (rows.next())
        out.insert({rows.number(0), rows.number(1)});
    return out;
}

bool markDistinct(db::Access &db, const QList<qint64> &ids)
{
    if (!distinctMarksKept(db))
        return false;
    db.unit([&] {
        for (qsizetype i = 0; i < ids.size(); ++i)
            for (qsizetype j = i + 1; j < ids.size(); ++j) {
                const qint64 a = std::min(ids[i], ids[j]), b = std::max(ids[i], ids[j]);
                db.write(sql::insertDistinct(), {{QStringLiteral("a"), a},
                                                 {QStringLiteral("b"), b},
                                                 {QStringLiteral("a2"), a},
                                                 {QStringLiteral("b2"), b}});
            }
    });
    return true;
}

int forgetDistinct(db::Access &db)
{
    if (!distinctMarksKept(db))
        return -1;
    return db.unit([&] { return int(db.write(sql::deleteDistinct()).affected()); });
}

DuplicateSearch::DuplicateSearch(const QString &databasePath, Done done)
{
    m_thread = std::thread([databasePath, done = std::move(done)] {
        QList<FoundGroup> found;
        QString error;
        try {
            db::IBDatabase connection;
            connection.databaseName = databasePath;
            connection.open();
            db::IBTransaction write(&connection);
            db::IBTransaction read(&connection, db::IBTransaction::Kind::Read);
            db::Access db(connection, write, read);
            CardStore cards(db);
            for (const DuplicateGroup &g : storedDuplicates(db)) {
                FoundGroup f{g, {}};
                for (qint64 id : g.ids)
                    f.cards << cards.load(id).value_or(CardRecord{});
                found << f;
            }
        } catch (const db::DbError &e) {
            error = e.text();
            found.clear();
        }
        done(found, error);
    });
}

DuplicateSearch::~DuplicateSearch()
{
    if (m_thread.joinable())
        m_thread.join();
}

} // namespace core
