#pragma once
// What the parts of the query layer share: the client library's master
// interface, its status vector, and the turning of its errors into DbError.

#include "engineerrors.h"
#include "ibase.h"

#include <firebird/Interface.h>

namespace db {

using detail::EngineRef;

constexpr unsigned kWin1251 = 52;
// The longest text a VARCHAR parameter can carry, in bytes.
constexpr qsizetype kMaxVarchar = 32765;

Firebird::IMaster *master();

// A status vector that throws on error and is disposed of on every exit.
struct Status : Firebird::ThrowStatusWrapper
{
    Status() : Firebird::ThrowStatusWrapper(master()->getStatus()) {}
    ~Status() { dispose(); }
};

// The engine's text of an error, and its codes.
QString describe(Firebird::IStatus *status);
StatusCodes codesOf(Firebird::IStatus *status);

// The engine call that ended an object (commit, close, free, detach) has
// released it as well: the holder lets go of it without ending it again.
template <typename T>
void ended(detail::EngineRef<T> &ref)
{
    (void)ref.release();
}

// Runs `f`, turning the client library's exceptions into DbError; a lost
// connection is marked on the database, to be opened again at the next statement.
struct Guard
{
    template <typename F>
    static auto run(IBDatabase *db, F &&f) -> decltype(f())
    {
        try {
            return f();
        } catch (const Firebird::FbException &e) {
            DbError error = engineError(codesOf(e.getStatus()), describe(e.getStatus()));
            if (error.connectionLost() && db && db->m_att)
                db->m_lost = true;
            throw error;
        }
    }
};

template <typename F>
auto guarded(F &&f) -> decltype(f())
{
    return Guard::run(nullptr, std::forward<F>(f));
}

// The text in Windows-1251, or a DbError naming the first character it cannot hold.
QByteArray encodeOrThrow(const QString &text);

} // namespace db
