#include "replies.h"

using namespace Qt::StringLiterals;

namespace dav {

namespace {

// The entity tags of an If-Match or If-None-Match list, bare; `weak` keeps
// the W/ of a weak one so that it never equals a strong tag.
QList<QByteArray> entityTags(const QByteArray &value, bool keepWeak)
{
    QList<QByteArray> out;
    for (QByteArray tag : value.split(',')) {
        tag = tag.trimmed();
        QByteArray prefix;
        if (tag.startsWith("W/")) {
            tag = tag.mid(2);
            if (keepWeak)
                prefix = "W/";
        }
        if (tag.size() >= 2 && tag.startsWith('"') && tag.endsWith('"'))
            tag = tag.mid(1, tag.size() - 2);
        if (!tag.isEmpty())
            out << prefix + tag;
    }
    return out;
}

// The q value of one media range's parameters; 1 when none given.
double quality(const QList<QByteArray> &params)
{
    for (const QByteArray &p : params) {
        const QByteArray t = p.trimmed().toLower();
        if (t.startsWith("q="))
            return t.mid(2).toDouble();
    }
    return 1.0;
}

} // namespace

bool Conditions::hold(const QByteArray *currentEtag) const
{
    if ((ifMatchAny || !ifMatch.isEmpty()) && !currentEtag)
        return false;
    if (!ifMatch.isEmpty() && !ifMatch.contains(*currentEtag))
        return false;
    if (ifNoneMatchAny && currentEtag)
        return false;
    return !(currentEtag && ifNoneMatch.contains(*currentEtag));
}

Response plainReply(int status, const QString &text, const QString &note)
{
    Response r;
    r.status = status;
    r.note = note;
    r.setBody(text.toUtf8() + '\n', "text/plain; charset=utf-8");
    return r;
}

Response errorReply(int status, const QString &ns, const QString &name, const QString &note,
                    const std::function<void(QXmlStreamWriter &)> &inner)
{
    Response r;
    r.status = status;
    r.note = note.isEmpty() ? name : note;
    r.setBody(errorDocument(ns, name, inner), "application/xml; charset=utf-8");
    return r;
}

Response needPrivileges(const QString &href, const QString &privilege)
{
    return errorReply(403, kDavNs, u"need-privileges"_s, u"read-only user"_s, [&](QXmlStreamWriter &w) {
        w.writeStartElement(kDavNs, u"resource"_s);
        w.writeTextElement(kDavNs, u"href"_s, href);
        w.writeStartElement(kDavNs, u"privilege"_s);
        w.writeEmptyElement(kDavNs, privilege);
        w.writeEndElement();
        w.writeEndElement();
    });
}

Response multistatusReply(std::function<bool(QXmlStreamWriter &)> step)
{
    Response r;
    r.status = 207;
    r.headers.set("Content-Type", "application/xml; charset=utf-8");
    r.body = multistatus(std::move(step));
    return r;
}

bool readBody(const Request &request, Element &root, Response &refusal)
{
    QString error;
    if (request.body.trimmed().isEmpty())
        error = u"no body"_s;
    else if (parseXml(request.body, root, &error))
        return true;
    refusal = plainReply(400, u"Тело запроса не читается как XML: "_s + error, error);
    return false;
}

Conditions conditionsOf(const Headers &headers)
{
    Conditions c;
    const QByteArray match = headers.value("If-Match").trimmed();
    const QByteArray noneMatch = headers.value("If-None-Match").trimmed();
    c.ifMatchAny = match == "*";
    if (!c.ifMatchAny)
        c.ifMatch = entityTags(match, true);
    c.ifNoneMatchAny = noneMatch == "*";
    if (!c.ifNoneMatchAny)
        c.ifNoneMatch = entityTags(noneMatch, false); // If-None-Match compares weakly
    return c;
}

Version versionFromAccept(const QByteArray &accept)
{
    double v3 = -1, v4 = -1;
    for (const QByteArray &range : accept.split(',')) {
        QList<QByteArray> params = range.split(';');
        const QByteArray type = params.takeFirst().trimmed().toLower();
        if (type != "text/vcard" && type != "text/*" && type != "*/*")
            continue;
        const double q = quality(params);
        QByteArray version;
        for (const QByteArray &p : std::as_const(params))
            if (p.trimmed().toLower().startsWith("version="))
                version = p.trimmed().mid(8);
        if (version == "4.0")
            v4 = std::max(v4, q);
        else if (version.isEmpty() || version == "3.0")
            v3 = std::max(v3, q);
    }
    return v4 > 0 && v4 > v3 ? Version::V4 : Version::V3;
}

std::optional<Version> versionOfAddressData(const Element *addressData, const QByteArray &accept)
{
    if (!addressData)
        return versionFromAccept(accept);
    const QString type = addressData->attribute(u"content-type"_s);
    if (!type.isEmpty() && type.compare("text/vcard"_L1, Qt::CaseInsensitive) != 0)
        return std::nullopt;
    const QString version = addressData->attribute(u"version"_s);
    if (version.isEmpty())
        return versionFromAccept(accept);
    if (version == "3.0"_L1)
        return Version::V3;
    if (version == "4.0"_L1)
        return Version::V4;
    return std::nullopt;
}

} // namespace dav
