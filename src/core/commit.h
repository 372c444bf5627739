#pragma once
// Changes stored together: a piece of work on the shared transaction, then
// its commit; whatever fails is rolled back whole, so that nothing of it is
// stored by a later commit.

#include "db/ibase.h"

#include <type_traits>

namespace core {

template <typename F>
auto inOneCommit(db::IBTransaction &transaction, F &&work) -> decltype(work())
{
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

} // namespace core
