#pragma once
// The contact list's search and sort statements.

#include <QString>

namespace db {
class IBQuery;
}

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

// The statement with the patterns joined into the text between quotes, exactly
// as the list was first specified. Kept as the reference that the statement
// the program runs is checked against; never run with typed text.
QString statedListSql(const ListFilter &f, ListSort sort);

// The statement the program runs: the same rows in the same order, with every
// pattern bound as a parameter, reading only the columns the list shows, and
// each condition in a form the database can serve from an index: an empty box
// tests for NOT NULL (what "LIKE '%'" means), a begins-with text adds STARTING
// WITH on its literal beginning.
QString listSql(const ListFilter &f, ListSort sort);
void bindList(db::IBQuery &q, const ListFilter &f);

// The literal beginning of an upper-cased pattern, before its first wildcard.
QString literalPrefix(const QString &pattern);

// The birthday statements of month `month` (1..12). The stated forms match
// every date text with LIKE; the forms the program runs find a date written
// DD.MM.YYYY through its month (indexed) and test only other texts with LIKE.
QString monthPattern(int month);
QString birthdayCountSql(int month);
QString birthdayListSql(int month);
QString statedBirthdayCountSql(int month);
QString statedBirthdayListSql(int month);

// The columns the list reads, in the order the grid model expects them.
inline constexpr const char *kListColumns = "pk_id, fam, name1, name2, work, dep, post, bdate, wtel, wmail";
