#include "paths.h"

#include <QStringList>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace dav {

namespace {

// One path segment for an href: UTF-8, percent-encoded but for the
// characters RFC 3986 allows in a segment as they are.
QString encodeSegment(const QString &segment)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(segment, "!$&'()*+,;=:@"));
}

} // namespace

Target resolve(const QString &path)
{
    if (path == "/"_L1)
        return {Kind::Root, {}, {}};
    QStringList parts = path.split(u'/');
    // A leading slash is required; the trailing one is optional.
    if (parts.size() < 2 || !parts.first().isEmpty())
        return {};
    parts.removeFirst();
    const bool slash = parts.last().isEmpty();
    if (slash)
        parts.removeLast();
    for (const QString &p : std::as_const(parts))
        if (p.isEmpty() || p == "."_L1 || p == ".."_L1)
            return {};
    if (parts.isEmpty() || parts[0] != "dav"_L1)
        return {};
    const qsizetype n = parts.size();
    if (n == 1)
        return {Kind::Service, {}, {}};
    if (parts[1] == "principals"_L1) {
        if (n == 2)
            return {Kind::Principals, {}, {}};
        if (n == 3)
            return {Kind::Principal, parts[2], {}};
        return {};
    }
    if (parts[1] != "addressbooks"_L1)
        return {};
    if (n == 2)
        return {Kind::Homes, {}, {}};
    if (n == 3)
        return {Kind::Home, parts[2], {}};
    if (parts[3] != "cards"_L1)
        return {Kind::None, parts[2], {}};
    if (n == 4)
        return {Kind::Collection, parts[2], {}};
    if (n == 5 && !slash)
        return {Kind::Member, parts[2], parts[4]};
    return {Kind::None, parts[2], {}};
}

QString pathOfHref(const QString &href)
{
    QString path = href.trimmed();
    const qsizetype scheme = path.indexOf("://"_L1);
    if (scheme > 0 && scheme < path.indexOf(u'/')) {
        const qsizetype start = path.indexOf(u'/', scheme + 3);
        path = start < 0 ? u"/"_s : path.mid(start);
    }
    const qsizetype query = path.indexOf(u'?');
    if (query >= 0)
        path.truncate(query);
    return QUrl::fromPercentEncoding(path.toUtf8());
}

QString hrefOf(const Target &target)
{
    switch (target.kind) {
    case Kind::Root:
        return u"/"_s;
    case Kind::Service:
        return u"/dav/"_s;
    case Kind::Principals:
        return u"/dav/principals/"_s;
    case Kind::Principal:
        return "/dav/principals/"_L1 + encodeSegment(target.login) + u'/';
    case Kind::Homes:
        return u"/dav/addressbooks/"_s;
    case Kind::Home:
        return "/dav/addressbooks/"_L1 + encodeSegment(target.login) + u'/';
    case Kind::Collection:
        return "/dav/addressbooks/"_L1 + encodeSegment(target.login) + "/cards/"_L1;
    case Kind::Member:
        return "/dav/addressbooks/"_L1 + encodeSegment(target.login) + "/cards/"_L1 + encodeSegment(target.member);
    case Kind::None:
        break;
    }
    return {};
}

} // namespace dav
