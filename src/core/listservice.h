#pragma once
// The contact list as one use case: what the user typed, the "any position"
// flag and the order go in; the rows come out in the model, with signals for
// what the window shows around them. It owns the list's cursor, the fill in
// slices, the "any position" index read beside the window's thread, and the
// look at colleagues' changes that keeps an open list current without a
// keystroke. QtCore only: the benchmark and the tests drive it as the main
// window does.

#include "liststatement.h"
#include "searchindex.h"

#include "db/ibase.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <atomic>
#include <exception>
#include <memory>
#include <thread>
#include <vector>

class ListModel;
namespace db {
class Access;
class EventWatch;
struct Link;
} // namespace db

namespace core {

class ChangeWatch;
class IndexBuild;
class IndexCatchUp;
class ListFetch;
struct OwnIndex;

class ListService : public QObject
{
    Q_OBJECT
public:
    // The list's cursor and transaction, and the watch on commits, are its
    // own on the connection; the look at the change log goes through the door.
    explicit ListService(db::Link db, QObject *parent = nullptr);
    ~ListService() override;

    ListModel &model() { return *m_model; }

    // The list for these texts: its first screen of rows is in the model when
    // this returns, a long list follows from the event loop. "Any position"
    // is answered by the index once it is read, by the statement until then.
    // A text that cannot be searched for, or a failed read, throws DbError.
    void search(const ListFilter &f, ListSort sort);
    // A month's birthdays in place of the search; returns how many.
    int showBirthdays(int month);
    // The list shown (the search or the birthdays) read again.
    void refill();
    bool filling() const { return m_filling; }
    bool showingBirthdays() const { return m_birthdays; }
    // The rest of a fill under way, at once.
    void finish();
    // The index is read anew at the next "any position" search (the
    // database was upgraded, or is another one).
    void forgetIndex();
    // Whether the index answers "any position" now (else the statement does).
    bool indexReady() const;
    // What the index holds in memory (none before it is read).
    size_t indexBytes() const;
    // Without the index, the statement answers every search (the benchmark
    // measures the two side by side).
    void setIndexUsed(bool used) { m_indexUsed = used; }
    // Colleagues' changes are followed while the list is live (after the
    // login, before the first search nothing is shown to follow).
    void setLive(bool live) { m_live = live; }
    // One look at the change log; refills the list when others committed
    // changes. The database's event calls it; tests call it to not wait.
    void followChanges();
    // How often the watch is checked: an event missed while the list was
    // read, a connection opened anew. Where the connection cannot deliver
    // events, the log itself is looked at this often.
    static constexpr int kCheckEveryMs = 1000;
    // The watch on colleagues' commits is delivered by the database.
    bool eventsArmed() const;

signals:
    // The model's rows are about to be replaced by a new list (`sameRows`:
    // the birthdays' list, whose rows keep their heights).
    void aboutToShow(bool sameRows);
    // The first rows of the new list are in the model.
    void shown();
    // More rows of a long list arrived; `elapsedMs` since it began.
    void arriving(int loaded, qint64 elapsedMs);
    // The fill ended, every row in or cut short.
    void arrived();
    // Work from the event loop failed (a read cut short, a lost connection):
    // the rows that arrived stay; the window tells the user.
    void failed(std::exception_ptr error);
    // Colleagues committed changes: the list is about to be read again, and
    // then has been (the window keeps the selected card and the view).
    void othersChanging();
    void othersChanged();

private:
    // The search as it stands; `mayWait`: colleagues' changes that the index
    // takes in only by being read anew keep the list as it is until then.
    void showSearch(bool mayWait);
    void fillFromStatement(bool resetHeights);
    void showIndexRows(std::vector<const char *> rows);
    void showRows(const std::function<void()> &fillModel, bool sameRows);
    void continueFill(quint64 generation);
    void endFill();
    void watch();
    void armEvents();
    // Gives the engine's tables in the lock folder their room on the disk as
    // they grow; tells once when the disk is full.
    void keepLockRoom();
    // The timer's turn: a look when an event is due, or when the database
    // cannot tell (not upgraded, or the connection gets no events).
    void checkWatch();
    // The index ready to search; nothing while it is read beside the window
    // (a read is started when none runs) or cannot serve this database.
    OwnIndex *searchIndex();
    void indexBuilt(std::shared_ptr<OwnIndex> index);
    // The index's own connection failed, or another index replaces it.
    void dropIndex(bool retire);
    // Starts the catch-up the index asks for, when none runs.
    void catchUpIfWanted();
    void caughtUp(std::unique_ptr<SearchIndex::CatchUp> c);
    // Runs work from the event loop: its errors go to failed().
    template <typename F>
    void later(F &&work);

    db::IBDatabase &m_connection;
    db::Access &m_access;
    ListModel *m_model;
    // The list's own read transaction and cursor: no other statement, failed
    // or not, can close the list while it still arrives.
    db::IBTransaction m_listTrans;
    db::IBQuery m_cursor;
    std::unique_ptr<ListFetch> m_fetch;
    ListFilter m_filter;
    ListSort m_sort = ListSort::Name;
    int m_month = 0;
    bool m_birthdays = false;
    bool m_live = false;
    bool m_indexUsed = true;
    bool m_filling = false;
    quint64 m_generation = 0;
    QElapsedTimer m_fillTimer;
    // The index read beside the window (m_build), searched once ready; one it
    // replaced stays while the model may show its rows.
    std::shared_ptr<OwnIndex> m_index;
    std::shared_ptr<OwnIndex> m_retired;
    QElapsedTimer m_indexTried;          // when a build was last started
    bool m_indexWorked = false;          // the last build gave an index
    std::unique_ptr<IndexBuild> m_build; // ended before what it reports to
    // A catch-up of m_index read beside the window; the index does not change meanwhile.
    std::unique_ptr<IndexCatchUp> m_catchUp;
    quint64 m_catchUps = 0; // tells a late report from an ended one
    std::unique_ptr<ChangeWatch> m_watch;
    std::unique_ptr<db::EventWatch> m_events;
    bool m_roomTold = false;   // the lock folder's lack of room was told
    bool m_lookDue = false;    // an event came that no look has answered yet
    bool m_catchingUp = false; // colleagues' changes wait for the index read beside
    QTimer m_keepUp, m_look, m_trimTimer;
    // Now and then the change log loses the rows no copy needs any more: a
    // delete of perhaps many rows, on a connection and thread of its own.
    std::thread m_trim;
    std::atomic<bool> m_trimRunning{false};
};

} // namespace core
