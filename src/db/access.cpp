#include "access.h"

#include <algorithm>

namespace db {

namespace {

// Rows fetched at a time by a reader that goes on past them.
constexpr int kPiece = 256;
// Prepared statements kept free for their next use, at most.
constexpr size_t kKept = 64;

} // namespace

// A prepared statement of the door, lent to one Rows at a time.
struct Rows::Statement
{
    Statement(IBDatabase *connection, IBTransaction *on) : query(connection, on) {}
    IBQuery query;
    bool busy = false;
    quint64 used = 0; // when it was last lent, for letting the oldest go
};

// ------------------------------------------------------------------- rows

Rows::Rows(Rows &&other) noexcept : m_statement(other.m_statement), m_row(other.m_row)
{
    other.m_statement = nullptr;
}

Rows::~Rows()
{
    if (!m_statement)
        return;
    m_statement->query.close();
    m_statement->busy = false;
}

bool Rows::next()
{
    if (!m_statement)
        return false;
    IBQuery &q = m_statement->query;
    if (++m_row < q.recordCount())
        return true;
    m_row = q.recordCount();
    if (q.fetchedAll())
        return false;
    q.dropFetched();
    m_row = 0;
    return q.fetchMore(kPiece) > 0;
}

int Rows::column(const QString &name) const
{
    return m_statement ? m_statement->query.fieldIndex(name) : -1;
}

int Rows::indexOf(const QString &name) const
{
    const int i = column(name);
    if (i < 0)
        throw DbError(QStringLiteral("Поле %1 не найдено").arg(name));
    return i;
}

QString Rows::text(int column) const
{
    return m_statement ? m_statement->query.textAt(m_row, column) : QString();
}

QString Rows::text(const QString &name) const
{
    return text(indexOf(name));
}

qint64 Rows::number(int column) const
{
    return m_statement ? m_statement->query.intAt(m_row, column) : 0;
}

qint64 Rows::number(const QString &name) const
{
    return number(indexOf(name));
}

void Rows::cells(std::vector<IBQuery::CellView> &out) const
{
    out.clear();
    if (m_statement)
        m_statement->query.rowView(m_row, out);
}

qint64 Rows::affected() const
{
    return m_statement ? m_statement->query.rowsAffected() : 0;
}

// ----------------------------------------------------------------- access

Access::Access(IBDatabase &connection, IBTransaction &write, IBTransaction &read)
    : m_connection(connection), m_write(write), m_read(read), m_snapshot(&connection, IBTransaction::Kind::Snapshot)
{
}

Access::~Access() = default;

IBTransaction &Access::readsOn()
{
    if (inUnit())
        return m_write;
    return m_snapshots > 0 ? m_snapshot : m_read;
}

Rows Access::take(IBTransaction &on, const QString &sql, const Binds &binds)
{
    Rows::Statement *found = nullptr;
    for (const auto &s : m_statements)
        if (!s->busy && s->query.transaction() == &on && s->query.sql() == sql) {
            found = s.get();
            break;
        }
    if (!found) {
        auto made = std::make_unique<Rows::Statement>(&m_connection, &on);
        made->query.setSql(sql); // a text the database cannot take is refused here, nothing kept
        if (m_statements.size() >= kKept) {
            const auto oldest = std::min_element(m_statements.begin(), m_statements.end(), [](auto &a, auto &b) {
                return !a->busy && (b->busy || a->used < b->used);
            });
            if (!(*oldest)->busy)
                m_statements.erase(oldest);
        }
        found = made.get();
        m_statements.push_back(std::move(made));
    }
    found->busy = true;
    found->used = ++m_uses;
    Rows rows(*found); // lent from here on, whatever fails below
    IBQuery &q = found->query;
    q.clearParams();
    for (const Bind &b : binds) {
        if (b.kind == Bind::Kind::Text)
            q.setParam(b.name, b.text);
        else if (b.kind == Bind::Kind::Number)
            q.setParam(b.name, b.number);
        else
            q.setParamNull(b.name);
    }
    return rows;
}

Rows Access::read(const QString &sql, const Binds &binds)
{
    Rows rows = take(readsOn(), sql, binds);
    rows.m_statement->query.open();
    return rows;
}

Rows Access::write(const QString &sql, const Binds &binds)
{
    if (!inUnit())
        throw DbError(QStringLiteral("Изменение базы данных вне единицы работы не выполнено:\r%1").arg(sql));
    Rows rows = take(m_write, sql, binds);
    rows.m_statement->query.execute();
    return rows;
}

void Access::beginUnit()
{
    // Between two units of a batch (a timer or another window while the
    // batch shows its progress), the units kept so far are committed first:
    // this unit starts a transaction, and a snapshot, of its own.
    if (m_write.batch && m_write.active())
        m_write.commit();
    m_units = 1;
}

void Access::endUnit()
{
    // Still inside the unit while it commits: a check just before the
    // commit reads what the unit wrote.
    m_write.commit();
    m_units = 0;
}

void Access::abandonUnit()
{
    m_units = 0;
    m_write.rollback();
}

void Access::endSnapshot(bool keep)
{
    m_snapshots = 0;
    if (keep)
        m_snapshot.commit();
    else
        m_snapshot.rollback();
}

// ------------------------------------------------------------------ batch

Batch::Batch(Access &db) : m_db(db)
{
    m_db.m_write.batch = [this](bool committed) {
        if (m_held > 0 && !committed)
            m_lost = true;
        m_held = 0;
    };
}

Batch::~Batch()
{
    m_db.m_write.batch = nullptr;
    m_db.m_write.rollback();
}

void Batch::begin()
{
    m_db.m_write.setSavepoint();
    ++m_db.m_units;
}

void Batch::end(bool keep)
{
    --m_db.m_units;
    if (!keep) {
        m_db.m_write.rollbackToSavepoint();
        return;
    }
    m_db.m_write.releaseSavepoint();
    if (m_held++ == 0)
        m_since.start();
}

} // namespace db
