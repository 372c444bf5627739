#include "props.h"
#include "davtypes.h"

using namespace Qt::StringLiterals;

namespace dav {

namespace {

const QString kTokenPrefix = u"http://zentrax.invalid/ns/sync/"_s;

PropName dav(const char16_t *name)
{
    return {kDavNs, QString::fromUtf16(name)};
}
PropName card(const char16_t *name)
{
    return {kCardNs, QString::fromUtf16(name)};
}

// The properties of each kind of resource, in the order propname lists them.
QList<PropName> propsOf(Kind kind, bool withText)
{
    QList<PropName> out{dav(u"resourcetype")};
    switch (kind) {
    case Kind::Root:
    case Kind::Service:
    case Kind::Principals:
    case Kind::Homes:
        out << dav(u"current-user-principal");
        break;
    case Kind::Principal:
        out << dav(u"current-user-principal") << dav(u"principal-URL") << card(u"addressbook-home-set")
            << dav(u"displayname");
        break;
    case Kind::Home:
        out << dav(u"current-user-principal") << dav(u"displayname") << dav(u"owner")
            << dav(u"current-user-privilege-set");
        break;
    case Kind::Collection:
        out << dav(u"current-user-principal") << dav(u"displayname") << dav(u"owner")
            << dav(u"current-user-privilege-set") << dav(u"supported-report-set") << card(u"supported-address-data")
            << card(u"max-resource-size") << dav(u"sync-token") << PropName{kCsNs, u"getctag"_s};
        break;
    case Kind::Member:
        out << dav(u"getetag") << dav(u"getcontenttype") << dav(u"current-user-privilege-set");
        if (withText)
            out << dav(u"getcontentlength") << card(u"address-data");
        break;
    case Kind::None:
        break;
    }
    return out;
}

// Those an allprop leaves out: expensive or ACL ones (RFC 3744 §5, RFC 6578 §4)
// and the card's text, which only a report carries.
bool inAllprop(const PropName &p)
{
    static const QList<PropName> left{dav(u"current-user-privilege-set"), dav(u"supported-report-set"),
                                      dav(u"sync-token"), card(u"address-data")};
    return !left.contains(p);
}

void writeHref(QXmlStreamWriter &w, const QString &href)
{
    w.writeTextElement(kDavNs, u"href"_s, href);
}

void writePrivileges(QXmlStreamWriter &w, const QStringList &names)
{
    for (const QString &n : names) {
        w.writeStartElement(kDavNs, u"privilege"_s);
        w.writeEmptyElement(kDavNs, n);
        w.writeEndElement();
    }
}

void writeResourceType(QXmlStreamWriter &w, Kind kind)
{
    if (kind == Kind::Principal) {
        w.writeEmptyElement(kDavNs, u"principal"_s);
    } else if (kind != Kind::Member) {
        w.writeEmptyElement(kDavNs, u"collection"_s);
        if (kind == Kind::Collection)
            w.writeEmptyElement(kCardNs, u"addressbook"_s);
    }
}

void writeReports(QXmlStreamWriter &w)
{
    const QList<PropName> reports{card(u"addressbook-multiget"), card(u"addressbook-query"), dav(u"sync-collection")};
    for (const PropName &r : reports) {
        w.writeStartElement(kDavNs, u"supported-report"_s);
        w.writeStartElement(kDavNs, u"report"_s);
        w.writeEmptyElement(r.ns, r.name);
        w.writeEndElement();
        w.writeEndElement();
    }
}

void writeAddressDataTypes(QXmlStreamWriter &w)
{
    for (const QString &version : {u"3.0"_s, u"4.0"_s}) {
        w.writeEmptyElement(kCardNs, u"address-data-type"_s);
        w.writeAttribute(u"content-type"_s, u"text/vcard"_s);
        w.writeAttribute(u"version"_s, version);
    }
}

void writePrivilegeSet(QXmlStreamWriter &w, PropContext &ctx, Kind kind)
{
    const bool full = (kind == Kind::Collection || kind == Kind::Member) && ctx.rights() == Rights::Full;
    if (!full)
        writePrivileges(w, {u"read"_s});
    else if (kind == Kind::Collection)
        writePrivileges(w, {u"read"_s, u"write"_s, u"write-content"_s, u"bind"_s, u"unbind"_s});
    else
        writePrivileges(w, {u"read"_s, u"write"_s, u"write-content"_s});
}

// The vCard with its CR LF line ends kept: a bare CR would reach the client
// as a plain LF (XML §2.11), so it goes as a character reference.
void writeCardText(QXmlStreamWriter &w, const QByteArray &text)
{
    const QString card = QString::fromUtf8(text);
    qsizetype from = 0;
    for (qsizetype cr = card.indexOf(u'\r'); cr >= 0; cr = card.indexOf(u'\r', from)) {
        w.writeCharacters(card.mid(from, cr - from));
        w.writeEntityReference(u"#13"_s);
        from = cr + 1;
    }
    w.writeCharacters(card.mid(from));
}

void writeValue(QXmlStreamWriter &w, PropContext &ctx, const Target &t, const FetchedCard *card, const PropName &p)
{
    const QString &n = p.name;
    const QString principal = principalHref(ctx.user().login);
    if (p.ns == kCsNs) { // getctag
        w.writeCharacters(ctx.syncToken());
    } else if (p.ns == kCardNs) {
        if (n == "addressbook-home-set"_L1)
            writeHref(w, homeHref(ctx.user().login));
        else if (n == "supported-address-data"_L1)
            writeAddressDataTypes(w);
        else if (n == "max-resource-size"_L1)
            w.writeCharacters(QString::number(kMaxCardSize));
        else if (n == "address-data"_L1)
            writeCardText(w, card->text);
    } else if (n == "resourcetype"_L1) {
        writeResourceType(w, t.kind);
    } else if (n == "current-user-principal"_L1 || n == "principal-URL"_L1 || n == "owner"_L1) {
        writeHref(w, principal);
    } else if (n == "displayname"_L1) {
        if (t.kind == Kind::Collection)
            w.writeCharacters(u"Карточки"_s);
        else if (t.kind == Kind::Principal && !ctx.user().name.isEmpty())
            w.writeCharacters(ctx.user().name);
        else
            w.writeCharacters(ctx.user().login);
    } else if (n == "current-user-privilege-set"_L1) {
        writePrivilegeSet(w, ctx, t.kind);
    } else if (n == "supported-report-set"_L1) {
        writeReports(w);
    } else if (n == "sync-token"_L1) {
        w.writeCharacters(ctx.syncToken());
    } else if (n == "getetag"_L1) {
        w.writeCharacters(u'"' + QString::fromLatin1(card->etag) + u'"');
    } else if (n == "getcontenttype"_L1) {
        w.writeCharacters(u"text/vcard; charset=utf-8"_s);
    } else if (n == "getcontentlength"_L1) {
        w.writeCharacters(QString::number(card->text.size()));
    }
}

void writePropstat(QXmlStreamWriter &w, const QList<PropName> &names, int status,
                   const std::function<void(const PropName &)> &value)
{
    w.writeStartElement(kDavNs, u"propstat"_s);
    w.writeStartElement(kDavNs, u"prop"_s);
    for (const PropName &p : names) {
        w.writeStartElement(p.ns, p.name);
        if (value)
            value(p);
        w.writeEndElement();
    }
    w.writeEndElement();
    w.writeTextElement(kDavNs, u"status"_s, statusLine(status));
    w.writeEndElement();
}

} // namespace

void PropRequest::read(const Element &parent)
{
    mode = AllProp;
    names.clear();
    const Element *list = nullptr;
    if ((list = parent.child(kDavNs, u"prop"_s))) {
        mode = Props;
    } else if (parent.child(kDavNs, u"propname"_s)) {
        mode = PropNames;
    } else {
        list = parent.child(kDavNs, u"include"_s);
    }
    if (!list)
        return;
    for (const Element &e : list->children) {
        const PropName p{e.ns, e.name};
        if (!names.contains(p))
            names << p;
    }
}

bool PropRequest::asks(const QString &ns, const QString &name) const
{
    return mode == Props && names.contains(PropName{ns, name});
}

QString tokenUri(const QString &bookToken)
{
    return kTokenPrefix + bookToken;
}

std::optional<QString> bookToken(const QString &uri)
{
    if (!uri.startsWith(kTokenPrefix))
        return std::nullopt;
    return uri.mid(kTokenPrefix.size());
}

QString PropContext::syncToken()
{
    if (!m_token)
        m_token = tokenUri(m_book.syncToken());
    return *m_token;
}

Rights PropContext::rights()
{
    if (!m_rights)
        m_rights = m_book.rights(m_user);
    return *m_rights;
}

void writeResponse(QXmlStreamWriter &w, PropContext &ctx, const Target &target, const PropRequest &request,
                   const FetchedCard *card, const QString &href)
{
    const QList<PropName> known = propsOf(target.kind, card && !card->text.isEmpty());
    w.writeStartElement(kDavNs, u"response"_s);
    writeHref(w, href.isEmpty() ? hrefOf(target) : href);
    if (request.mode == PropRequest::PropNames) {
        writePropstat(w, known, 200, {});
        w.writeEndElement();
        return;
    }
    QList<PropName> found, missing;
    if (request.mode == PropRequest::AllProp)
        for (const PropName &p : known)
            if (inAllprop(p))
                found << p;
    for (const PropName &p : request.names)
        if (!found.contains(p))
            (known.contains(p) ? found : missing) << p;
    if (!found.isEmpty() || missing.isEmpty())
        writePropstat(w, found, 200, [&](const PropName &p) { writeValue(w, ctx, target, card, p); });
    if (!missing.isEmpty())
        writePropstat(w, missing, 404, {});
    w.writeEndElement();
}

void writeStatusResponse(QXmlStreamWriter &w, const QString &href, int status)
{
    w.writeStartElement(kDavNs, u"response"_s);
    writeHref(w, href);
    w.writeTextElement(kDavNs, u"status"_s, statusLine(status));
    w.writeEndElement();
}

} // namespace dav
