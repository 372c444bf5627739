#pragma once
// Realistic, deterministic demo cards for a new database (and for benchmarks).

#include <QString>
#include <QStringList>
#include <functional>

namespace db {
class IBDatabase;
class IBTransaction;
} // namespace db

namespace demo {

struct Card
{
    QString fam, name1, name2, work, dep, post, bdate;
    QString wtel, htel, wmob, hmob, wmail, hmail, wskype, hskype;
    QString ps, pnum, pdate1, pdate2, vs, vnum, vdate1, vdate2;
    QString flags[10];
    QString other, rem;
    QString sn[4], adr[4];
    bool hasAccounts = false;
};

// What the demo set is made of changes with this number (a benchmark's
// databases are made again).
constexpr int kVersion = 2;

// Card number `i` of the demo set: the same i always gives the same card.
// Every 25th card (i % 25 == 12) is the person of the card before it once
// more, as a colleague typed it: the name in capitals, ё as е, no
// patronymic, the same mobile (or, without one, the same work e-mail) and
// the rest of its own: the known duplicates of the set.
Card card(quint64 i);
bool isPlantedDuplicate(quint64 i);

const QStringList &organizations();
const QStringList &departments();
const QStringList &posts();

// Adds the administrator (login "admin") and returns its pk_id.
qint64 addAdmin(db::IBDatabase &d, db::IBTransaction &t, const QString &password);
// Fills the three reference lists.
void addReferences(db::IBDatabase &d, db::IBTransaction &t);
// Inserts `count` demo cards created by `userId`; `progress` gets the number done.
void addCards(db::IBDatabase &d, db::IBTransaction &t, quint64 count, qint64 userId,
              const std::function<void(quint64)> &progress = {});

} // namespace demo
