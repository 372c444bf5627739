#pragma once
// The order in which the database sorts the list's texts (WIN1251 under
// PXW_CYRL, or another collation), learned from the database itself: a changed card then finds its
// place among a million others without a question to the database for each
// step of the search.
//
// What is learned is a two-level order: each byte has a weight of its own
// (letters of both cases share one), texts are compared by those weights
// first and by the bytes' own ranks only when the weights are all equal;
// trailing spaces count or not as the database counts them. The database is
// asked how it sorts every byte between two letters, then a few thousand
// texts of both cases, spaces and signs: an order that does not follow this
// form is not used (the caller asks the database instead).

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace db {
class Access;
}

namespace core {

class CollationOrder
{
public:
    // The order of a collation of WIN1251 (a name the program gives, never
    // typed by a user).
    explicit CollationOrder(const char *collation = "PXW_CYRL") : m_collation(collation) {}

    // Learns the order and checks it; false when the database sorts in a way
    // this class does not follow. Throws a DbError when the database cannot
    // be read.
    bool learn(db::Access &db);
    bool usable() const { return m_usable; }
    // Given up on: the database sorted some stored texts otherwise.
    void forget() { m_usable = false; }
    // Whether every byte of the text has a learned place (NUL has none).
    bool knows(std::string_view text) const;
    // Below, equal or above zero as the database sorts `a` against `b`.
    int compare(std::string_view a, std::string_view b) const;

    static constexpr size_t kMostProbes = 3000;

private:
    // How the database sorts the texts (WIN1251 bytes, at most 9 each, at
    // most kMostProbes): each text's rank, equal for texts it takes for equal.
    std::vector<int> ranks(db::Access &db, const std::vector<std::string> &texts) const;
    const char *m_collation;
    std::string_view trimmed(std::string_view t) const;
    std::array<uint16_t, 256> m_weight{}; // 0: not learned
    std::array<uint16_t, 256> m_rank{};
    bool m_trimsSpaces = false;
    bool m_usable = false;
};

} // namespace core
