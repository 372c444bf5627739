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

} // namespace core
