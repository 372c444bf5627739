#pragma once
// The database as the program's services reach it: reads that hand out rows
// of their own, units of work stored whole or not at all, and batches of
// units that share commits. Which transaction a statement runs on is decided
// here, not by the caller: a read inside a unit sees that unit's own writes
// (it runs on the unit's transaction); a read outside one sees everything
// committed (read committed, holding nothing back in the database).
//
// Every read or write takes a statement of its own for as long as its rows
// are held, so a read nested in another read's loop leaves the outer rows
// alone. Prepared statements are kept by their text and reused once free.

#include "ibase.h"

#include <QString>
#include <memory>
#include <type_traits>
#include <vector>

namespace db {

// A value for one ":name" of a statement.
struct Bind
{
    Bind(const QString &name, const QString &text) : name(name), text(text), kind(Kind::Text) {}
    Bind(const QString &name, qint64 number) : name(name), number(number), kind(Kind::Number) {}
    Bind(const QString &name, int number) : Bind(name, qint64(number)) {}
    static Bind null(const QString &name) { return Bind(name); }

    enum class Kind { Null, Text, Number };
    QString name;
    QString text;
    qint64 number = 0;
    Kind kind = Kind::Null;

private:
    explicit Bind(const QString &name) : name(name) {}
};
// The values of a statement; a parameter not given one is NULL.
using Binds = std::vector<Bind>;

class Access;

// The rows of one read (or the RETURNING row of one write), read forward.
// It stands before its first row; the statement goes back to the door when
// the rows go. Rows read are let go of as the reading goes on, so a long
// result never sits in memory whole. Never kept beyond the door's life.
class Rows
{
public:
    Rows(Rows &&other) noexcept;
    Rows &operator=(Rows &&) = delete;
    Rows(const Rows &) = delete;
    ~Rows();

    // Moves to the next row; false after the last one.
    bool next();
    // The index of a column of the result, any letter case; -1 when absent.
    int column(const QString &name) const;
    // The current row's values: NULL reads as an empty text and as 0. A
    // column named that the result lacks throws a DbError.
    QString text(int column) const;
    QString text(const QString &name) const;
    qint64 number(int column) const;
    qint64 number(const QString &name) const;
    // The current row's cells as they arrived, NULL told apart from an
    // empty text, without a copy: valid until the next call of next(). None
    // before the first row or after the last.
    void cells(std::vector<IBQuery::CellView> &out) const;
    // The rows a write changed.
    qint64 affected() const;

private:
    friend class Access;
    struct Statement;
    explicit Rows(Statement &statement) : m_statement(&statement) {}
    int indexOf(const QString &name) const;
    Statement *m_statement;
    int m_row = -1;
};

class Access
{
public:
    // Writes go through `write` (read-write, one unit at a time), reads
    // outside a unit through `read` (read-only, read committed).
    Access(IBDatabase &connection, IBTransaction &write, IBTransaction &read);
    ~Access();
    Access(const Access &) = delete;
    Access &operator=(const Access &) = delete;

    // Runs a SELECT (or a procedure that returns rows).
    Rows read(const QString &sql, const Binds &binds = {});
    // Runs an INSERT, UPDATE, DELETE or a procedure as part of the running
    // unit: its RETURNING row, if any, and affected() are in the rows. Outside
    // a unit it is refused with a DbError, before anything is sent.
    Rows write(const QString &sql, const Binds &binds = {});

    // Runs `work` as one unit: every write in it is committed together at its
    // end, or rolled back together when it throws (the exception passes on).
    // A unit inside a running unit, or inside a batch's unit, is part of it.
    // Between two units of a batch, the batch's units are committed first.
    template <typename F>
    auto unit(F &&work) -> decltype(work());
    bool inUnit() const { return m_units > 0 || m_write.inSavepoint(); }

    // Runs `work` with its reads on one snapshot of the database, so that
    // they agree with each other. Inside a unit the unit is that snapshot.
    template <typename F>
    auto snapshot(F &&work) -> decltype(work());

    // Throws a DbError of kind FileReplaced when the database file has been
    // put aside under the connection.
    void checkFileUnchanged() const { m_connection.checkFileUnchanged(); }

private:
    friend class Rows;
    friend class Batch;
    IBTransaction &readsOn();
    // A free statement of `sql` on `on`, marked busy, with every parameter bound.
    Rows take(IBTransaction &on, const QString &sql, const Binds &binds);
    void beginUnit();
    void endUnit();
    void abandonUnit();
    void endSnapshot(bool keep);

    IBDatabase &m_connection;
    IBTransaction &m_write;
    IBTransaction &m_read;
    IBTransaction m_snapshot;
    int m_units = 0;
    int m_snapshots = 0;
    std::vector<std::unique_ptr<Rows::Statement>> m_statements;
    quint64 m_uses = 0;
};

// What a service that also reads long results on its own is handed: the
// connection, on which it opens transactions and cursors of its own (rows
// viewed in place, fetched in pieces, never going through the door), and the
// door for its short reads.
struct Link
{
    IBDatabase &connection;
    Access &access;
};

// Many small units (an import's cards) sharing commits: each unit runs inside
// a savepoint of the write transaction, so a unit that fails is undone alone
// and the units kept before it stay; the owner commits them together.
class Batch
{
public:
    // At most this many units, or this long since the first of them, before
    // the owner commits (full()): other copies of the program wait for rows
    // an open batch holds, and a lost batch has to be done again.
    static constexpr int kMostUnits = 200;
    static constexpr qint64 kLongestMs = 500;

    explicit Batch(Access &db);
    // Units not committed by then are rolled back.
    ~Batch();
    Batch(const Batch &) = delete;
    Batch &operator=(const Batch &) = delete;

    // Runs `work` as one unit (the door's units inside it included): kept
    // whole in the batch's transaction, or, when it throws, undone whole and
    // the exception passed on, the units kept before staying.
    template <typename F>
    void unit(F &&work)
    {
        begin();
        try {
            work();
        } catch (...) {
            end(false);
            throw;
        }
        end(true);
    }

    // Units kept and not committed yet: zero again once committed, by
    // commit() or by a unit of work from elsewhere between two units.
    int held() const { return m_held; }
    bool full() const { return m_held >= kMostUnits || (m_held > 0 && m_since.elapsed() >= kLongestMs); }
    // Commits the units kept. Throws DbError when that fails; they are lost then.
    void commit() { m_db.m_write.commit(); }
    // Units kept were rolled back instead of committed: the connection went,
    // or a commit failed.
    bool lost() const { return m_lost; }

private:
    void begin();
    void end(bool keep);
    Access &m_db;
    int m_held = 0;
    bool m_lost = false;
    QElapsedTimer m_since;
};

template <typename F>
auto Access::unit(F &&work) -> decltype(work())
{
    if (inUnit())
        return work();
    beginUnit();
    try {
        if constexpr (std::is_void_v<decltype(work())>) {
            work();
            endUnit();
        } else {
            auto result = work();
            endUnit();
            return result;
        }
    } catch (...) {
        abandonUnit();
        throw;
    }
}

template <typename F>
auto Access::snapshot(F &&work) -> decltype(work())
{
    if (inUnit() || m_snapshots > 0)
        return work();
    ++m_snapshots;
    try {
        if constexpr (std::is_void_v<decltype(work())>) {
            work();
            endSnapshot(true);
        } else {
            auto result = work();
            endSnapshot(true);
            return result;
        }
    } catch (...) {
        endSnapshot(false);
        throw;
    }
}

} // namespace db
