#include "listfetch.h"
#include "listmodel.h"

#include "db/ibase.h"

#include <QElapsedTimer>

namespace core {

namespace {
// Rows read at once when the rest of a list is read without a clock.
constexpr int kSlice = 250;
// Rows read between two looks at the clock while a slice is timed: few
// enough that a statement scanning for rare matches hands back in time.
constexpr int kStep = 16;
} // namespace

QString ListFetch::cutText(int loaded)
{
    return QStringLiteral("\r\rСписок показан не полностью (загружено записей: %1). Обновите его, "
                          "например кнопкой очистки полей поиска.")
        .arg(loaded);
}

void ListFetch::begin(db::IBQuery &q)
{
    m_rows.clear();
    m_wantsRest = false;
    m_query = &q;
    if (q.recordCount() < kFirstRows)
        q.fetchMore(kFirstRows - q.recordCount());
    m_pending = false;
}

void ListFetch::begin(std::vector<const char *> rows, quint64 version, bool more)
{
    if (m_query)
        m_query->close(); // a fill under way is replaced
    m_query = nullptr;
    m_rows = std::move(rows);
    m_version = version;
    m_pending = false;
    m_wantsRest = more;
}

void ListFetch::extend(const std::vector<const char *> &more)
{
    m_rows.insert(m_rows.end(), more.begin(), more.end());
    m_wantsRest = false;
}

void ListFetch::showFirst()
{
    if (m_query) {
        m_model.fill(*m_query);
        m_pending = !m_query->fetchedAll();
        if (!m_pending)
            m_query->close(); // the model holds every row: the list's reading ends
        else
            m_query->dropFetched(); // the model holds them: the reader lets go
        return;
    }
    m_model.fillEncoded(m_rows, kFirstRows);
    m_pending = m_rows.size() > size_t(kFirstRows) || m_wantsRest;
    if (!m_pending)
        m_rows.clear();
}

bool ListFetch::next(int budgetMs)
{
    if (!m_pending || !m_query)
        return m_pending;
    db::IBQuery &q = *m_query;
    if (!q.isOpen()) {
        end();
        throw db::DbError(QStringLiteral("Соединение с базой данных прерывалось, пока загружался список.") +
                          cutText(m_model.cardCount()));
    }
    QElapsedTimer slice;
    slice.start();
    try {
        // In small steps: a rare match makes each row cost a long scan, and
        // the slice must end near its time all the same.
        while (!q.fetchedAll() && slice.elapsed() < budgetMs)
            q.fetchMore(kStep);
    } catch (const db::DbError &e) {
        m_model.append(q);
        end();
        throw db::DbError(e.text() + cutText(m_model.cardCount()), e.fromEngine(), e.kind());
    }
    m_model.append(q);
    q.dropFetched();
    if (q.fetchedAll())
        end();
    return m_pending;
}

bool ListFetch::finish(quint64 indexVersion)
{
    if (!m_pending)
        return true;
    if (!m_query) {
        // The rows point into the index: taken only while it is unchanged.
        const std::vector<const char *> rest = std::exchange(m_rows, {});
        m_pending = false;
        if (indexVersion != m_version)
            return false;
        m_model.appendEncoded(rest, size_t(m_model.cardCount()));
        return true;
    }
    // In slices, each let go of once in the model: never the whole list twice.
    while (m_query->isOpen() && !m_query->fetchedAll()) {
        m_query->fetchMore(kSlice);
        m_model.append(*m_query);
        m_query->dropFetched();
    }
    end();
    return true;
}

void ListFetch::end()
{
    m_pending = false;
    m_wantsRest = false;
    m_rows.clear();
    if (m_query && m_query->fetchedAll())
        m_query->close(); // the model holds every row: the list's reading ends
}

} // namespace core
