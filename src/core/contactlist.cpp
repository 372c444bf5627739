#include "contactlist.h"
#include "typedtext.h"

#include "db/access.h"
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

QList<qint64> listIds(db::Access &db, const ListFilter &f, ListSort sort)
{
    checkTyped(f);
    QList<qint64> ids;
    for (db::Rows rows = db.read(listSql(f, sort, "pk_id"), listBinds(f)); rows.next();)
        ids << rows.number(0);
    return ids;
}

QList<qint64> allIds(db::Access &db)
{
    QList<qint64> ids;
    for (db::Rows rows = db.read(QStringLiteral("SELECT pk_id FROM base ORDER BY ") + sortExpression(ListSort::Name) +
                                 QStringLiteral(", pk_id"));
         rows.next();)
        ids << rows.number(0);
    return ids;
}

void openBirthdays(db::IBQuery &q, int month)
{
    q.close();
    q.setSql(birthdayListSql(month));
    q.open();
}

int countBirthdays(db::Access &db, int month)
{
    int n = 0;
    for (db::Rows rows = db.read(birthdayCountSql(month)); rows.next();)
        ++n;
    return n;
}

} // namespace core
