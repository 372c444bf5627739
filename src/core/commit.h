#pragma once
// Changes stored together, for code that writes through the shared query
// objects itself (the CardDAV server's book): a piece of work on the shared
// transaction, then its commit; whatever fails is rolled back whole, so that
// nothing of it is stored by a later commit. The services go through
// db::Access, whose units and batches keep to the same rules and join these.

#include "db/ibase.h"

#include <type_traits>

namespace core {

template <typename F>
auto inOneCommit(db::IBTransaction &transaction, F &&work) -> decltype(work())
{
    // Inside a batch's unit (db::Batch) the work is part of that unit:
    // undone with it when it fails, committed with the batch.
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

} // namespace core
