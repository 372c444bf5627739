#include "davserver.h"
#include "replies.h"

using namespace Qt::StringLiterals;

namespace dav {

namespace {

const QByteArray kAllow = "OPTIONS, GET, HEAD, PUT, DELETE, PROPFIND, PROPPATCH, REPORT";
const QByteArray kVCardType = "text/vcard; charset=utf-8";

// Methods of HTTP and WebDAV the server knows and refuses (405); any other
// is not implemented (501).
const QList<QByteArray> kRefused{"POST", "PATCH", "LOCK", "UNLOCK", "ACL", "SEARCH", "BIND", "UNBIND", "REBIND"};

Response options()
{
    Response r;
    r.headers.set("DAV", "1, 3, addressbook");
    r.headers.set("Allow", kAllow);
    r.headers.set("Content-Length", "0");
    return r;
}

Response unauthorized(const QString &note)
{
    Response r = plainReply(401, u"Нужны имя пользователя и пароль устройства."_s, note);
    r.headers.set("WWW-Authenticate", "Basic realm=\"Zentrax\", charset=\"UTF-8\"");
    return r;
}

Response methodNotAllowed()
{
    Response r = plainReply(405, u"Этот метод здесь не применяется."_s, u"method not allowed"_s);
    r.headers.set("Allow", kAllow);
    return r;
}

// The login and password of an Authorization: Basic header (RFC 7617).
bool basicCredentials(const QByteArray &header, QString &login, QString &password)
{
    const QByteArray h = header.trimmed();
    if (h.size() < 6 || h.left(6).toLower() != "basic ")
        return false;
    const auto result = QByteArray::fromBase64Encoding(h.mid(6).trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (!result)
        return false;
    const QByteArray &decoded = result.decoded;
    const qsizetype colon = decoded.indexOf(':');
    if (colon <= 0)
        return false;
    login = QString::fromUtf8(decoded.left(colon));
    password = QString::fromUtf8(decoded.mid(colon + 1));
    return true;
}

// A PUT's Content-Type: a vCard, or none said.
bool vcardType(const QByteArray &contentType)
{
    const QByteArray type = contentType.split(';').first().trimmed().toLower();
    return type.isEmpty() || type == "text/vcard" || type == "text/x-vcard" || type == "text/directory";
}

Response quotedEtagReply(int status, const QByteArray &etag)
{
    Response r;
    r.status = status;
    r.headers.set("ETag", '"' + etag + '"');
    return r;
}

} // namespace

qint64 Server::waitBefore(const QByteArray &authorization, const QString &peer)
{
    QString login, password;
    if (!basicCredentials(authorization, login, password))
        return 0;
    return m_book.loginDelayMs(login, peer);
}

Response Server::handle(const Request &request)
{
    const QString &path = request.path;
    if (path == "/.well-known/carddav"_L1 || path == "/.well-known/carddav/"_L1) {
        Response r = plainReply(301, u"/dav/"_s);
        r.headers.set("Location", "/dav/");
        return r;
    }
    if (request.method == "OPTIONS")
        return options();
    if (request.body.size() > kMaxBodySize)
        return plainReply(413, u"Тело запроса слишком велико."_s, u"body over the cap"_s);

    QString login, password;
    if (!basicCredentials(request.headers.value("Authorization"), login, password))
        return unauthorized(u"no credentials"_s);
    const std::optional<User> user = m_book.authenticate(login, password, request.peer);
    if (!user)
        return unauthorized(u"wrong credentials for "_s + login);

    const Target target = resolve(path);
    if (!target.login.isEmpty() && target.login != user->login)
        return plainReply(403, u"Это адрес другого пользователя."_s, u"another user's path"_s);
    if (request.method == "MKCOL" || request.method == "MKCALENDAR") {
        // Address books are not made by clients: there is the one collection.
        if (target.kind != Kind::None)
            return methodNotAllowed();
        return plainReply(403, u"Новые адресные книги не создаются."_s, u"collection creation"_s);
    }
    if (target.kind == Kind::None)
        return plainReply(404, u"Здесь ничего нет."_s, u"no such path"_s);
    return dispatch({request, *user, target});
}

Response Server::dispatch(const Call &c)
{
    const QByteArray &m = c.request.method;
    if (m == "PROPFIND")
        return propfind(c);
    if (m == "REPORT")
        return report(c);
    if (m == "GET" || m == "HEAD")
        return get(c, m == "HEAD");
    if (m == "PUT")
        return put(c);
    if (m == "DELETE")
        return remove(c);
    if (m == "PROPPATCH")
        return proppatch(c);
    if (m == "MOVE" || m == "COPY")
        return plainReply(403, u"Карточки не переносятся и не копируются."_s, u"move or copy"_s);
    if (kRefused.contains(m))
        return methodNotAllowed();
    Response r = plainReply(501, u"Метод не поддерживается."_s, u"unknown method"_s);
    r.headers.set("Allow", kAllow);
    return r;
}

Response Server::get(const Call &c, bool head)
{
    if (c.target.kind != Kind::Member) {
        Response r = plainReply(200, u"Адресная книга Zentrax (CardDAV)."_s);
        if (head)
            r.body = nullptr;
        return r;
    }
    const Version version = versionFromAccept(c.request.headers.value("Accept"));
    const std::optional<FetchedCard> card = m_book.get(c.target.member, version);
    if (!card || !card->found)
        return plainReply(404, u"Такой карточки нет."_s, u"no such card"_s);
    const Conditions conditions = conditionsOf(c.request.headers);
    if (conditions.ifNoneMatchAny || conditions.ifNoneMatch.contains(card->etag))
        return quotedEtagReply(304, card->etag);
    Response r = quotedEtagReply(200, card->etag);
    r.setBody(card->text, kVCardType);
    if (head)
        r.body = nullptr;
    return r;
}

Response Server::put(const Call &c)
{
    if (c.target.kind != Kind::Member)
        return methodNotAllowed();
    const QString href = hrefOf(c.target);
    if (m_book.rights(c.user) != Rights::Full)
        return needPrivileges(href, u"write-content"_s);
    if (c.request.body.size() > kMaxCardSize)
        return errorReply(403, kCardNs, u"max-resource-size"_s, u"card over the size limit"_s);
    if (!vcardType(c.request.headers.value("Content-Type")))
        return errorReply(403, kCardNs, u"supported-address-data"_s, u"not a vCard"_s);

    const PutResult result = m_book.put(c.target.member, c.request.body, conditionsOf(c.request.headers), c.user);
    Response r;
    switch (result.outcome) {
    case PutResult::Created:
        r.status = 201;
        break;
    case PutResult::Updated:
        r.status = 204;
        break;
    case PutResult::PreconditionFailed:
        return plainReply(412, u"Карточка изменилась с тех пор, как её прочитали."_s, u"precondition failed"_s);
    case PutResult::UidConflict: {
        const QString other = memberHref(c.user.login, result.conflictHref);
        return errorReply(409, kCardNs, u"no-uid-conflict"_s, u"UID of "_s + result.conflictHref,
                          [&](QXmlStreamWriter &w) { w.writeTextElement(kDavNs, u"href"_s, other); });
    }
    case PutResult::Forbidden:
        return needPrivileges(href, u"write-content"_s);
    case PutResult::BadCard:
        return errorReply(403, kCardNs, u"valid-address-data"_s, u"bad card: "_s + result.message);
    case PutResult::TooLarge:
        return errorReply(403, kCardNs, u"max-resource-size"_s, u"card over the size limit"_s);
    }
    // No ETag: the card is stored transformed, so the client reads it back (RFC 6352 §6.3.2.3).
    r.headers.set("Content-Length", "0");
    return r;
}

Response Server::remove(const Call &c)
{
    if (c.target.kind != Kind::Member)
        return plainReply(403, u"Адресная книга не удаляется."_s, u"collection deletion"_s);
    const QString collection = collectionHref(c.user.login);
    if (m_book.rights(c.user) != Rights::Full)
        return needPrivileges(collection, u"unbind"_s);
    switch (m_book.remove(c.target.member, conditionsOf(c.request.headers), c.user)) {
    case RemoveResult::Deleted: {
        Response r;
        r.status = 204;
        return r;
    }
    case RemoveResult::NotFound:
        return plainReply(404, u"Такой карточки нет."_s, u"no such card"_s);
    case RemoveResult::PreconditionFailed:
        return plainReply(412, u"Карточка изменилась с тех пор, как её прочитали."_s, u"precondition failed"_s);
    case RemoveResult::Forbidden:
        break;
    }
    return needPrivileges(collection, u"unbind"_s);
}

// No property can be set: each one asked is refused in a multistatus
// (RFC 4918 §9.2), which clients take as "kept as it was".
Response Server::proppatch(const Call &c)
{
    Element root;
    Response refusal;
    if (!readBody(c.request, root, refusal))
        return refusal;
    if (!root.is(kDavNs, u"propertyupdate"_s))
        return plainReply(400, u"Ожидался элемент propertyupdate."_s, u"not a propertyupdate"_s);
    QList<std::pair<QString, QString>> names;
    for (const Element &action : root.children)
        if (const Element *prop = action.child(kDavNs, u"prop"_s))
            for (const Element &p : prop->children)
                names.append({p.ns, p.name});
    const QString href = hrefOf(c.target);
    return multistatusReply([href, names](QXmlStreamWriter &w) {
        w.writeStartElement(kDavNs, u"response"_s);
        w.writeTextElement(kDavNs, u"href"_s, href);
        w.writeStartElement(kDavNs, u"propstat"_s);
        w.writeStartElement(kDavNs, u"prop"_s);
        for (const auto &[ns, name] : names)
            w.writeEmptyElement(ns, name);
        w.writeEndElement();
        w.writeTextElement(kDavNs, u"status"_s, statusLine(403));
        w.writeEndElement();
        w.writeEndElement();
        return false;
    });
}

} // namespace dav
