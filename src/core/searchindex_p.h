#pragma once
// What the search index's two source files share: the columns it reads, the
// boxes' groups, the text matching and the card read by a statement. Only
// searchindex.cpp and searchindexsync.cpp include it.

#include "liststatement.h"
#include "searchindex.h"

#include "db/ibase.h"

#include <QString>
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>
#include <vector>

namespace core {
namespace indexdetail {

// The cards the walk for a first screen looks at before it gives up and
// looks at every card instead.
constexpr size_t kMostWalked = 20000;

// The columns read for a card: its id, the searched columns in the order of
// the five boxes' groups, then the one the list shows besides.
inline const QString kColumnsRead =
    QStringLiteral("pk_id, fam, name1, name2, work, dep, post, wmail, hmail, wtel, htel, wmob, hmob, bdate");
enum Column { Fam = 0, Name1, Name2, Work, Dep, Post, Wmail, Hmail, Wtel, Htel, Wmob, Hmob, Bdate };
// The searched columns of each box, [first, end): name, work place, post, e-mail, phone.
struct GroupSpan
{
    int first, end;
};
constexpr GroupSpan kGroups[5] = {{Fam, Work}, {Work, Post}, {Post, Wmail}, {Wmail, Wtel}, {Wtel, Bdate}};

inline const QString &typedOf(const ListFilter &f, int group)
{
    switch (group) {
    case 0:
        return f.name;
    case 1:
        return f.work;
    case 2:
        return f.post;
    case 3:
        return f.mail;
    default:
        return f.tel;
    }
}

constexpr Column kSortColumn[3] = {Fam, Work, Post}; // by ListSort
// The searched columns the list's row does not show, kept beside it.
constexpr Column kExtra[4] = {Hmail, Htel, Wmob, Hmob};

// LIKE as the database matches an upper-cased column: "%" any run of
// characters, "_" any one, every other byte itself.
inline bool like(const uint8_t *t, size_t n, const uint8_t *p, size_t m, const uint8_t *upper)
{
    size_t i = 0, j = 0, star = SIZE_MAX, mark = 0;
    while (i < n) {
        if (j < m && p[j] == '%') {
            star = j++;
            mark = i;
        } else if (j < m && (p[j] == '_' || p[j] == upper[t[i]])) {
            ++i;
            ++j;
        } else if (star != SIZE_MAX) {
            j = star + 1;
            i = ++mark;
        } else {
            return false;
        }
    }
    while (j < m && p[j] == '%')
        ++j;
    return j == m;
}

// The bit a pair of upper-cased bytes sets in a box's signature.
inline uint64_t pairBit(uint8_t a, uint8_t b)
{
    return uint64_t(1) << (((uint32_t(a) << 8 | b) * 0x9E3779B1u) >> 26);
}

// The bits the runs of three digits in a text set in the phone box's
// signature, separators between them passed over: "45-67" needs those of
// 456 and 567, which every number holding it has. Phone numbers are digits
// and a few signs, so pairs of characters would set nearly every bit.
inline uint64_t digitTrigramBits(const uint8_t *t, size_t n)
{
    uint64_t bits = 0;
    uint32_t last = 0, run = 0;
    for (size_t i = 0; i < n; ++i) {
        if (t[i] < '0' || t[i] > '9')
            continue;
        last = (last * 10 + (t[i] - '0')) % 1000;
        if (++run >= 3)
            bits |= uint64_t(1) << ((last * 0x9E3779B1u) >> 26);
    }
    return bits;
}
constexpr int kPhoneGroup = 4;

// Whether the upper-cased bytes hold the (upper-cased) literal.
inline bool containsUpper(const uint8_t *t, size_t n, std::string_view literal, const uint8_t *upper)
{
    const size_t m = literal.size();
    if (m == 0)
        return true;
    const auto *lit = reinterpret_cast<const uint8_t *>(literal.data());
    for (size_t i = 0; i + m <= n; ++i) {
        if (upper[t[i]] != lit[0])
            continue;
        size_t k = 1;
        while (k < m && upper[t[i + k]] == lit[k])
            ++k;
        if (k == m)
            return true;
    }
    return false;
}

inline bool onlyPercents(const std::vector<uint8_t> &p)
{
    return std::all_of(p.begin(), p.end(), [](uint8_t c) { return c == '%'; });
}

// The longest run of the pattern's own characters: looked for first.
inline std::string_view longestLiteral(const std::vector<uint8_t> &p)
{
    std::string_view best;
    for (size_t i = 0; i < p.size();) {
        while (i < p.size() && (p[i] == '%' || p[i] == '_'))
            ++i;
        size_t j = i;
        while (j < p.size() && p[j] != '%' && p[j] != '_')
            ++j;
        if (j - i > best.size())
            best = std::string_view(reinterpret_cast<const char *>(p.data()) + i, j - i);
        i = j;
    }
    return best;
}

// Beyond this many changed cards at once (an import) the index is read anew:
// each is placed in the orders by a few questions to the database.
constexpr size_t kMostChangesApplied = 200;
// Built beside the window, the index takes in only a few changes on the
// window's thread (each costs a few queries); more are read anew beside it.
constexpr size_t kMostChangesInBackground = 8;

// Every state of every index has a number of its own: rows given out by one
// index are never taken for another's.
inline quint64 nextVersion()
{
    static std::atomic<quint64> versions{0};
    return ++versions;
}
// The log's rows without a card (cleared rows, the log switched off and on)
// among the pairs seen.
constexpr qint32 kMarker = std::numeric_limits<qint32>::min();

} // namespace indexdetail

// The cells of the card a statement over kColumnsRead stands on.
struct SearchIndex::Cells
{
    std::vector<db::IBQuery::CellView> v;
    qint64 id() const
    {
        qint64 id = 0;
        std::memcpy(&id, v[0].data, 8);
        return id;
    }
    std::string_view text(int column) const
    {
        const auto &c = v[size_t(column + 1)];
        return c.kind == 1 ? std::string_view(c.data, c.length) : std::string_view();
    }
    bool null(int column) const { return v[size_t(column + 1)].kind == 0; }
};

} // namespace core
