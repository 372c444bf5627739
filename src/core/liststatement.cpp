#include "liststatement.h"

#include "db/access.h"
#include "db/cp1251.h"
#include "db/ibase.h"
#include "db/statements.h"

QString sortExpression(ListSort sort)
{
    switch (sort) {
    case ListSort::Work:
        return QStringLiteral("work COLLATE PXW_CYRL");
    case ListSort::Post:
        return QStringLiteral("post COLLATE PXW_CYRL");
    case ListSort::Name:
        break;
    }
    return QStringLiteral("fam COLLATE PXW_CYRL");
}

QString listPattern(const QString &typed, bool contains)
{
    const QString u = cp1251::upper(typed);
    return contains ? QStringLiteral("%") + u + QStringLiteral("%") : u + QStringLiteral("%");
}

namespace {

struct Group
{
    const char *box;
    QStringList columns;
};

const QList<Group> &groups()
{
    static const QList<Group> g = {
        {"post", {QStringLiteral("post")}},
        {"work", {QStringLiteral("work"), QStringLiteral("dep")}},
        {"name", {QStringLiteral("fam"), QStringLiteral("name1"), QStringLiteral("name2")}},
        {"mail", {QStringLiteral("wmail"), QStringLiteral("hmail")}},
        {"tel", {QStringLiteral("wtel"), QStringLiteral("htel"), QStringLiteral("wmob"), QStringLiteral("hmob")}},
    };
    return g;
}

QString typedText(const ListFilter &f, const char *box)
{
    const QLatin1String b(box);
    return b == QLatin1String("post")   ? f.post
           : b == QLatin1String("work") ? f.work
           : b == QLatin1String("name") ? f.name
           : b == QLatin1String("mail") ? f.mail
                                        : f.tel;
}

bool onlyPercents(const QString &pattern)
{
    for (QChar c : pattern)
        if (c != u'%')
            return false;
    return true;
}

} // namespace

QString literalPrefix(const QString &pattern)
{
    qsizetype i = 0;
    while (i < pattern.size() && pattern[i] != u'%' && pattern[i] != u'_')
        ++i;
    return pattern.left(i);
}

namespace {

// An index key has a size limit (a quarter of the database page): a longer
// beginning is not looked up in the index but matched with LIKE alone. No
// column of the list is that long, so nothing is lost.
constexpr qsizetype kLongestIndexedPrefix = 1000;

QString indexedPrefix(const QString &pattern)
{
    const QString prefix = literalPrefix(pattern);
    return prefix.size() <= kLongestIndexedPrefix ? prefix : QString();
}

// How the statement tests a box's columns against its pattern: which of the
// box's two parameters (the pattern, its indexed beginning) it holds follows.
enum class Test { NotNull, Like, Starting, StartingAndLike };

Test testOf(const QString &pattern)
{
    if (onlyPercents(pattern))
        return Test::NotNull;
    const QString prefix = indexedPrefix(pattern);
    if (prefix.isEmpty())
        return Test::Like;
    // The pattern is the prefix and one "%" exactly when the text has no wildcard of its own.
    return prefix.size() == pattern.size() - 1 ? Test::Starting : Test::StartingAndLike;
}

} // namespace

QString listSql(const ListFilter &f, ListSort sort, const char *columns)
{
    QStringList parts;
    bool scanned = false; // some box no index can serve: the whole table is read
    for (const Group &g : groups()) {
        const QString pattern = listPattern(typedText(f, g.box), f.contains);
        const QString p = sql::boundText(QLatin1String("p_") + QLatin1String(g.box));
        const QString s = sql::boundText(QLatin1String("s_") + QLatin1String(g.box));
        const Test test = testOf(pattern);
        scanned = scanned || test == Test::Like;
        QStringList terms;
        for (const QString &c : g.columns) {
            const QString upper = QStringLiteral("UPPER(%1 COLLATE PXW_CYRL)").arg(c);
            switch (test) {
            case Test::NotNull:
                terms << c + QStringLiteral(" IS NOT NULL");
                break;
            case Test::Like:
                terms << upper + QStringLiteral(" LIKE ") + p;
                break;
            case Test::Starting:
                terms << upper + QStringLiteral(" STARTING WITH ") + s;
                break;
            case Test::StartingAndLike:
                terms << QStringLiteral("(") + upper + QStringLiteral(" STARTING WITH ") + s + QStringLiteral(" AND ") +
                             upper + QStringLiteral(" LIKE ") + p + QStringLiteral(")");
                break;
            }
        }
        parts << QStringLiteral("(") + terms.join(QStringLiteral(" OR ")) + QStringLiteral(")");
    }
    // The list walks the sort column's index, so its first rows arrive at once.
    // When the whole table has to be read anyway (a "contains" search), reading
    // it in stored order and sorting what matched is faster; the same order
    // written as an expression asks for that.
    QString order = sortExpression(sort);
    if (scanned)
        order =
            QStringLiteral("(") + order.section(QLatin1Char(' '), 0, 0) + QStringLiteral(" || '') COLLATE PXW_CYRL");
    return QStringLiteral("SELECT ") + QLatin1String(columns ? columns : kListColumns) +
           QStringLiteral(" FROM Base WHERE ") + parts.join(QStringLiteral(" AND ")) + QStringLiteral(" ORDER BY ") +
           order;
}

db::Binds listBinds(const ListFilter &f)
{
    db::Binds binds;
    for (const Group &g : groups()) {
        const QString pattern = listPattern(typedText(f, g.box), f.contains);
        const Test test = testOf(pattern);
        if (test == Test::Like || test == Test::StartingAndLike)
            binds.emplace_back(QLatin1String("p_") + QLatin1String(g.box), pattern);
        if (test == Test::Starting || test == Test::StartingAndLike)
            binds.emplace_back(QLatin1String("s_") + QLatin1String(g.box), indexedPrefix(pattern));
    }
    return binds;
}

void bindList(db::IBQuery &q, const ListFilter &f)
{
    for (const db::Bind &b : listBinds(f))
        q.setParam(b.name, b.text);
}

QString monthPattern(int month)
{
    return QStringLiteral("%.") + QStringLiteral("%1").arg(month, 2, 10, QLatin1Char('0')) + QStringLiteral(".%");
}

namespace {

// In a text of the form DD.MM.YYYY the full stops stand only around the month,
// so it holds ".MM." exactly when its month is MM; the schema indexes this key.
const QString kMonthKey = QStringLiteral(
    "(CASE WHEN bdate SIMILAR TO '[0-9 ]{2}.[0-9 ]{2}.[0-9 ]{4}' THEN SUBSTRING(bdate FROM 4 FOR 2) ELSE '?' END)");

QString birthdayCondition(int month)
{
    const QString mm = QStringLiteral("%1").arg(month, 2, 10, QLatin1Char('0'));
    return QStringLiteral("(") + kMonthKey + QStringLiteral(" = '") + mm + QStringLiteral("' OR (") + kMonthKey +
           QStringLiteral(" = '?' AND bdate COLLATE PXW_CYRL LIKE '") + monthPattern(month) + QStringLiteral("'))");
}

} // namespace

QString birthdayCountSql(int month)
{
    return QStringLiteral("SELECT pk_id FROM base WHERE ") + birthdayCondition(month);
}

QString birthdayListSql(int month)
{
    return QStringLiteral("SELECT ") + QLatin1String(kListColumns) + QStringLiteral(" FROM base WHERE ") +
           birthdayCondition(month) + QStringLiteral(" ORDER BY bdate COLLATE PXW_CYRL");
}
