#pragma once
// Changes stored together: a piece of work on the shared transaction, then
// its commit; whatever fails is rolled back whole, so that nothing of it is
// stored by a later commit.
//
// A long run of small units (an import's cards) can share commits instead:
// a Batch runs each unit inside a savepoint of one transaction, so that a
// unit that fails is undone alone, and commits the units it kept together.

#include "db/ibase.h"

#include <QElapsedTimer>
#include <type_traits>

namespace core {

template <typename F>
auto inOneCommit(db::IBTransaction &transaction, F &&work) -> decltype(work())
{
    // Inside a batch's unit the work is part of that unit: undone with it
    // when it fails, committed with the batch.
    if (transaction.inSavepoint())
        return work();
    // Between two units of a batch (a timer or another window while the
    // batch shows its progress), the units kept so far are committed first:
    // this unit starts a transaction, and a snapshot, of its own.
    if (transaction.batch && transaction.active())
        transaction.commit();
    try {
        if constexpr (std::is_void_v<decltype(work())>) {
            work();
            transaction.commit();
        } else {
            auto result = work();
            transaction.commit();
            return result;
        }
    } catch (...) {
        transaction.rollback();
        throw;
    }
}

// Runs `work` as one unit on the transaction: every statement of it, the
// inOneCommit pieces it calls included, is committed together at its end or
// rolled back together. Inside a batch's unit it is part of that unit.
template <typename F>
auto inOneUnit(db::IBTransaction &transaction, F &&work) -> decltype(work())
{
    if (transaction.inSavepoint())
        return work();
    return inOneCommit(transaction, [&] {
        // The savepoint makes the pieces inside join this unit instead of
        // committing on their own.
        transaction.setSavepoint();
        if constexpr (std::is_void_v<decltype(work())>) {
            work();
            transaction.releaseSavepoint();
        } else {
            auto result = work();
            transaction.releaseSavepoint();
            return result;
        }
    });
}

class Batch
{
public:
    // At most this many units, or this long since the first of them, before
    // the owner commits (full()): other copies of the program wait for rows
    // an open batch holds, and a lost batch has to be done again.
    static constexpr int kMostUnits = 200;
    static constexpr qint64 kLongestMs = 500;

    explicit Batch(db::IBTransaction &transaction);
    // Units not committed by then are rolled back.
    ~Batch();
    Batch(const Batch &) = delete;
    Batch &operator=(const Batch &) = delete;

    // Runs `work` as one unit (the inOneCommit units inside it included):
    // kept whole in the batch's transaction, or, when it throws, undone whole
    // and the exception passed on, the units kept before staying.
    template <typename F>
    void unit(F &&work)
    {
        m_transaction.setSavepoint();
        try {
            work();
            m_transaction.releaseSavepoint();
        } catch (...) {
            m_transaction.rollbackToSavepoint();
            throw;
        }
        if (m_held++ == 0)
            m_since.start();
    }

    // Units kept and not committed yet: zero again once committed, by
    // commit() or by a unit of work from elsewhere between two units.
    int held() const { return m_held; }
    bool full() const { return m_held >= kMostUnits || (m_held > 0 && m_since.elapsed() >= kLongestMs); }
    // Commits the units kept. Throws DbError when that fails; they are lost then.
    void commit() { m_transaction.commit(); }
    // Units kept were rolled back instead of committed: the connection went,
    // or a commit failed.
    bool lost() const { return m_lost; }

private:
    db::IBTransaction &m_transaction;
    int m_held = 0;
    bool m_lost = false;
    QElapsedTimer m_since;
};

} // namespace core
