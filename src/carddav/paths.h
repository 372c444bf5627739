#pragma once
// The server's URL layout:
//   /dav/                                   the service root
//   /dav/principals/<login>/                a user's principal
//   /dav/addressbooks/<login>/              his address book home
//   /dav/addressbooks/<login>/cards/        the one collection of cards
//   /dav/addressbooks/<login>/cards/<name>  a card
// Paths here are decoded; hrefs are what goes into XML and headers, each
// segment percent-encoded.

#include <QString>

namespace dav {

enum class Kind { None, Root, Service, Principals, Principal, Homes, Home, Collection, Member };

struct Target
{
    Kind kind = Kind::None;
    QString login;  // Principal, Home, Collection, Member
    QString member; // Member: the card's name
};

// What a decoded path names; a collection's trailing slash may be missing.
Target resolve(const QString &path);
// The decoded path of an href from a request body: an absolute URL or a
// path, percent-encoded.
QString pathOfHref(const QString &href);

// The encoded href of a target; a collection's ends in a slash.
QString hrefOf(const Target &target);
inline QString principalHref(const QString &login)
{
    return hrefOf({Kind::Principal, login, {}});
}
inline QString homeHref(const QString &login)
{
    return hrefOf({Kind::Home, login, {}});
}
inline QString collectionHref(const QString &login)
{
    return hrefOf({Kind::Collection, login, {}});
}
inline QString memberHref(const QString &login, const QString &member)
{
    return hrefOf({Kind::Member, login, member});
}

} // namespace dav
