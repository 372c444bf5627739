// The rows a query fetched: cells, texts, numbers and BLOBs.

#include "cp1251.h"
#include "ibase_p.h"

#include <cstring>

using namespace Firebird;

namespace db {

bool IBQuery::fetchOne()
{
    if (!m_rs)
        return false;
    return Guard::run(m_db, [&] {
        Status st;
        if (m_rs->fetchNext(&st, m_outBuf.data()) == IStatus::RESULT_OK) {
            storeRow();
            return true;
        }
        m_rs->close(&st);
        ended(m_rs);
        return false;
    });
}

void IBQuery::dropFetched()
{
    m_store.clear();
    m_rowStart.clear();
    m_pos = 0;
}

int IBQuery::fetchMore(int max)
{
    int got = 0;
    while (got < max && fetchOne())
        ++got;
    return got;
}

// Rows are kept in one byte store: per cell a tag (0 NULL, 1 text, 2 integer,
// 3 blob id) followed by its value; text as a 32-bit length and its bytes.
void IBQuery::storeRow()
{
    m_rowStart.push_back(m_store.size());
    const unsigned char *buf = m_outBuf.data();
    for (const Column &c : m_cols) {
        const bool null = *reinterpret_cast<const short *>(buf + c.nullOffset) != 0;
        if (null) {
            m_store.push_back(0);
            continue;
        }
        m_store.push_back(char(c.kind));
        const unsigned char *v = buf + c.offset;
        if (c.kind == 1) {
            uint16_t len16;
            std::memcpy(&len16, v, 2);
            const uint32_t len = len16;
            const char *lp = reinterpret_cast<const char *>(&len);
            m_store.insert(m_store.end(), lp, lp + 4);
            m_store.insert(m_store.end(), v + 2, v + 2 + len);
        } else {
            m_store.insert(m_store.end(), v, v + 8);
        }
    }
}

void IBQuery::close()
{
    const bool wasOpen = isOpen();
    m_rs.reset();
    m_buffered = false;
    m_store.clear();
    m_store.shrink_to_fit();
    m_rowStart.clear();
    m_rowStart.shrink_to_fit();
    m_pos = 0;
    m_eof = true;
    if (wasOpen && m_tra)
        m_tra->endIfIdle(); // a short read ends with its last result
}

void IBQuery::dropStatement()
{
    close();
    m_outMeta.reset();
    m_inMeta.reset();
    m_stmt.reset();
    m_cols.clear();
    m_outBuf.clear();
}

void IBQuery::first()
{
    m_pos = 0;
    m_eof = m_rowStart.empty();
}

void IBQuery::next()
{
    if (m_pos + 1 < recordCount()) {
        ++m_pos;
    } else if (fetchOne()) {
        ++m_pos;
    } else {
        m_eof = true;
    }
}

void IBQuery::last()
{
    while (fetchOne()) {
    }
    m_pos = std::max(0, recordCount() - 1);
    m_eof = m_rowStart.empty();
}

int IBQuery::fieldIndex(const QString &name) const
{
    const QString u = name.toUpper();
    for (size_t i = 0; i < m_cols.size(); ++i)
        if (m_cols[i].name == u)
            return int(i);
    return -1;
}

const char *IBQuery::cell(int row, int col) const
{
    if (row < 0 || row >= recordCount() || col < 0 || col >= fieldCount())
        return nullptr;
    const char *p = m_store.data() + m_rowStart[size_t(row)];
    for (int i = 0; i < col; ++i) {
        const char tag = *p++;
        if (tag == 1) {
            uint32_t len;
            std::memcpy(&len, p, 4);
            p += 4 + len;
        } else if (tag != 0) {
            p += 8;
        }
    }
    return p;
}

void IBQuery::rowView(int row, std::vector<CellView> &cells) const
{
    cells.clear();
    if (row < 0 || row >= recordCount())
        return;
    const char *p = m_store.data() + m_rowStart[size_t(row)];
    for (size_t i = 0; i < m_cols.size(); ++i) {
        const char tag = *p++;
        if (tag == 1) {
            uint32_t len;
            std::memcpy(&len, p, 4);
            cells.push_back({tag, p + 4, len});
            p += 4 + len;
        } else if (tag == 0) {
            cells.push_back({tag, p, 0});
        } else {
            cells.push_back({tag, p, 8});
            p += 8;
        }
    }
}

QString IBQuery::textAt(int row, int col) const
{
    const char *p = cell(row, col);
    if (!p)
        return QString();
    switch (*p) {
    case 1: {
        uint32_t len;
        std::memcpy(&len, p + 1, 4);
        return cp1251::decode(p + 5, len);
    }
    case 2: {
        qint64 v;
        std::memcpy(&v, p + 1, 8);
        return QString::number(v);
    }
    case 3:
        return readBlob(reinterpret_cast<const unsigned char *>(p + 1));
    default:
        return QString();
    }
}

qint64 IBQuery::intAt(int row, int col) const
{
    const char *p = cell(row, col);
    if (!p)
        return 0;
    if (*p == 2) {
        qint64 v;
        std::memcpy(&v, p + 1, 8);
        return v;
    }
    if (*p == 0)
        return 0;
    bool ok = false;
    const qint64 v = textAt(row, col).trimmed().toLongLong(&ok);
    if (!ok)
        throw DbError(QStringLiteral("Значение «%1» не является целым числом").arg(textAt(row, col)));
    return v;
}

QString IBQuery::asText(const QString &name) const
{
    const int i = fieldIndex(name);
    if (i < 0)
        throw DbError(QStringLiteral("Поле %1 не найдено").arg(name));
    return textAt(m_pos, i);
}

qint64 IBQuery::asInt(const QString &name) const
{
    const int i = fieldIndex(name);
    if (i < 0)
        throw DbError(QStringLiteral("Поле %1 не найдено").arg(name));
    return intAt(m_pos, i);
}

QString IBQuery::readBlob(const unsigned char *id) const
{
    if (!m_db || !m_db->attachment() || !m_tra || !m_tra->active())
        throw DbError(QStringLiteral("Текст примечаний недоступен: транзакция завершена"));
    return Guard::run(m_db, [&] {
        Status st;
        ISC_QUAD quad;
        std::memcpy(&quad, id, sizeof quad);
        EngineRef<IBlob> blob(m_db->attachment()->openBlob(&st, m_tra->m_tra.get(), &quad, 0, nullptr));
        QByteArray data;
        char chunk[16384];
        for (;;) {
            unsigned got = 0;
            const int r = blob->getSegment(&st, sizeof chunk, chunk, &got);
            if (r == IStatus::RESULT_OK || r == IStatus::RESULT_SEGMENT)
                data.append(chunk, got);
            else
                break;
        }
        blob->close(&st);
        ended(blob);
        return cp1251::decode(data);
    });
}

} // namespace db
