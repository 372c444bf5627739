#include "refbook.h"
#include "typedtext.h"

#include "db/access.h"
#include "db/columns.h"
#include "db/cp1251.h"

namespace core {

QString RefBook::searchPattern(const QString &text)
{
    return QStringLiteral("%") + cp1251::upper(text) + QStringLiteral("%");
}

QList<RefRow> RefBook::find(const QString &text)
{
    const QString problem = typedTextProblem(text, TypedUse::Search);
    if (!problem.isEmpty())
        throw db::DbError(problem);
    db::Rows rows = m_db.read(sql::selectRefLike(m_ref), {{QStringLiteral("pattern"), searchPattern(text)}});
    const int idCol = rows.column(QStringLiteral("pk_id"));
    const int valueCol = rows.column(QLatin1String(sql::refTable(m_ref).column));
    QList<RefRow> out;
    while (rows.next())
        out.append({rows.number(idCol), rows.text(valueCol)});
    return out;
}

QString RefBook::valueProblem(const QString &field, const QString &value)
{
    const sql::RefTable &t = sql::refTable(m_ref);
    const int length =
        db::textColumnLengths(m_db, QLatin1String(t.table)).value(QString::fromLatin1(t.column).toUpper());
    return db::valueProblem(field, value, length);
}

void RefBook::insert(const QString &value)
{
    m_db.unit([&] { m_db.write(sql::insertRef(m_ref), {{QLatin1String(sql::refTable(m_ref).column), value}}); });
}

bool RefBook::update(qint64 id, const QString &value, const QString &loaded)
{
    const QString column = QLatin1String(sql::refTable(m_ref).column);
    return m_db.unit([&] {
        {
            db::Rows stored = m_db.read(sql::selectRefById(m_ref), {{QStringLiteral("pk_id"), id}});
            if (!stored.next())
                return false;
            if (stored.text(column) != loaded)
                throw db::DbError(db::conflictMessage(), false, db::DbError::Kind::Conflict);
        }
        return m_db.write(sql::updateRef(m_ref), {{column, value}, {QStringLiteral("pk_id"), id}}).affected() > 0;
    });
}

void RefBook::remove(qint64 id)
{
    const QString statement = m_ref == sql::Ref::Department     ? sql::deleteDepartment()
                              : m_ref == sql::Ref::Organization ? sql::deleteOrganization()
                                                                : sql::deletePost();
    m_db.unit([&] { m_db.write(statement, {{QStringLiteral("pk_id"), id}}); });
}

} // namespace core
