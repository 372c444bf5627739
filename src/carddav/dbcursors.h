#pragma once
// The reading side of the address book over the database (dbbook.h): the
// names cards are served under, and the cursors that list the cards, their
// changes and their vCards. Only the book uses them.

#include "book.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace db {
class IBDatabase;
}

namespace davdb {

// Names and UIDs as the database holds them: any character of a client's
// name, percent-encoded as UTF-8, in the table's Windows-1251 column.
QString storedName(const QString &name);
QString shownName(const QString &stored);
// The card a name the server made stands for ("zentrax-<id>" then
// `suffix`); none when the name is not of that form.
std::optional<qint64> derivedId(const QString &name, const QString &suffix);
// The name a card is served under: the one its row holds, else its own.
QString hrefOf(qint64 id, const QString &storedHref);

// Each cursor reads on a read transaction of its own on `connection`, with
// statements of its own: the rows it has not handed out yet stay whatever
// else runs on the connection meanwhile.

// Every card's name and ETag.
std::unique_ptr<dav::Cursor<dav::Member>> memberCursor(db::IBDatabase &connection, const QString &epoch);
// The cards changed or deleted in transactions from `since` on.
std::unique_ptr<dav::Cursor<dav::Change>> changeCursor(db::IBDatabase &connection, const QString &epoch, qint64 since);
// The cards of a list of names, in its order; a name no card goes by is
// told as not found.
std::unique_ptr<dav::Cursor<dav::FetchedCard>> namedCardsCursor(db::IBDatabase &connection, const QString &photoFolder,
                                                                const QString &epoch, const QStringList &hrefs,
                                                                dav::Version version, bool withText);
// Every card with its vCard.
std::unique_ptr<dav::Cursor<dav::FetchedCard>> allCardsCursor(db::IBDatabase &connection, const QString &photoFolder,
                                                              const QString &epoch, dav::Version version);

} // namespace davdb
