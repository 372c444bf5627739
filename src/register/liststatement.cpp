#include "liststatement.h"

#include "db/cp1251.h"
#include "db/ibase.h"
#include "db/statements.h"

QString sortExpression(ListSort sort)
{
    switch (sort) {
    case ListSort::Work: return QStringLiteral("work COLLATE PXW_CYRL");
    case ListSort::Post: return QStringLiteral("post COLLATE PXW_CYRL");
    case ListSort::Name: break;
    }
    return QStringLiteral("fam COLLATE PXW_CYRL");
}

QString listPattern(const QString &typed, bool contains)
{
    const QString u = cp1251::upper(typed);
    return contains ? QStringLiteral("%") + u + QStringLiteral("%") : u + QStringLiteral("%");
}

// Builds the condition; `value(box)` gives what stands after each LIKE.
template <typename V>
static QString condition(V value)
{
    QString s;
    s += QStringLiteral(" (( UPPER(post COLLATE PXW_CYRL) LIKE ") + value("post");
    s += QStringLiteral(" ) AND (( UPPER(work COLLATE PXW_CYRL) LIKE ") + value("work") + QStringLiteral(")");
    s += QStringLiteral(" OR ( UPPER(dep COLLATE PXW_CYRL) LIKE ") + value("work") + QStringLiteral(")");
    s += QStringLiteral(" ) AND (( UPPER(fam COLLATE PXW_CYRL) LIKE ") + value("name") + QStringLiteral(")");
    s += QStringLiteral(" OR ( UPPER(name1 COLLATE PXW_CYRL) LIKE ") + value("name") + QStringLiteral(")");
    s += QStringLiteral(" OR ( UPPER(name2 COLLATE PXW_CYRL) LIKE ") + value("name") + QStringLiteral(")");
    s += QStringLiteral(" ) AND (( UPPER(wmail COLLATE PXW_CYRL) LIKE ") + value("mail") + QStringLiteral(")");
    s += QStringLiteral(" OR ( UPPER(hmail COLLATE PXW_CYRL) LIKE ") + value("mail") + QStringLiteral(")");
    s += QStringLiteral(" ) AND (( UPPER(wtel COLLATE PXW_CYRL) LIKE ") + value("tel") + QStringLiteral(")");
    s += QStringLiteral(" OR ( UPPER(htel COLLATE PXW_CYRL) LIKE ") + value("tel") + QStringLiteral(")");
    s += QStringLiteral(" OR ( UPPER(wmob COLLATE PXW_CYRL) LIKE ") + value("tel") + QStringLiteral(")");
    s += QStringLiteral(" OR ( UPPER(hmob COLLATE PXW_CYRL) LIKE ") + value("tel") + QStringLiteral("))") +
         QStringLiteral(")");
    return s;
}

QString statedListSql(const ListFilter &f, ListSort sort)
{
    auto quoted = [&](const char *box) {
        const QString b = QLatin1String(box);
        const QString typed = b == QLatin1String("post") ? f.post
                              : b == QLatin1String("work") ? f.work
                              : b == QLatin1String("name") ? f.name
                              : b == QLatin1String("mail") ? f.mail
                                                           : f.tel;
        return QStringLiteral("'") + listPattern(typed, f.contains) + QStringLiteral("'");
    };
    return QStringLiteral("SELECT  * FROM Base WHERE ") + condition(quoted) + QStringLiteral(" ORDER BY ") +
           sortExpression(sort);
}

QString listSql(ListSort sort)
{
    auto bound = [](const char *box) { return sql::boundText(QLatin1String("p_") + QLatin1String(box)); };
    return QStringLiteral("SELECT ") + QLatin1String(kListColumns) + QStringLiteral(" FROM Base WHERE ") +
           condition(bound) + QStringLiteral(" ORDER BY ") + sortExpression(sort);
}

void bindList(db::IBQuery &q, const ListFilter &f)
{
    q.setParam(QStringLiteral("p_post"), listPattern(f.post, f.contains));
    q.setParam(QStringLiteral("p_work"), listPattern(f.work, f.contains));
    q.setParam(QStringLiteral("p_name"), listPattern(f.name, f.contains));
    q.setParam(QStringLiteral("p_mail"), listPattern(f.mail, f.contains));
    q.setParam(QStringLiteral("p_tel"), listPattern(f.tel, f.contains));
}

QString monthPattern(int month)
{
    return QStringLiteral("%.") + QStringLiteral("%1").arg(month, 2, 10, QLatin1Char('0')) + QStringLiteral(".%");
}

QString birthdayCountSql(int month)
{
    return QStringLiteral("SELECT pk_id FROM base WHERE (bdate COLLATE PXW_CYRL LIKE  '") + monthPattern(month) +
           QStringLiteral("'") + QStringLiteral(")");
}

QString statedBirthdayListSql(int month)
{
    return QStringLiteral("SELECT * FROM base WHERE (bdate COLLATE PXW_CYRL LIKE  '") + monthPattern(month) +
           QStringLiteral("'") + QStringLiteral(") ORDER BY bdate COLLATE PXW_CYRL");
}

QString birthdayListSql(int month)
{
    return QStringLiteral("SELECT ") + QLatin1String(kListColumns) +
           QStringLiteral(" FROM base WHERE (bdate COLLATE PXW_CYRL LIKE  '") + monthPattern(month) +
           QStringLiteral("'") + QStringLiteral(") ORDER BY bdate COLLATE PXW_CYRL");
}
