#include "collationorder.h"

#include "db/access.h"
#include "db/cp1251.h"

#include <QByteArray>
#include <algorithm>
#include <numeric>

namespace core {

namespace {

constexpr size_t kProbeBytes = 9;

// Texts whose order tells a learned order from a wrong one: letters of both
// cases (Cyrillic, ё, Latin), spaces inside and at the end, signs, digits and
// any other byte; many equal but for case. Always the same texts.
std::vector<std::string> samples()
{
    static const char letters[] = "\xE0\xC0\xE1\xC1\xE5\xC5\xB8\xA8\xE6\xC6\xFF\xDF"
                                  "aAbBzZ";
    static const char signs[] = "-.'0_9";
    uint32_t seed = 20261209;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 16;
    };
    std::vector<std::string> out;
    out.reserve(CollationOrder::kMostProbes);
    while (out.size() < CollationOrder::kMostProbes) {
        std::string t;
        for (uint32_t n = next() % (kProbeBytes + 1); n > 0; --n) {
            const uint32_t kind = next() % 10;
            t += kind < 5   ? letters[next() % (sizeof letters - 1)]
                 : kind < 7 ? ' '
                 : kind < 8 ? signs[next() % (sizeof signs - 1)]
                            : char(1 + next() % 255);
        }
        out.push_back(std::move(t));
    }
    return out;
}

} // namespace

std::vector<int> CollationOrder::ranks(db::Access &db, const std::vector<std::string> &texts) const
{
    // One parameter holds every text, each in a slot of 9 bytes; another the
    // texts' lengths, a digit each.
    QByteArray all, lengths;
    for (const std::string &t : texts) {
        QByteArray slot(t.data(), qsizetype(std::min(t.size(), kProbeBytes)));
        slot.append(qsizetype(kProbeBytes) - slot.size(), 'x');
        all += slot;
        lengths += char('0' + std::min(t.size(), kProbeBytes));
    }
    std::vector<int> out(texts.size(), -1);
    for (db::Rows rows = db.read(
             QStringLiteral(
                 "WITH RECURSIVE n (i) AS (SELECT 0 FROM RDB$DATABASE UNION ALL SELECT i + 1 FROM n WHERE i < 63), "
                 "p (k) AS (SELECT a.i * 64 + b.i FROM n a CROSS JOIN n b WHERE a.i * 64 + b.i < :count), "
                 "v (k, t) AS (SELECT k, CAST(SUBSTRING(CAST(:s AS VARCHAR(27000) CHARACTER SET WIN1251) "
                 "FROM k * 9 + 1 FOR CAST(SUBSTRING(CAST(:lengths AS VARCHAR(3000)) FROM k + 1 FOR 1) AS INTEGER)) "
                 "AS VARCHAR(9) CHARACTER SET WIN1251) COLLATE %1 FROM p) "
                 "SELECT k, DENSE_RANK() OVER (ORDER BY t) FROM v")
                 .arg(QLatin1String(m_collation)),
             {{QStringLiteral("count"), qint64(std::min(texts.size(), kMostProbes))},
              {QStringLiteral("s"), cp1251::decode(all)},
              {QStringLiteral("lengths"), QString::fromLatin1(lengths)}});
         rows.next();) {
        const qint64 k = rows.number(0);
        if (k >= 0 && size_t(k) < out.size())
            out[size_t(k)] = int(rows.number(1));
    }
    return out;
}

bool CollationOrder::learn(db::Access &db)
{
    m_usable = false;
    m_weight = {};
    m_rank = {};
    // Every byte between two letters; the letter alone, followed by a space.
    std::vector<std::string> probes;
    for (int b = 1; b < 256; ++b)
        probes.push_back({'A', char(b), 'A'});
    probes.push_back("AA");
    probes.push_back("A");
    probes.push_back("A ");
    const std::vector<int> alone = ranks(db, probes);
    if (std::count(alone.begin(), alone.end(), -1) > 0)
        return false;
    auto rankOf = [&alone](int b) { return alone[size_t(b - 1)]; };
    for (int b = 1; b < 256; ++b)
        if (rankOf(b) == alone[255]) // a byte the order passes over
            return false;
    m_trimsSpaces = alone[256] == alone[257];

    std::vector<int> bytes(255);
    std::iota(bytes.begin(), bytes.end(), 1);
    std::stable_sort(bytes.begin(), bytes.end(), [&](int a, int b) { return rankOf(a) < rankOf(b); });
    // Two neighbouring bytes share a weight when the byte after them decides
    // between the lowest and the highest.
    const char lowest = char(bytes.front()), highest = char(bytes.back());
    probes.clear();
    for (int b = 1; b < 256; ++b) {
        probes.push_back({'A', char(b), highest});
        probes.push_back({'A', char(b), lowest});
    }
    const std::vector<int> after = ranks(db, probes);
    if (std::count(after.begin(), after.end(), -1) > 0)
        return false;
    uint16_t weight = 1;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const int b = bytes[i];
        if (i > 0) {
            const int a = bytes[i - 1];
            if (rankOf(a) != rankOf(b) && after[size_t(2 * (a - 1))] <= after[size_t(2 * (b - 1) + 1)])
                ++weight;
        }
        m_weight[size_t(b)] = weight;
        m_rank[size_t(b)] = uint16_t(rankOf(b));
    }

    // The learned order must sort the samples exactly as the database does.
    probes = samples();
    const std::vector<int> sorted = ranks(db, probes);
    if (std::count(sorted.begin(), sorted.end(), -1) > 0)
        return false;
    std::vector<size_t> at(probes.size());
    std::iota(at.begin(), at.end(), size_t(0));
    std::sort(at.begin(), at.end(), [&](size_t a, size_t b) { return sorted[a] < sorted[b]; });
    for (size_t i = 1; i < at.size(); ++i) {
        const bool equal = sorted[at[i - 1]] == sorted[at[i]];
        const int c = compare(probes[at[i - 1]], probes[at[i]]);
        if (equal ? c != 0 : c >= 0)
            return false;
    }
    m_usable = true;
    return true;
}

bool CollationOrder::knows(std::string_view text) const
{
    return std::all_of(text.begin(), text.end(), [this](char c) { return m_weight[uint8_t(c)] != 0; });
}

std::string_view CollationOrder::trimmed(std::string_view t) const
{
    if (m_trimsSpaces)
        while (!t.empty() && t.back() == ' ')
            t.remove_suffix(1);
    return t;
}

int CollationOrder::compare(std::string_view a, std::string_view b) const
{
    a = trimmed(a);
    b = trimmed(b);
    const size_t n = std::min(a.size(), b.size());
    size_t i = 0;
    while (i < n && a[i] == b[i])
        ++i;
    const int byLength = a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
    if (i == n)
        return byLength;
    for (size_t k = i; k < n; ++k) {
        const uint16_t x = m_weight[uint8_t(a[k])], y = m_weight[uint8_t(b[k])];
        if (x != y)
            return x < y ? -1 : 1;
    }
    if (byLength != 0)
        return byLength;
    for (size_t k = i; k < n; ++k) {
        const uint16_t x = m_rank[uint8_t(a[k])], y = m_rank[uint8_t(b[k])];
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

} // namespace core
