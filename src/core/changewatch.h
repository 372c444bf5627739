#pragma once
// Notices that cards were changed by anyone (another copy, the import, a
// database tool) from the log of changed cards that the database's own
// trigger writes, so that an open list can follow without a keystroke.

#include <QElapsedTimer>
#include <set>
#include <utility>

namespace db {
class Access;
}

namespace core {

class ChangeWatch
{
public:
    explicit ChangeWatch(db::Access &db);

    // True when changes were committed since the last look. The first look
    // only takes the log as it stands. A database without the log (not
    // upgraded) is looked at again now and then, and says nothing meanwhile;
    // a database error is passed on.
    bool look();
    // Whether the database keeps the log that the watch reads.
    bool watching() const { return m_logged; }
    // Whether the database posts an event at each commit the log takes in
    // (a database not upgraded yet does not: it must be looked at by turns).
    // Looked for again now and then, as another copy may upgrade it.
    bool announced();

private:
    bool checkLog();

    db::Access &m_db;
    bool m_started = false;
    bool m_logged = false;
    QElapsedTimer m_checkedAt; // when the log's presence was last looked at
    bool m_announced = false;
    QElapsedTimer m_announcedAt; // when the event's trigger was last looked for
    // Changes of transactions from this one on may still come; the pairs
    // (transaction, card) seen from it on are not told twice.
    qint64 m_settled = 0;
    std::set<std::pair<qint64, qint64>> m_seen;
    QElapsedTimer m_settledAt;
    bool m_settleNow = false; // the last look read many rows
};

} // namespace core
