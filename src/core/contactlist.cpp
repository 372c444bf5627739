#include "contactlist.h"
#include "typedtext.h"

#include "db/ibase.h"

namespace core {

void checkTyped(const ListFilter &f)
{
    for (const QString *typed : {&f.name, &f.work, &f.post, &f.mail, &f.tel}) {
        const QString problem = typedTextProblem(*typed, TypedUse::Search);
        if (!problem.isEmpty())
            throw db::DbError(problem);
    }
}

void openList(db::IBQuery &q, const ListFilter &f, ListSort sort)
{
    checkTyped(f);
    q.close();
    q.setSql(listSql(f, sort));
    bindList(q, f);
    q.open();
}

QList<qint64> listIds(db::IBQuery &q, const ListFilter &f, ListSort sort)
{
    checkTyped(f);
    db::Closer closer{q};
    q.close();
    q.setSql(listSql(f, sort, "pk_id"));
    bindList(q, f);
    q.open();
    QList<qint64> ids;
    for (; !q.eof(); q.next())
        ids << q.asInt(0);
    return ids;
}

QList<qint64> allIds(db::IBQuery &q)
{
    db::Closer closer{q};
    q.close();
    q.setSql(QStringLiteral("SELECT pk_id FROM base ORDER BY ") + sortExpression(ListSort::Name) +
             QStringLiteral(", pk_id"));
    q.open();
    QList<qint64> ids;
    for (; !q.eof(); q.next())
        ids << q.asInt(0);
    return ids;
}

void openBirthdays(db::IBQuery &q, int month)
{
    q.close();
    q.setSql(birthdayListSql(month));
    q.open();
}

int countBirthdays(db::IBQuery &q, int month)
{
    q.close();
    q.setSql(birthdayCountSql(month));
    q.open();
    q.last();
    const int n = q.recordCount();
    q.close();
    return n;
}

} // namespace core
