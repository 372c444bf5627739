#include "davserver.h"
#include "props.h"
#include "replies.h"

#include <memory>

using namespace Qt::StringLiterals;

namespace dav {

namespace {

// What a Depth 1 listing shows below a resource other than the collection:
// only the user's own principal and home.
QList<Target> childrenOf(const Target &t, const QString &login)
{
    switch (t.kind) {
    case Kind::Root:
        return {{Kind::Service, {}, {}}};
    case Kind::Service:
        return {{Kind::Principals, {}, {}}, {Kind::Homes, {}, {}}};
    case Kind::Principals:
        return {{Kind::Principal, login, {}}};
    case Kind::Homes:
        return {{Kind::Home, login, {}}};
    case Kind::Home:
        return {{Kind::Collection, login, {}}};
    default:
        return {};
    }
}

struct Listing
{
    Listing(Book &book, const User &user) : ctx(book, user) {}
    PropContext ctx;
    PropRequest props;
    Target self;
    std::optional<FetchedCard> card; // the member's own tag, when the target is one
    QList<Target> children;
    std::unique_ptr<Cursor<Member>> members;
    bool selfWritten = false;
};

bool writeNext(Listing &l, QXmlStreamWriter &w)
{
    if (!l.selfWritten) {
        writeResponse(w, l.ctx, l.self, l.props, l.card ? &*l.card : nullptr);
        l.selfWritten = true;
        return true;
    }
    if (!l.children.isEmpty()) {
        writeResponse(w, l.ctx, l.children.takeFirst(), l.props);
        return true;
    }
    Member m;
    if (!l.members || !l.members->next(m))
        return false;
    const FetchedCard card{m.href, true, m.etag, {}};
    writeResponse(w, l.ctx, {Kind::Member, l.self.login, m.href}, l.props, &card);
    return true;
}

} // namespace

Response Server::propfind(const Call &c)
{
    auto l = std::make_shared<Listing>(m_book, c.user);
    l->self = c.target;
    if (!c.request.body.trimmed().isEmpty()) { // no body: allprop (RFC 4918 §9.1)
        Element root;
        Response refusal;
        if (!readBody(c.request, root, refusal))
            return refusal;
        if (!root.is(kDavNs, u"propfind"_s))
            return plainReply(400, u"Ожидался элемент propfind."_s, u"not a propfind"_s);
        l->props.read(root);
    }
    const QByteArray depth = c.request.headers.value("Depth").trimmed().toLower();
    if (!depth.isEmpty() && depth != "0" && depth != "1" && depth != "infinity")
        return plainReply(400, u"Неверный заголовок Depth."_s, u"bad Depth"_s);
    // Infinity, also when no Depth is sent, lists as deep as 1: below the
    // collection there are only cards, so there it is the same; above it a
    // client only looks for the way down.
    const bool deep = depth != "0";

    if (c.target.kind == Kind::Member) {
        FetchedCard card;
        const auto cursor = m_book.cards({c.target.member}, Version::V3, false);
        if (!cursor->next(card) || !card.found)
            return plainReply(404, u"Такой карточки нет."_s, u"no such card"_s);
        l->card = card;
    }
    if (deep) {
        l->children = childrenOf(c.target, c.user.login);
        if (c.target.kind == Kind::Collection)
            l->members = m_book.members();
    }
    return multistatusReply([l](QXmlStreamWriter &w) { return writeNext(*l, w); });
}

} // namespace dav
