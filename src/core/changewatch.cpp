#include "changewatch.h"

#include "db/access.h"

#include <limits>
#include <optional>

namespace core {

namespace {

// How often the oldest running transaction is read (a monitoring read that
// costs more than the log's own) and a missing log looked for again.
constexpr qint64 kSettleEveryMs = 10000;
// Past this many rows in one look (a colleague's import), the next look
// moves the mark on at once: each look until then reads them all again.
constexpr int kSettleAfterRows = 1000;
constexpr qint64 kRecheckLogMs = 60000;

} // namespace

ChangeWatch::ChangeWatch(db::Access &db) : m_db(db) {}

bool ChangeWatch::checkLog()
{
    db::Rows rows =
        m_db.read(QStringLiteral("SELECT COUNT(*) AS n FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'BASE_CHANGES'"));
    const bool found = rows.next() && rows.number(0) > 0;
    m_checkedAt.start();
    return found;
}

bool ChangeWatch::announced()
{
    if (m_announcedAt.isValid() && m_announcedAt.elapsed() < kRecheckLogMs)
        return m_announced;
    db::Rows rows = m_db.read(QStringLiteral("SELECT COUNT(*) AS n FROM RDB$TRIGGERS WHERE RDB$TRIGGER_NAME = "
                                             "'BASE_CHANGES_POSTED' AND COALESCE(RDB$TRIGGER_INACTIVE, 0) = 0"));
    m_announced = rows.next() && rows.number(0) > 0;
    m_announcedAt.start();
    return m_announced;
}

bool ChangeWatch::look()
{
    if (!m_logged) {
        if (m_checkedAt.isValid() && m_checkedAt.elapsed() < kRecheckLogMs)
            return false;
        m_logged = checkLog();
        if (!m_logged)
            return false;
        m_started = false;
    }
    // Transactions older than the oldest one running have all committed or
    // gone: their rows are in. The mark moves on to it once the log has
    // been read from the old mark, so that a transaction below the new mark
    // that committed since the last look is still told.
    std::optional<qint64> settle;
    // After a look that read many rows, the next one settles (not more than
    // once a second: a long transaction may keep the rows above the mark).
    if (!m_started || (m_settleNow && m_settledAt.elapsed() >= 1000) || m_settledAt.elapsed() >= kSettleEveryMs) {
        m_settleNow = false;
        {
            db::Rows rows = m_db.read(QStringLiteral("SELECT MON$OLDEST_ACTIVE AS oat FROM MON$DATABASE"));
            settle = rows.next() ? rows.number(0) : 0;
        }
        m_settledAt.start();
        if (m_started && *settle < m_settled) { // another database under the same name
            m_started = false;
            m_seen.clear();
        }
        if (!m_started) // the first look only takes the log as it stands
            m_settled = *settle;
    }
    std::optional<db::Rows> rows;
    try {
        rows.emplace(
            m_db.read(QStringLiteral("SELECT txn, COALESCE(card, -1) AS card FROM base_changes WHERE txn >= :txn"),
                      {{QStringLiteral("txn"), m_settled}}));
    } catch (const db::DbError &e) {
        if (!e.fromEngine() || e.connectionLost())
            throw;
        m_logged = false; // the log went (a tool dropped it): looked for again later
        m_checkedAt.start();
        return false;
    }
    bool changed = false;
    int read = 0;
    for (; rows->next(); ++read)
        changed |= m_seen.insert({rows->number(0), rows->number(1)}).second;
    rows.reset();
    m_settleNow = read > kSettleAfterRows;
    if (settle && *settle > m_settled) {
        // The log's rows below the mark are never read again: their pairs go.
        m_settled = *settle;
        m_seen.erase(m_seen.begin(), m_seen.lower_bound({m_settled, std::numeric_limits<qint64>::min()}));
    }
    const bool tell = m_started && changed;
    m_started = true;
    return tell;
}

} // namespace core
