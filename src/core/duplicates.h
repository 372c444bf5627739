#pragma once
// Probable duplicates: two cards of one person. Their names agree once
// normalised (letter case, ё and е, spaces, hyphens and dots; surname and
// name also swapped; a patronymic missing on one side is no obstacle) and
// they share a birthday (day and month, and the year where both have one),
// a phone number (its last ten digits, in any of the four phone fields) or
// an e-mail address (letter case aside). Namesakes with nothing else in
// common are not duplicates; cards like one another form one group.

#include "cardstore.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>
#include <thread>
#include <set>
#include <unordered_map>
#include <vector>

namespace db {
class Access;
}

namespace core {

// Why cards were taken for one person.
enum DuplicateReason : int {
    SameBirthday = 1,
    SamePhone = 2,
    SameMobile = 4, // the number is a mobile on both
    SameMail = 8,
};
// The reasons in Russian ("тот же мобильный телефон, та же дата рождения").
QString duplicateReasonText(int reasons);

// What of a card the rule compares, normalised. Texts are kept as 64-bit
// fingerprints of their normal forms (the rule only asks whether two are
// equal): the duplicate search holds one for every card of the database,
// 72 bytes each.
struct PersonKeys
{
    uint64_t name = 0;       // surname and name joined, the smaller of both orders; 0: none
    uint64_t patronymic = 0; // 0 when the card has none
    // The last ten digits of each number, each once. Four fields at most:
    // no allocation a card.
    std::array<qint64, 4> phones{};
    std::array<uint64_t, 2> mails{}; // lower case, each once
    uint16_t year = 0;               // the birthday; zero where unknown
    uint8_t day = 0, month = 0;
    uint8_t mobile = 0; // bit i: phones[i] came from a mobile field on this card
    uint8_t phoneCount = 0;
    uint8_t mailCount = 0;
    bool named() const { return name != 0; }
};
// A name's part as the rule compares it.
QString normalName(const QString &part);
PersonKeys personKeys(const CardRecord &card);
// The reasons two cards are probable duplicates; 0 when they are not.
int duplicateReasons(const PersonKeys &a, const PersonKeys &b);

// Cards by their keys, for finding those like a given card without
// comparing every pair: each card is filed under its name joined with each
// number, address and birthday.
class DuplicateIndex
{
public:
    // Adds many cards at once (the stored ones): filed in one sorted array,
    // some 16 bytes a key, where a map would take a hundred. Only into an
    // empty index.
    void addAll(QList<QPair<qint64, PersonKeys>> cards);
    // Adds a card under `id` (any number the caller keeps apart).
    void add(qint64 id, PersonKeys keys);
    // The cards added so far that are like `keys`, each with its reasons.
    QList<QPair<qint64, int>> like(const PersonKeys &keys) const;
    int size() const { return int(m_cards.size()); }

private:
    struct Filed
    {
        uint64_t key;
        uint32_t at;
        bool operator<(const Filed &o) const { return key != o.key ? key < o.key : at < o.at; }
    };
    QList<QPair<qint64, PersonKeys>> m_cards;
    std::vector<Filed> m_sorted;                                 // the cards added all at once
    std::unordered_map<uint64_t, std::vector<uint32_t>> m_byKey; // those added one by one
};

struct DuplicateGroup
{
    QList<qint64> ids; // ascending
    int reasons = 0;
};
// Two cards told apart by a user, the smaller id first.
using DistinctPairs = std::set<std::pair<qint64, qint64>>;

// The groups among `cards` (id, card), each group's ids ascending, groups by
// their first id; two cards told apart are not joined by their likeness.
QList<DuplicateGroup> duplicateGroups(const QList<QPair<qint64, PersonKeys>> &cards,
                                      const DistinctPairs &distinct = {});

// Every group of probable duplicates in the database, the cards told apart
// kept apart.
QList<DuplicateGroup> storedDuplicates(db::Access &db);

// The marks of cards told apart ("Не дубликаты"); they need the database's
// upgrade: without its table there are none, and marking says false.
bool distinctMarksKept(db::Access &db);
DistinctPairs distinctPairs(db::Access &db);
// Tells every two of `ids` apart, in one unit.
bool markDistinct(db::Access &db, const QList<qint64> &ids);
// Forgets every mark; the number of pairs there were.
int forgetDistinct(db::Access &db);
// The rule's keys of every stored card, by id.
QList<QPair<qint64, PersonKeys>> storedPersonKeys(db::Access &db);

// The search of every group run beside the window's thread, on a connection
// of its own, with the cards of each group read for showing.
struct FoundGroup
{
    DuplicateGroup group;
    QList<CardRecord> cards; // in the order of group.ids
};

class DuplicateSearch
{
public:
    // Called on the search's thread when it ends: the groups, or the error.
    using Done = std::function<void(const QList<FoundGroup> &groups, const QString &error)>;
    DuplicateSearch(const QString &databasePath, Done done);
    // Waits for a search still running.
    ~DuplicateSearch();
    DuplicateSearch(const DuplicateSearch &) = delete;
    DuplicateSearch &operator=(const DuplicateSearch &) = delete;

private:
    std::thread m_thread;
};

} // namespace core
