#pragma once
// What the CardDAV server asks of the card index: who the caller is, what he
// may do, the cards of the one address book and their changes. The server
// knows nothing of the database; an implementation over it answers these.
//
// Every card is a member of the collection under a name of its own (its
// "href" here: "<uid>.vcf", without any path). Entity tags are given bare,
// without quotes; the server quotes them on the wire.
//
// Long answers come as cursors the server reads while it writes the response,
// so an implementation can read the database in slices. A cursor lives until
// the response's body has been sent; the book outlives every response.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <utility>

namespace dav {

struct User
{
    QString login; // as the URLs spell it: /dav/principals/<login>/
    QString name;  // shown as the principal's display name
    qint64 id = 0; // the book's own key of the user
};

enum class Rights { ReadOnly, Full };

enum class Version { V3, V4 }; // vCard 3.0 and 4.0

struct Member
{
    QString href;
    QByteArray etag;
};

struct Change
{
    QString href;
    QByteArray etag; // empty when deleted
    bool deleted = false;
};

struct FetchedCard
{
    QString href;
    bool found = false;
    QByteArray etag;
    QByteArray text; // the vCard in UTF-8; empty when its text was not asked for
};

// A sequence read one item at a time; false when there is none left.
template <typename T>
class Cursor
{
public:
    virtual ~Cursor() = default;
    virtual bool next(T &item) = 0;
};

// A cursor over items already at hand.
template <typename T>
class ListCursor : public Cursor<T>
{
public:
    explicit ListCursor(QList<T> items) : m_items(std::move(items)) {}
    bool next(T &item) override
    {
        if (m_next >= m_items.size())
            return false;
        item = m_items[m_next++];
        return true;
    }

private:
    QList<T> m_items;
    qsizetype m_next = 0;
};

// The preconditions of a PUT or DELETE (If-Match, If-None-Match), checked by
// the book inside the transaction that writes, so a change made between the
// client's read and its write is caught.
struct Conditions
{
    bool ifMatchAny = false;     // If-Match: *
    QList<QByteArray> ifMatch;   // bare tags; a weak one keeps its W/ and never matches
    bool ifNoneMatchAny = false; // If-None-Match: *
    QList<QByteArray> ifNoneMatch;

    // Whether a write may go on, the card's current tag given (nullptr: no such card).
    bool hold(const QByteArray *currentEtag) const;
};

struct PutResult
{
    enum Outcome { Created, Updated, PreconditionFailed, UidConflict, Forbidden, BadCard, TooLarge };
    Outcome outcome = Created;
    QString conflictHref; // UidConflict: the member that already has the card's UID
    QString message;      // BadCard: what is wrong, for the log
};

enum class RemoveResult { Deleted, NotFound, PreconditionFailed, Forbidden };

class Book
{
public:
    virtual ~Book() = default;

    // The user of that login and password, none when they do not match. Slow
    // and in constant time; `peer` (the client's address) for growing delays.
    virtual std::optional<User> authenticate(const QString &login, const QString &password, const QString &peer) = 0;
    // How long to wait before that login's password is checked, after wrong
    // ones for it or from that address. The network side waits it without
    // holding up other clients' requests.
    virtual qint64 loginDelayMs(const QString &login, const QString &peer)
    {
        Q_UNUSED(login);
        Q_UNUSED(peer);
        return 0;
    }
    // Read at every request that needs them: a level changed on the desk
    // holds from the next request.
    virtual Rights rights(const User &user) = 0;

    // The collection's current sync token (also its CTag): a short text
    // without spaces. Taken before a full listing, so that every change
    // committed after it is among the changes since it.
    virtual QString syncToken() = 0;
    // Every member with its tag, for a Depth 1 listing and an initial sync.
    virtual std::unique_ptr<Cursor<Member>> members() = 0;
    // The members changed or deleted since `token`, and the token to give the
    // client with them; none when the token is not one of this book's or too old.
    struct Changes
    {
        QString token;
        std::unique_ptr<Cursor<Change>> changes;
    };
    virtual std::optional<Changes> changesSince(const QString &token) = 0;

    // One card in the version asked for; none when there is no such member.
    virtual std::optional<FetchedCard> get(const QString &href, Version version) = 0;
    // The cards of `hrefs`, one item for each in the same order (found or
    // not); with `withText` false only their tags are needed.
    virtual std::unique_ptr<Cursor<FetchedCard>> cards(const QStringList &hrefs, Version version, bool withText) = 0;
    // Every card with its text, for a query the server filters itself.
    virtual std::unique_ptr<Cursor<FetchedCard>> allCards(Version version) = 0;

    // Stores the vCard `body` (any version the card reader takes) under `href`.
    virtual PutResult put(const QString &href, const QByteArray &body, const Conditions &conditions,
                          const User &user) = 0;
    virtual RemoveResult remove(const QString &href, const Conditions &conditions, const User &user) = 0;
};

} // namespace dav
