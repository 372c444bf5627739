#include "cardfilter.h"
#include "davserver.h"
#include "props.h"
#include "replies.h"

#include <memory>

using namespace Qt::StringLiterals;

namespace dav {

namespace {

constexpr int kSyncBatch = 200; // changed cards whose text one read of the book fetches

// The props a report asks for, and whether it needs the cards' text.
struct Asked
{
    PropRequest props;
    bool withText = false;
    const Element *addressData = nullptr;

    explicit Asked(const Element &root)
    {
        props.read(root);
        withText = props.asks(kCardNs, u"address-data"_s) || props.asks(kDavNs, u"getcontentlength"_s);
        if (const Element *prop = root.child(kDavNs, u"prop"_s))
            addressData = prop->child(kCardNs, u"address-data"_s);
    }
};

Response unsupportedVersion()
{
    return errorReply(403, kCardNs, u"supported-address-data-conversion"_s, u"vCard version not written"_s);
}

// <limit><nresults>N</nresults></limit> in `ns` (CardDAV's for a query,
// DAV's for a sync): N, or -1 when none; -2 when unreadable.
int limitOf(const Element &root, const QString &ns)
{
    const Element *limit = root.child(ns, u"limit"_s);
    if (!limit)
        return -1;
    const Element *n = limit->child(ns, u"nresults"_s);
    bool ok = false;
    const int value = n ? n->text.trimmed().toInt(&ok) : 0;
    return ok && value >= 0 ? value : -2;
}

void writeTruncated(QXmlStreamWriter &w, const QString &href)
{
    w.writeStartElement(kDavNs, u"response"_s);
    w.writeTextElement(kDavNs, u"href"_s, href);
    w.writeTextElement(kDavNs, u"status"_s, statusLine(507));
    w.writeStartElement(kDavNs, u"error"_s);
    w.writeEmptyElement(kDavNs, u"number-of-matches-within-limits"_s);
    w.writeEndElement();
    w.writeEndElement();
}

// An initial sync lists every member as changed.
class MembersAsChanges : public Cursor<Change>
{
public:
    explicit MembersAsChanges(std::unique_ptr<Cursor<Member>> members) : m_members(std::move(members)) {}
    bool next(Change &change) override
    {
        Member m;
        if (!m_members->next(m))
            return false;
        change = {m.href, m.etag, false};
        return true;
    }

private:
    std::unique_ptr<Cursor<Member>> m_members;
};

struct Multiget
{
    Multiget(Book &book, const User &user) : ctx(book, user) {}
    PropContext ctx;
    PropRequest props;
    QStringList unknown; // hrefs outside the collection, as sent
    QStringList asked;   // the others as sent, in the order the book answers them
    qsizetype next = 0;
    std::unique_ptr<Cursor<FetchedCard>> cards;

    bool write(QXmlStreamWriter &w)
    {
        if (!unknown.isEmpty()) {
            writeStatusResponse(w, unknown.takeLast(), 404);
            return true;
        }
        FetchedCard card;
        if (!cards->next(card))
            return false;
        const QString href = next < asked.size() ? asked[next++] : memberHref(ctx.user().login, card.href);
        if (card.found)
            writeResponse(w, ctx, {Kind::Member, ctx.user().login, card.href}, props, &card, href);
        else
            writeStatusResponse(w, href, 404);
        return true;
    }
};

struct Query
{
    Query(Book &book, const User &user) : ctx(book, user) {}
    PropContext ctx;
    PropRequest props;
    Filter filter;
    bool withText = false;
    int limit = -1;
    int written = 0;
    std::unique_ptr<Cursor<FetchedCard>> cards;

    bool write(QXmlStreamWriter &w)
    {
        FetchedCard card;
        while (cards->next(card)) {
            if (!filter.matches(card.text))
                continue;
            if (limit >= 0 && written == limit) { // one match more than asked (RFC 6352 §8.6.1)
                writeTruncated(w, collectionHref(ctx.user().login));
                return false;
            }
            if (!withText)
                card.text.clear();
            writeResponse(w, ctx, {Kind::Member, ctx.user().login, card.href}, props, &card);
            ++written;
            return true;
        }
        return false;
    }
};

struct Sync
{
    Sync(Book &book, const User &user) : ctx(book, user) {}
    PropContext ctx;
    PropRequest props;
    Version version = Version::V3;
    bool withText = false;
    QString token; // the new one, as a URI
    std::unique_ptr<Cursor<Change>> changes;
    std::unique_ptr<Cursor<FetchedCard>> batch; // the text of the changed cards read last

    void writeCard(QXmlStreamWriter &w, const FetchedCard &card)
    {
        const Target t{Kind::Member, ctx.user().login, card.href};
        if (card.found)
            writeResponse(w, ctx, t, props, &card);
        else // deleted since the change was read
            writeStatusResponse(w, hrefOf(t), 404);
    }

    // The next changes: a deleted card at once, the others' text from the book in batches.
    bool write(QXmlStreamWriter &w)
    {
        FetchedCard card;
        if (batch && batch->next(card)) {
            writeCard(w, card);
            return true;
        }
        batch.reset();
        QStringList hrefs;
        Change change;
        int read = 0;
        for (; read < kSyncBatch && changes->next(change); ++read) {
            if (change.deleted)
                writeStatusResponse(w, memberHref(ctx.user().login, change.href), 404);
            else if (withText)
                hrefs << change.href;
            else
                writeCard(w, FetchedCard{change.href, true, change.etag, {}});
        }
        if (!hrefs.isEmpty()) {
            batch = ctx.book().cards(hrefs, version, true);
            return true;
        }
        if (read > 0)
            return true;
        w.writeTextElement(kDavNs, u"sync-token"_s, token); // after the last change (RFC 6578 §6.2)
        return false;
    }
};

} // namespace

Response Server::report(const Call &c)
{
    Element root;
    Response refusal;
    if (!readBody(c.request, root, refusal))
        return refusal;
    // Reports about principals: nothing to find, and clients go on without.
    if (root.is(kDavNs, u"expand-property"_s) || root.is(kDavNs, u"principal-property-search"_s) ||
        root.is(kDavNs, u"principal-search-property-set"_s))
        return multistatusReply([](QXmlStreamWriter &) { return false; });
    if (c.target.kind == Kind::Collection) {
        if (root.is(kCardNs, u"addressbook-multiget"_s))
            return multiget(c, root);
        if (root.is(kCardNs, u"addressbook-query"_s))
            return query(c, root);
        if (root.is(kDavNs, u"sync-collection"_s))
            return syncCollection(c, root);
    }
    // RFC 3253 §3.6: a report the resource does not support.
    return errorReply(403, kDavNs, u"supported-report"_s, u"report "_s + root.name);
}

Response Server::multiget(const Call &c, const Element &root)
{
    const Asked asked(root);
    const std::optional<Version> version = versionOfAddressData(asked.addressData, c.request.headers.value("Accept"));
    if (!version)
        return unsupportedVersion();
    auto m = std::make_shared<Multiget>(m_book, c.user);
    m->props = asked.props;
    QStringList names;
    for (const Element &e : root.children) {
        if (!e.is(kDavNs, u"href"_s))
            continue;
        const Target t = resolve(pathOfHref(e.text));
        if (t.kind == Kind::Member && t.login == c.user.login) {
            names << t.member;
            m->asked << e.text.trimmed();
        } else {
            m->unknown << e.text.trimmed();
        }
    }
    m->cards = m_book.cards(names, *version, asked.withText);
    return multistatusReply([m](QXmlStreamWriter &w) { return m->write(w); });
}

// Every card's text is read and filtered here: simple, and right for any
// property the filter names. Depth is not read: Evolution sends 0 on the
// collection and means its cards.
Response Server::query(const Call &c, const Element &root)
{
    const Asked asked(root);
    const std::optional<Version> version = versionOfAddressData(asked.addressData, c.request.headers.value("Accept"));
    if (!version)
        return unsupportedVersion();
    auto q = std::make_shared<Query>(m_book, c.user);
    q->props = asked.props;
    q->withText = asked.withText;
    if (const Element *filter = root.child(kCardNs, u"filter"_s)) {
        QString precondition;
        if (!q->filter.read(*filter, &precondition))
            return errorReply(403, kCardNs, precondition, u"filter: "_s + precondition);
    }
    q->limit = limitOf(root, kCardNs);
    if (q->limit == -2)
        return plainReply(400, u"Неверный элемент limit."_s, u"bad limit"_s);
    q->cards = m_book.allCards(*version);
    return multistatusReply([q](QXmlStreamWriter &w) { return q->write(w); });
}

Response Server::syncCollection(const Call &c, const Element &root)
{
    const Asked asked(root);
    const std::optional<Version> version = versionOfAddressData(asked.addressData, c.request.headers.value("Accept"));
    if (!version)
        return unsupportedVersion();
    const Element *level = root.child(kDavNs, u"sync-level"_s);
    // The collection holds no collections, so "infinite" lists the same as 1.
    if (level && level->text.trimmed() != "1"_L1 && level->text.trimmed() != "infinite"_L1)
        return plainReply(400, u"Неверный элемент sync-level."_s, u"bad sync-level"_s);
    const int limit = limitOf(root, kDavNs);
    if (limit == -2)
        return plainReply(400, u"Неверный элемент limit."_s, u"bad limit"_s);

    auto s = std::make_shared<Sync>(m_book, c.user);
    s->props = asked.props;
    s->version = *version;
    s->withText = asked.withText;
    const Element *tokenElement = root.child(kDavNs, u"sync-token"_s);
    const QString given = tokenElement ? tokenElement->text.trimmed() : QString();
    if (given.isEmpty()) {
        s->token = s->ctx.syncToken(); // before the listing, so nothing committed meanwhile is missed
        s->changes = std::make_unique<MembersAsChanges>(m_book.members());
    } else {
        const std::optional<QString> inner = bookToken(given);
        std::optional<Book::Changes> changes;
        if (inner)
            changes = m_book.changesSince(*inner);
        if (!changes)
            return errorReply(403, kDavNs, u"valid-sync-token"_s, u"sync token refused: "_s + given);
        s->token = tokenUri(changes->token);
        s->changes = std::move(changes->changes);
    }
    if (limit >= 0) {
        // Only a whole answer within the limit: a truncated one would need a
        // token for the middle of the changes (RFC 6578 §3.6).
        QList<Change> all;
        Change change;
        while (all.size() <= limit && s->changes->next(change))
            all << change;
        if (all.size() > limit)
            return errorReply(507, kDavNs, u"number-of-matches-within-limits"_s, u"sync over the limit"_s);
        s->changes = std::make_unique<ListCursor<Change>>(all);
    }
    return multistatusReply([s](QXmlStreamWriter &w) { return s->write(w); });
}

} // namespace dav
