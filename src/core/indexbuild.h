#pragma once
// The "any position" index read beside the window's thread, on a connection
// of its own: the window never waits for it, and the list's statement
// answers until it is ready.

#include "searchindex.h"

#include "db/access.h"

#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace core {

// A connection of its own and the door on it, for reads only (the write
// transaction the door asks for is never started).
struct OwnDoor
{
    db::IBDatabase connection;
    db::IBTransaction writes{&connection};
    db::IBTransaction reads{&connection, db::IBTransaction::Kind::Read};
    db::Access access{connection, writes, reads};
};

// An index with the connection it reads the database through. Built on one
// thread, then searched on the window's (never both at once).
struct OwnIndex : OwnDoor
{
    SearchIndex index{db::Link{connection, access}};
};

class IndexBuild
{
public:
    // Called on the build's thread when it ends: the index ready to search,
    // or nothing (the index cannot serve this database, the build was
    // cancelled, or it failed: `error` says why).
    using Done = std::function<void(std::shared_ptr<OwnIndex> index, const QString &error)>;

    // Starts reading the index of the database at `path`.
    IndexBuild(const QString &path, Done done);
    // Stops a build still running (between two pieces) and waits for it.
    ~IndexBuild();
    IndexBuild(const IndexBuild &) = delete;
    IndexBuild &operator=(const IndexBuild &) = delete;

private:
    std::atomic<bool> m_cancel{false};
    std::thread m_thread;
};

// A catch-up the index asks for (a colleague's import) read beside the
// window's thread, on a connection of its own, while the index answers as
// it stands; taken in on the window's thread once it is done.
class IndexCatchUp
{
public:
    // Called on the catch-up's thread when it ends: nothing when it failed
    // (`error` says why) or was cancelled.
    using Done = std::function<void(std::unique_ptr<SearchIndex::CatchUp> catchUp, const QString &error)>;

    // Starts reading what `index` asked for; the index must not change
    // until this has ended.
    IndexCatchUp(std::shared_ptr<const OwnIndex> index, Done done);
    // Stops a catch-up still running and waits for it.
    ~IndexCatchUp();
    IndexCatchUp(const IndexCatchUp &) = delete;
    IndexCatchUp &operator=(const IndexCatchUp &) = delete;

private:
    std::atomic<bool> m_cancel{false};
    std::thread m_thread;
};

} // namespace core
