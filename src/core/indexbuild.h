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

// An index with the connection it reads the database through, and the door
// on it for the index's short reads (it writes nothing: the write transaction
// the door asks for is never started). Built on one thread, then searched on
// the window's (never both at once).
struct OwnIndex
{
    db::IBDatabase connection;
    db::IBTransaction writes{&connection};
    db::IBTransaction reads{&connection, db::IBTransaction::Kind::Read};
    db::Access access{connection, writes, reads};
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

} // namespace core
