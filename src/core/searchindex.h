#pragma once
// The contact list's search "from any position" without reading every card.
// The columns the five boxes search are kept in this program's memory, once:
// those the list shows inside the card's row of the list, the others beside
// it, all as stored and upper-cased as the database upper-cases them while
// they are compared; with each card's place in each of the list's orders (as
// the database orders them). They are kept current through the log of changed cards that the
// database's own trigger writes for whatever program changes a card, so a
// colleague's save, or a change made with a database tool, shows at the next
// search as it does in the list's statement.

#include "arena.h"
#include "collationorder.h"
#include "liststatement.h"

#include <QElapsedTimer>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace db {
class Access;
class IBDatabase;
class IBQuery;
struct Link;
} // namespace db

namespace core {

class SearchIndex
{
public:
    // Short reads (the log, the monitoring tables, a changed card) go through
    // the door; the read of every card and of an order's ids, a million rows
    // viewed in place, on transactions of its own on the connection.
    explicit SearchIndex(db::Link db);

    // Pages cached by the connections that read the index: they read the
    // whole table once and then single cards, so a bigger cache would only
    // hold pages never read again (16 KB each, in every copy's memory).
    static constexpr int kCachePages = 256;

    // The list's rows for a search with "any position" ticked, in the list's
    // order, each in the list model's form (valid until the next call);
    // nothing when the index cannot serve this database (it has no change
    // log yet, or compares text in a way the index does not follow): the
    // list's statement then runs instead. A text that cannot be searched for
    // throws a DbError saying why, as the statement does.
    // With `firstRows`, the first that many may come alone, found quickly
    // by walking the order: rest() then gives the others.
    std::optional<std::vector<const char *>> find(const ListFilter &f, ListSort sort, size_t firstRows = SIZE_MAX);
    // The rows after those the last find() gave, while the index is as it
    // was then; nothing when none are left to give or it has changed since
    // (the search must run again).
    std::optional<std::vector<const char *>> rest();
    bool hasRest() const { return m_rest.has_value(); }

    // Loads the index unless it is loaded; false when it cannot serve here.
    // An index built beside the window never loads here: see build().
    bool prepare();
    // Reads the whole index with every order (beside the window's thread;
    // `cancel` stops it between two pieces with a DbError), and from then
    // on reads nothing whole on the thread that searches: a change of many
    // cards makes it wantsCatchUp(); what needs a full read (a cleared log,
    // many changes where the collation's order is not learned) makes it
    // wantsRebuild(), and find() gives nothing until a new one is built.
    bool build(const std::atomic<bool> *cancel = nullptr);
    bool wantsRebuild() const { return m_wantsRebuild; }
    bool ready() const { return m_ready; }
    // What the index holds, for the benchmark.
    size_t memoryBytes() const;
    int cards() const { return m_live; }

    // The searched columns, in the order of the groups below.
    static constexpr int kColumns = 12;
    // From this many cards on, a look at every card is split between two
    // threads (the tests lower it to see both halves agree).
    static inline uint32_t splitScanFrom = 500000;
    // Changed cards find their places by the collation's order learned from
    // the database (off: by asking the database, as where it cannot be
    // learned; the tests switch it off to see both ways agree).
    static inline bool placeByLearnedOrder = true;

private:
    // 24 bytes a card: where it is kept, the lengths of the searched
    // columns (none is longer than 250 bytes in the schema).
    struct Slot
    {
        qint32 id = 0;      // pk_id
        uint32_t row = 0;   // in m_arena: its row of the list, then the searched columns the row lacks
        uint16_t nulls = 0; // bit c: searched column c is NULL
        bool live = true;   // false for a card let go of
        std::array<uint8_t, kColumns> length{};
    };

    struct Cells;
    bool checkDatabase();
    void load();
    // A full read, on this thread, or asked of a new build.
    void reload();

public:
    // Takes in what the database's log holds since the last look, and moves
    // the mark of settled transactions on when it is due; the main window
    // calls it now and then, so that an idle copy keeps up. A search takes
    // in the log alone (`settle` false).
    void sync(bool settle = true);
    // Moves the mark on, when it is due, after a search has shown its rows:
    // the look at the database's transactions (a monitoring read that can
    // take a while) stays off the keystroke's way. True when the search must
    // run again: the index was read anew, or cannot serve any more.
    bool settleIfDue();
    // Changes whenever rows given out by find may have moved or changed.
    quint64 version() const { return m_version; }

    // A change of more cards than the searching thread takes in at once (a
    // colleague's import): read, and put in the orders, beside that thread.
    struct CatchUp;
    // With the collation's order learned, placing costs no query: up to this
    // many changed cards are read in one statement and merged into the
    // orders on the searching thread (tens of milliseconds at a million
    // cards). Beyond, an index built beside the window asks for a catch-up
    // (the tests lower it).
    static inline size_t mostChangesHere = 2000;
    // Until the catch-up asked for is taken in, the index answers as it
    // stands and takes in nothing else.
    bool wantsCatchUp() const { return m_wantsCatchUp; }
    // Reads the catch-up through `db`, a connection of its own, on another
    // thread: the index is only read meanwhile and must not change.
    // Nothing when `cancel` stops it.
    std::unique_ptr<CatchUp> readCatchUp(db::Access &db, const std::atomic<bool> *cancel = nullptr) const;
    // Takes it in, in one short step; when it cannot be (none came, the
    // index changed meanwhile, a text the learned order has no place for),
    // the index is read anew instead.
    void takeCatchUp(std::unique_ptr<CatchUp> c);

private:
    void syncOrThrow(bool settle);
    // Takes the changed cards (sorted, each once; logged by transactions from
    // `fromTxn` on) in again, reading them (and the cards their places are
    // found by) in the door's snapshot that the log was read in.
    // False when they are too many to place without the learned order (a
    // text it has no place for came in): the index must be read anew.
    bool refresh(const std::vector<qint32> &ids, qint64 fromTxn);
    // A card in the form the index keeps: its slot (`row` not set yet) and
    // each box's signature.
    struct Encoded
    {
        Slot slot;
        std::array<uint64_t, 5> signature{};
    };
    // The card a statement over the read columns stands on, its bytes
    // appended to `into`.
    Encoded encode(const Cells &cells, std::vector<char> &into) const;
    // Keeps an encoded card, in a new slot or in place of its older one;
    // returns the slot.
    uint32_t put(const Encoded &e, const char *bytes, size_t size);
    // The two at once, for a card read on the searching thread.
    void store(const Cells &cells);
    // Reads the changed cards (sorted, each once) through the log's rows of
    // transactions from `fromTxn` on, each card once: `take` stores it (false
    // stops the read). Which of them were found (the others were deleted).
    std::vector<bool> readChanged(db::Access &db, const std::vector<qint32> &ids, qint64 fromTxn,
                                  const std::function<bool(const Cells &, qint32)> &take) const;
    // The changes of a catch-up too large for the searching thread: there,
    // they are read beside it; loaded here, read here at once.
    void catchUpOrReload();
    // Lets the card go: a slot without a live card.
    void drop(qint32 id);
    void loadOrder(int sort);
    // An order's card ids as the database sorts them, read on a connection
    // of its own (beside the cards' read); then taken in.
    void readOrder(int sort, std::vector<qint32> &ids, const std::atomic<bool> &stop) const;
    // The ids through `q`; false when told to stop first.
    bool readOrderIds(db::IBQuery &q, int sort, std::vector<qint32> &ids, const std::atomic<bool> *stop) const;
    void placeOrder(int sort, const std::vector<qint32> &ids);
    std::function<void()> m_marked; // told once a read has set the log's mark
    // Puts the slot into the order where the database would sort its key.
    void place(int sort, uint32_t slot, std::string_view key, bool keyNull);
    // Sorts every card into the order by the learned order.
    void sortLearned(int sort);
    // Puts the slots into the order by the learned order, in one pass.
    void placeLearned(int sort, std::vector<uint32_t> added);
    // The slot's text the order sorts by; `null` when it is NULL.
    std::string_view sortKey(const Slot &s, int sort, bool &null) const;
    // The same in a card's row kept at `row`.
    static std::string_view sortKeyIn(const char *row, const Slot &s, int sort, bool &null);
    // The learned order of two keys, NULL first as the database sorts.
    int compareKeys(std::string_view x, bool nullX, std::string_view y, bool nullY) const;
    // Whether the learned order has a place for the slot's key.
    bool keyKnown(const Slot &s, int sort) const;
    // The learned order of two slots' keys (NULL first, as the database sorts).
    int compareSlots(uint32_t a, uint32_t b, int sort) const;
    // Whether the learned order keeps the order as the database read it,
    // the slots passed over aside.
    bool followsLearnedOrder(int sort, const std::vector<bool> &passedOver) const;
    // Takes the slots out of every order, in one pass.
    void unplace(const std::vector<uint32_t> &gone);
    const std::vector<uint32_t> &positions(int sort);
    void compactIfWasteful();
    // A box's pattern in the database's bytes, with the forms most typed
    // (an empty box, "%text%") matched the short way.
    struct Pattern
    {
        Pattern() = default;
        explicit Pattern(std::vector<uint8_t> bytes);
        // Whether the column's bytes, upper-cased by `upper`, match.
        bool matches(const uint8_t *t, size_t n, const uint8_t *upper) const;
        std::vector<uint8_t> text;
        bool any = true, plain = false;
    };
    // A search's patterns and how cards are passed over quickly.
    struct Search
    {
        std::array<Pattern, 5> patterns;
        int sort = 0;
        int first = -1;                              // the box whose own text is the longest
        std::string literal;                         // that text, looked for first
        std::vector<std::pair<int, uint64_t>> sieve; // box, signature bits its text needs
    };
    struct Rest
    {
        Search search;
        uint32_t from = 0; // the first place in the order not given yet
        quint64 version = 0;
    };
    bool hit(uint32_t slot, const Search &q) const;
    // The rows of the cards found from place `from` of the order on.
    std::vector<const char *> scan(const Search &q, uint32_t from);
    std::optional<Rest> m_rest;
    bool matches(const Slot &s, const std::array<const uint8_t *, kColumns> &at,
                 const std::array<Pattern, 5> &patterns) const;
    // The bytes the slot's card holds in the arena.
    size_t bytesOf(const Slot &s) const;
    static size_t extraBytes(const Slot &s);
    // Where each searched column of the slot's card starts.
    void columns(const Slot &s, std::array<const uint8_t *, kColumns> &at) const;

    db::IBDatabase &m_connection;
    db::Access &m_db;
    bool m_ready = false;
    bool m_unusable = false;
    bool m_inline = true; // loads on the thread that searches (false once built beside it)
    bool m_wantsRebuild = false;
    bool m_wantsCatchUp = false;
    const std::atomic<bool> *m_cancel = nullptr;
    QElapsedTimer m_unusableSince;
    static constexpr qint64 kRecheckMs = 60000;
    std::array<uint8_t, 256> m_upper{}; // the database's upper-casing, byte by byte
    CollationOrder m_collation;
    std::vector<Slot> m_slots;
    // Card id -> slot: a table by id for the ids an identity column gives
    // (from 1 on, few gaps), a map for ids far beyond the number of cards.
    class SlotOf
    {
    public:
        static constexpr uint32_t kNone = UINT32_MAX;
        uint32_t find(qint32 id) const;
        void set(qint32 id, uint32_t slot);
        void erase(qint32 id);
        void clear();
        size_t bytes() const;

    private:
        std::vector<uint32_t> m_dense;
        std::unordered_map<qint32, uint32_t> m_sparse;
        size_t m_count = 0;
    };
    SlotOf m_slotOf;
    Arena m_arena; // per card: its row in the list model's form, the searched columns the row lacks
    std::vector<char> m_scratch;
    // Per box, per slot: a bit for each pair of neighbouring characters its
    // columns hold (upper-cased), hashed into 64; in the phone box, for each
    // run of three digits.
    std::array<std::vector<uint64_t>, 5> m_signature;
    size_t m_garbage = 0; // bytes of m_arena no slot uses any more
    int m_live = 0;
    // Per order (name, work place, post): the slots in the database's order,
    // and each slot's position in it.
    std::array<std::vector<uint32_t>, 3> m_order;
    std::array<std::vector<uint32_t>, 3> m_position;
    std::array<bool, 3> m_orderLoaded{};
    std::array<bool, 3> m_positionValid{};
    // Changes of transactions from this one on may still come; older ones
    // are all in. The pairs seen from it on are not applied twice.
    qint64 m_settled = 0;
    std::set<std::pair<qint64, qint32>> m_seen;
    QElapsedTimer m_settledAt;
    quint64 m_version = 0;
};

struct SearchIndex::CatchUp
{
    quint64 version = 0;                           // the index's state it was read against
    qint64 settle = -1;                            // the oldest transaction running before it was read
    bool readAnew = false;                         // the log lost rows, or a text has no place in the learned order
    std::vector<std::pair<qint64, qint32>> logged; // the log's rows it takes in
    struct Card
    {
        bool gone = false; // deleted: the slot lets its card go
        uint32_t slot = 0; // a new card's slot comes after the index's last
        Encoded encoded;
        uint32_t at = 0, size = 0; // its bytes in `bytes`
    };
    std::vector<Card> cards;
    std::vector<char> bytes;
    std::array<std::vector<uint32_t>, 3> order; // each order read, the changed cards in their places
};

} // namespace core
