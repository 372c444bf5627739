#include "listservice.h"

#include "changewatch.h"
#include "contactlist.h"
#include "indexbuild.h"
#include "listfetch.h"
#include "listmodel.h"
#include "searchindex.h"

#include "db/access.h"
#include "db/events.h"
#include "db/schema.h"

#include <QScopeGuard>

namespace core {

namespace {

// A database the index cannot serve (no log yet) is tried again a minute later.
constexpr qint64 kRetryIndexMs = 60000;
// A copy idle for long keeps its index current from the change log, rather
// than reading every card at its next search.
constexpr int kKeepUpMs = 60000;
// How often the change log is trimmed (the start-up trims it too).
constexpr int kTrimEveryMs = 10 * 60 * 1000;
// The event the log's trigger posts at each commit that changed cards.
constexpr char kCardsChanged[] = "zentrax_cards";

} // namespace

ListService::ListService(db::Link db, QObject *parent)
    : QObject(parent), m_connection(db.connection), m_access(db.access), m_model(new ListModel(this)),
      m_listTrans(&db.connection, db::IBTransaction::Kind::Read), m_cursor(&db.connection, &m_listTrans),
      m_fetch(std::make_unique<ListFetch>(*m_model))
{
    connect(&m_keepUp, &QTimer::timeout, this, [this] {
        if (!m_index || !m_index->index.ready())
            return;
        try {
            m_index->index.sync();
        } catch (const db::DbError &) {
            // Told at the next search, if it lasts.
        }
        catchUpIfWanted();
    });
    m_keepUp.start(kKeepUpMs);
    connect(&m_look, &QTimer::timeout, this, [this] {
        keepLockRoom();
        later([this] { checkWatch(); });
    });
    m_look.start(kCheckEveryMs);
    connect(&m_trimTimer, &QTimer::timeout, this, [this] {
        if (m_trimRunning || !m_watch)
            return;
        if (m_trim.joinable())
            m_trim.join();
        m_trimRunning = true;
        m_trim = std::thread([this, path = m_connection.databaseName] {
            try {
                db::IBDatabase d;
                d.databaseName = path;
                d.open();
                schema::trimChangeLog(d);
            } catch (const db::DbError &) {
                // A database gone away or read-only: next time.
            }
            m_trimRunning = false;
        });
    });
    m_trimTimer.start(kTrimEveryMs);
}

ListService::~ListService()
{
    if (m_trim.joinable())
        m_trim.join();
}

template <typename F>
void ListService::later(F &&work)
{
    try {
        work();
    } catch (...) {
        emit failed(std::current_exception());
    }
}

void ListService::search(const ListFilter &f, ListSort sort)
{
    m_filter = f;
    m_sort = sort;
    m_birthdays = false;
    watch();
    showSearch(false);
}

void ListService::showSearch(bool mayWait)
{
    // The rows an older index gave out are shown no more from here on.
    m_retired.reset();
    if (m_filter.contains && m_indexUsed) {
        if (OwnIndex *own = searchIndex()) {
            std::optional<std::vector<const char *>> rows;
            try {
                rows = own->index.find(m_filter, m_sort, ListFetch::kFirstRows);
            } catch (const db::DbError &e) {
                if (!e.fromEngine())
                    throw; // a text that cannot be searched for, told as the statement would
                // The index's own connection failed: the statement answers, a new index is read.
                dropIndex(false);
            }
            catchUpIfWanted();
            if (rows) {
                showIndexRows(std::move(*rows));
                return;
            }
            searchIndex(); // read anew beside the window, when it must be
        }
        // Colleagues' changes the index cannot take in at once are shown once
        // it is read again beside the window: the statement's full scan would
        // stall the window for what nobody typed.
        if (mayWait && m_build) {
            m_catchingUp = true;
            return;
        }
    }
    openList(m_cursor, m_filter, m_sort);
    fillFromStatement(true);
}

int ListService::showBirthdays(int month)
{
    m_month = month;
    m_birthdays = true;
    watch();
    m_retired.reset();
    openBirthdays(m_cursor, month);
    m_cursor.last();
    const int count = m_cursor.recordCount();
    fillFromStatement(false);
    return count;
}

void ListService::refill()
{
    if (m_birthdays)
        showBirthdays(m_month);
    else
        showSearch(false);
}

OwnIndex *ListService::searchIndex()
{
    if (m_index && m_index->index.ready())
        return m_index.get();
    // One that cannot serve any more goes; kept while a fill still takes rows from it.
    if (m_index)
        dropIndex(m_filling);
    if (!m_build && (!m_indexTried.isValid() || m_indexTried.elapsed() > kRetryIndexMs || m_indexWorked)) {
        m_indexTried.start();
        // Reading the index makes the engine's lock table grow: not where
        // the lock folder has no room for it (the statement answers).
        if (!db::isServerPath(m_connection.databaseName) && !db::lockFolderProblem(db::lockFolder()).isEmpty()) {
            m_indexWorked = false;
            return nullptr;
        }
        m_build = std::make_unique<IndexBuild>(m_connection.databaseName, [this](std::shared_ptr<OwnIndex> index,
                                                                                 const QString &) {
            QMetaObject::invokeMethod(
                this, [this, index]() mutable { later([&] { indexBuilt(std::move(index)); }); }, Qt::QueuedConnection);
        });
    }
    return nullptr;
}

bool ListService::indexReady() const
{
    return m_index && m_index->index.ready();
}

size_t ListService::indexBytes() const
{
    return m_index ? m_index->index.memoryBytes() : 0;
}

void ListService::indexBuilt(std::shared_ptr<OwnIndex> index)
{
    m_build.reset();
    m_indexWorked = index != nullptr;
    if (!index)
        return;
    dropIndex(m_filling); // its rows may still be coming
    m_index = std::move(index);
    const bool catchingUp = std::exchange(m_catchingUp, false);
    if (!m_filter.contains || m_birthdays || !m_live)
        return;
    // What the statement showed (or colleagues changed meanwhile), now from the index.
    if (catchingUp)
        emit othersChanging();
    showSearch(false);
    if (catchingUp)
        emit othersChanged();
}

void ListService::forgetIndex()
{
    m_build.reset();
    dropIndex(false);
    m_indexTried.invalidate();
}

void ListService::dropIndex(bool retire)
{
    m_catchUp.reset(); // it reads the index: ended first
    if (retire)
        m_retired = std::move(m_index);
    else
        m_index.reset();
}

void ListService::catchUpIfWanted()
{
    if (m_catchUp || !m_index || !m_index->index.wantsCatchUp())
        return;
    // Another connection makes the engine's lock table grow: where the lock
    // folder has no room, the index is read anew later (the statement answers).
    if (!db::isServerPath(m_connection.databaseName) && !db::lockFolderProblem(db::lockFolder()).isEmpty()) {
        m_index->index.takeCatchUp(nullptr);
        return;
    }
    const quint64 which = ++m_catchUps;
    m_catchUp = std::make_unique<IndexCatchUp>(
        m_index, [this, which](std::unique_ptr<SearchIndex::CatchUp> c, const QString &) {
            auto box = std::make_shared<std::unique_ptr<SearchIndex::CatchUp>>(std::move(c));
            QMetaObject::invokeMethod(
                this,
                [this, which, box] {
                    if (which == m_catchUps && m_catchUp) // else ended before it reported
                        later([&] { caughtUp(std::move(*box)); });
                },
                Qt::QueuedConnection);
        });
}

void ListService::caughtUp(std::unique_ptr<SearchIndex::CatchUp> c)
{
    m_catchUp.reset();
    if (!m_index)
        return;
    // Read anew beside the window where it could not be taken in.
    m_index->index.takeCatchUp(std::move(c));
    if (!m_live || m_birthdays || !m_filter.contains || !m_indexUsed)
        return;
    emit othersChanging();
    showSearch(true);
    emit othersChanged();
}

// The index's first screen of rows at once, the rest from the event loop;
// then the index looks whether it is still current.
void ListService::showIndexRows(std::vector<const char *> rows)
{
    m_fetch->begin(std::move(rows), m_index->index.version(), m_index->index.hasRest());
    showRows([&] { m_fetch->showFirst(); }, false);
    const quint64 generation = m_generation;
    QTimer::singleShot(0, this, [this, generation] {
        later([&] {
            if (generation != m_generation)
                return; // another fill replaced this one
            finish();
            if (m_index && m_index->index.settleIfDue())
                refill();
            catchUpIfWanted();
        });
    });
}

// The statement's first rows at once; a long result follows in slices from
// the event loop, so the window stays responsive.
void ListService::fillFromStatement(bool resetHeights)
{
    m_fetch->begin(m_cursor);
    showRows([&] { m_fetch->showFirst(); }, !resetHeights);
    if (!m_fetch->pending())
        return;
    m_fillTimer.start();
    const quint64 generation = m_generation;
    QTimer::singleShot(0, this, [this, generation] { later([&] { continueFill(generation); }); });
}

void ListService::showRows(const std::function<void()> &fillModel, bool sameRows)
{
    emit aboutToShow(sameRows);
    ++m_generation;
    fillModel();
    m_filling = m_fetch->pending();
    emit shown();
    if (!m_filling)
        emit arrived();
}

void ListService::continueFill(quint64 generation)
{
    if (generation != m_generation || !m_filling)
        return;
    bool more = false;
    {
        // Whatever happens, the rows that arrived are told.
        const auto told = qScopeGuard([&] {
            if (!more)
                endFill();
            else
                emit arriving(m_model->cardCount(), m_fillTimer.elapsed());
        });
        more = m_fetch->next();
    }
    if (more)
        QTimer::singleShot(0, this, [this, generation] { later([&] { continueFill(generation); }); });
}

void ListService::finish()
{
    if (!m_filling)
        return;
    if (m_fetch->wantsRest()) {
        // The index gave the first screen alone; the rest from the same index.
        std::optional<std::vector<const char *>> more = m_index ? m_index->index.rest() : std::nullopt;
        if (!more) {
            endFill();
            refill(); // the index changed meanwhile: searched again
            return;
        }
        m_fetch->extend(*more);
    }
    const bool kept = m_fetch->finish(m_index ? m_index->index.version() : 0);
    endFill();
    if (!kept)
        refill(); // the index changed under its rows: searched again
}

void ListService::endFill()
{
    m_fetch->end();
    m_filling = false;
    emit arrived();
}

void ListService::watch()
{
    // The log as it stands before the list is first read: whatever is
    // committed from now on shows.
    if (m_watch)
        return;
    m_watch = std::make_unique<ChangeWatch>(m_access);
    m_events = std::make_unique<db::EventWatch>(m_connection, QByteArray(kCardsChanged));
    armEvents();
    try {
        m_watch->look();
    } catch (const db::DbError &) {
        // Looked at again at the next tick.
    }
}

void ListService::armEvents()
{
    // The news only goes to this thread: the look runs here, in turn.
    m_events->arm([this] {
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_lookDue = true;
                later([this] { followChanges(); });
            },
            Qt::QueuedConnection);
    });
}

void ListService::keepLockRoom()
{
    if (db::isServerPath(m_connection.databaseName))
        return;
    const QString problem = db::reserveLockRoom(db::lockFolder());
    if (problem.isEmpty()) {
        m_roomTold = false;
        return;
    }
    if (!std::exchange(m_roomTold, true))
        emit failed(std::make_exception_ptr(db::DbError(problem)));
}

void ListService::checkWatch()
{
    if (!m_watch || !m_connection.connected())
        return;
    bool announced = false;
    try {
        announced = m_watch->announced();
    } catch (const db::DbError &) {
        return; // a database gone away is told by the user's next action, not every second
    }
    if (m_lookDue || !announced || !eventsArmed())
        followChanges();
}

bool ListService::eventsArmed() const
{
    return m_events && m_events->armed();
}

void ListService::followChanges()
{
    // Not while the list is being read, nor before one was shown: the
    // next check looks then.
    if (!m_live || m_filling || !m_watch || !m_connection.connected())
        return;
    m_lookDue = false;
    // Armed before the look, so that no commit falls between the two.
    if (!m_events->armed())
        armEvents();
    bool changed = false;
    try {
        changed = m_watch->look();
    } catch (const db::DbError &) {
        return; // a database gone away is told by the user's next action, not every second
    }
    if (!changed)
        return;
    emit othersChanging();
    if (m_birthdays)
        showBirthdays(m_month);
    else
        showSearch(true);
    emit othersChanged();
}

} // namespace core
