#include "indexbuild.h"

namespace core {

IndexBuild::IndexBuild(const QString &path, Done done)
{
    m_thread = std::thread([this, path, done = std::move(done)] {
        auto own = std::make_shared<OwnIndex>();
        QString error;
        bool built = false;
        try {
            own->connection.databaseName = path;
            own->connection.cachePages = SearchIndex::kCachePages;
            own->connection.open();
            built = own->index.build(&m_cancel);
        } catch (const db::DbError &e) {
            error = e.text();
        } catch (const std::exception &e) {
            error = QString::fromLocal8Bit(e.what());
        }
        if (!built || m_cancel.load())
            own.reset(); // its connection closes here, on the thread that used it
        done(std::move(own), error);
    });
}

IndexBuild::~IndexBuild()
{
    m_cancel = true;
    if (m_thread.joinable())
        m_thread.join();
}

IndexCatchUp::IndexCatchUp(std::shared_ptr<const OwnIndex> index, Done done)
{
    m_thread = std::thread([this, index = std::move(index), done = std::move(done)] {
        std::unique_ptr<SearchIndex::CatchUp> caughtUp;
        QString error;
        try {
            OwnDoor door;
            door.connection.databaseName = index->connection.databaseName;
            door.connection.cachePages = SearchIndex::kCachePages;
            door.connection.open();
            caughtUp = index->index.readCatchUp(door.access, &m_cancel);
        } catch (const db::DbError &e) {
            error = e.text();
        } catch (const std::exception &e) {
            error = QString::fromLocal8Bit(e.what());
        }
        if (m_cancel.load())
            caughtUp.reset();
        done(std::move(caughtUp), error);
    });
}

IndexCatchUp::~IndexCatchUp()
{
    m_cancel = true;
    if (m_thread.joinable())
        m_thread.join();
}

} // namespace core
