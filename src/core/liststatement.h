#pragma once
// The contact list's search and sort statements.

#include <QString>
#include <vector>

namespace db {
class IBQuery;
struct Bind;
using Binds = std::vector<Bind>;
} // namespace db

struct ListFilter
{
    QString name, work, post, mail, tel; // the five boxes as typed
    bool contains = false;               // "Поиск с произвольной позиции"
};

// The sort expressions of the three sort choices.
enum class ListSort { Name, Work, Post };
QString sortExpression(ListSort sort);

// Upper-cased (CP1251 rules) typed text with "%" after it, or around it when
// `contains`; "%" and "_" typed by the user stay wildcards.
QString listPattern(const QString &typed, bool contains);

// The list's statement: every card whose columns match the five boxes, with every
// pattern bound as a parameter, reading only the columns the list shows, and
// each condition in a form the database can serve from an index: an empty box
// tests for NOT NULL (what "LIKE '%'" means), a begins-with text adds STARTING
// WITH on its literal beginning.
// The columns read are `columns` (the list's own by default).
QString listSql(const ListFilter &f, ListSort sort, const char *columns = nullptr);
// The values of the parameters that statement holds, and no others.
db::Binds listBinds(const ListFilter &f);
void bindList(db::IBQuery &q, const ListFilter &f);

// The literal beginning of an upper-cased pattern, before its first wildcard.
QString literalPrefix(const QString &pattern);

// The birthday statements of month `month` (1..12): a date written DD.MM.YYYY
// is found through its month (indexed), other texts are tested with LIKE
// against monthPattern, so both find exactly the texts holding ".MM.".
QString monthPattern(int month);
QString birthdayCountSql(int month);
QString birthdayListSql(int month);

// The columns the list reads, in the order the grid model expects them.
inline constexpr const char *kListColumns = "pk_id, fam, name1, name2, work, dep, post, bdate, wtel, wmail";
