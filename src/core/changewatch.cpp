#include "changewatch.h"

#include "db/shared.h"

#include <limits>

namespace core {

namespace {

// How often the oldest running transaction is read (a monitoring read that
// costs more than the log's own) and a missing log looked for again.
constexpr qint64 kSettleEveryMs = 10000;
constexpr qint64 kRecheckLogMs = 60000;

} // namespace

ChangeWatch::ChangeWatch(SharedDb &db) : m_db(db), m_q(&db.IBDbase, &db.IBRead) {}

bool ChangeWatch::checkLog()
{
    db::Closer closer{m_q};
    m_q.close();
    m_q.setSql(QStringLiteral("SELECT COUNT(*) AS n FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'BASE_CHANGES'"));
    m_q.open();
    const bool found = m_q.asInt(QStringLiteral("n")) > 0;
    m_q.close();
    m_checkedAt.start();
    return found;
}

bool ChangeWatch::announced()
{
    if (m_announcedAt.isValid() && m_announcedAt.elapsed() < kRecheckLogMs)
        return m_announced;
    db::Closer closer{m_q};
    m_q.close();
    m_q.setSql(QStringLiteral("SELECT COUNT(*) AS n FROM RDB$TRIGGERS WHERE RDB$TRIGGER_NAME = 'BASE_CHANGES_POSTED' "
                              "AND COALESCE(RDB$TRIGGER_INACTIVE, 0) = 0"));
    m_q.open();
    m_announced = m_q.asInt(QStringLiteral("n")) > 0;
    m_q.close();
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
    db::Closer closer{m_q};
    if (!m_started || m_settledAt.elapsed() >= kSettleEveryMs) {
        // Transactions older than the oldest one running have all committed
        // or gone: their rows are in, and need not be remembered.
        m_q.close();
        m_q.setSql(QStringLiteral("SELECT MON$OLDEST_ACTIVE AS oat FROM MON$DATABASE"));
        m_q.open();
        const qint64 settle = m_q.asInt(QStringLiteral("oat"));
        m_q.close();
        m_settledAt.start();
        if (m_started && settle < m_settled) { // another database under the same name
            m_started = false;
            m_seen.clear();
        }
        // The log's rows below the mark are never read again: their pairs go.
        m_settled = std::max(m_started ? m_settled : settle, settle);
        m_seen.erase(m_seen.begin(), m_seen.lower_bound({m_settled, std::numeric_limits<qint64>::min()}));
    }
    m_q.close();
    m_q.setSql(QStringLiteral("SELECT txn, COALESCE(card, -1) AS card FROM base_changes WHERE txn >= :txn"));
    m_q.setParam(QStringLiteral("txn"), m_settled);
    bool changed = false;
    try {
        m_q.open();
    } catch (const db::DbError &e) {
        if (!e.fromEngine() || e.connectionLost())
            throw;
        m_logged = false; // the log went (a tool dropped it): looked for again later
        m_checkedAt.start();
        return false;
    }
    for (; !m_q.eof(); m_q.next())
        changed |= m_seen.insert({m_q.asInt(0), m_q.asInt(1)}).second;
    m_q.close();
    const bool tell = m_started && changed;
    m_started = true;
    return tell;
}

} // namespace core
