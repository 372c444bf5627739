#include "refbook.h"
#include "commit.h"
#include "typedtext.h"

#include "db/columns.h"
#include "db/cp1251.h"
#include "db/shared.h"

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
    db::IBQuery &q = m_db.iRead;
    db::Closer closer{q};
    q.close();
    q.setSql(sql::selectRefLike(m_ref));
    q.setParam(QStringLiteral("pattern"), searchPattern(text));
    q.open();
    const int idCol = q.fieldIndex(QStringLiteral("pk_id"));
    const int valueCol = q.fieldIndex(QLatin1String(sql::refTable(m_ref).column));
    QList<RefRow> rows;
    for (; !q.eof(); q.next())
        rows.append({q.asInt(idCol), q.asText(valueCol)});
    return rows;
}

QString RefBook::valueProblem(const QString &field, const QString &value)
{
    const sql::RefTable &t = sql::refTable(m_ref);
    const int length =
        db::textColumnLengths(m_db.iRead, QLatin1String(t.table)).value(QString::fromLatin1(t.column).toUpper());
    return db::valueProblem(field, value, length);
}

void RefBook::insert(const QString &value)
{
    inOneCommit(m_db.IBTrans, [&] {
        db::IBQuery &q = m_db.iSQL;
        q.close();
        q.setSql(sql::insertRef(m_ref));
        q.setParam(QLatin1String(sql::refTable(m_ref).column), value);
        q.execute();
    });
}

bool RefBook::update(qint64 id, const QString &value, const QString &loaded)
{
    const sql::RefTable &t = sql::refTable(m_ref);
    return inOneCommit(m_db.IBTrans, [&] {
        db::IBQuery &q = m_db.iSQL;
        db::Closer closer{q};
        q.close();
        q.setSql(sql::selectRefById(m_ref));
        q.setParam(QStringLiteral("pk_id"), id);
        q.open();
        if (q.eof())
            return false;
        if (q.asText(QLatin1String(t.column)) != loaded)
            throw db::DbError(db::conflictMessage(), false, db::DbError::Kind::Conflict);
        q.close();
        q.setSql(sql::updateRef(m_ref));
        q.setParam(QLatin1String(t.column), value);
        q.setParam(QStringLiteral("pk_id"), id);
        q.execute();
        return q.rowsAffected() > 0;
    });
}

void RefBook::remove(qint64 id)
{
    db::IBQuery *q = &m_db.ibDel2;
    if (m_ref == sql::Ref::Department)
        q = &m_db.ibDel3;
    else if (m_ref == sql::Ref::Organization)
        q = &m_db.ibDel4;
    inOneCommit(m_db.IBTrans, [&] {
        q->close();
        q->setParam(QStringLiteral("pk_id"), id);
        q->execute();
    });
}

} // namespace core
