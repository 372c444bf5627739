#pragma once
// Running the contact list's statements: the searched list and the birthdays.

#include "liststatement.h"

#include <QList>

namespace db {
class Access;
class IBQuery;
} // namespace db

namespace core {

// Throws a DbError saying why when a box's text cannot be searched for (too
// long, or a character the database cannot hold).
void checkTyped(const ListFilter &f);
// Runs the list's statement for the five boxes on `q` (closed first), which
// then stands on its first row with the rest still to fetch. A typed text
// that cannot be searched for throws a DbError saying why, before anything runs.
void openList(db::IBQuery &q, const ListFilter &f, ListSort sort);
// The ids of the cards the list shows for the five boxes, in its order.
QList<qint64> listIds(db::Access &db, const ListFilter &f, ListSort sort);
// Every card of the database in the list's order by name, those the list
// cannot show (a searched column left NULL by another tool) included.
QList<qint64> allIds(db::Access &db);
// Runs the statement of the month's birthdays (1..12) on `q`, ordered by date text.
void openBirthdays(db::IBQuery &q, int month);
// The number of cards born in the month.
int countBirthdays(db::Access &db, int month);

} // namespace core
