#include "referencesql.h"

namespace {

// The condition; `value(box)` gives what stands after each LIKE.
template <typename V>
QString condition(V value)
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

} // namespace

QString quotedPatternListSql(const ListFilter &f, ListSort sort)
{
    auto quoted = [&](const char *box) {
        const QLatin1String b(box);
        const QString typed = b == QLatin1String("post")   ? f.post
                              : b == QLatin1String("work") ? f.work
                              : b == QLatin1String("name") ? f.name
                              : b == QLatin1String("mail") ? f.mail
                                                           : f.tel;
        // A quote doubled, so that the literal holds the typed text as it is.
        return QStringLiteral("'") + listPattern(typed, f.contains).replace(QLatin1Char('\''), QStringLiteral("''")) +
               QStringLiteral("'");
    };
    return QStringLiteral("SELECT  * FROM Base WHERE ") + condition(quoted) + QStringLiteral(" ORDER BY ") +
           sortExpression(sort);
}

QString likeOnlyBirthdayCountSql(int month)
{
    return QStringLiteral("SELECT pk_id FROM base WHERE (bdate COLLATE PXW_CYRL LIKE  '") + monthPattern(month) +
           QStringLiteral("')");
}

QString likeOnlyBirthdayListSql(int month)
{
    return QStringLiteral("SELECT * FROM base WHERE (bdate COLLATE PXW_CYRL LIKE  '") + monthPattern(month) +
           QStringLiteral("') ORDER BY bdate COLLATE PXW_CYRL");
}
