#pragma once
// Sync tokens and entity tags of the cards the CardDAV server serves from
// the database, made of its transaction numbers (see carddav_cards in
// db/schema.sql). A token holds the oldest transaction still running when
// it was made: every change that was not committed then was made by that
// transaction or a later one, so "changes since the token" are the rows
// marked by it or later, and none is lost to a late commit.

#include <QByteArray>
#include <QString>
#include <optional>

namespace db {
class IBDatabase;
}

namespace davdb {

// What the database tells of itself at one moment.
struct DbMoment
{
    QString epoch;           // a short hash of its creation time: a restored copy has another
    qint64 oldestActive = 0; // the oldest transaction still running
    qint64 next = 0;         // the number the next transaction gets
    qint64 day = 0;          // days since 2000-01-01 by the database's clock
};

// Read in a transaction of its own: the monitoring tables stay as first
// read for the rest of a transaction.
DbMoment readMoment(db::IBDatabase &database);

// A token is refused once older than this; tombstones are kept longer, so
// that a valid token never misses a deletion.
inline constexpr qint64 kTokenDays = 365;
inline constexpr qint64 kTombstoneDays = 400;

QString tokenOf(const DbMoment &moment);
// The transaction whose changes on a token lists; none when the token is
// not this database's (another file, a restored copy whose transactions
// went backwards) or too old.
std::optional<qint64> tokenStart(const QString &token, const DbMoment &now);

// Changes with every change of the card text the book writes (the vCard
// writer, the photo's scaling), so that clients read every card anew.
inline constexpr int kWriterVersion = 1;

// A card's tag from its change transaction (0: not changed since the
// database got the table).
QByteArray etagOf(const QString &epoch, qint64 txn);

} // namespace davdb
