#pragma once
// The CardDAV server without its sockets: one request in, one response out,
// the body of a long answer produced while the glue sends it. It serves one
// address book collection, the same cards to every user, under each user's
// own home (see paths.h).
//
// The book's exceptions pass through handle() and through the body
// producer; the glue answers 500 to the first and ends the connection on
// the second. The server keeps no state between requests; calls from
// several threads are as safe as the book is.

#include "book.h"
#include "davtypes.h"
#include "davxml.h"
#include "paths.h"

namespace dav {

class Server
{
public:
    explicit Server(Book &book) : m_book(book) {}

    Response handle(const Request &request);
    // How long to hold a request before it is handled: after wrong passwords
    // for its login or from its address. Never for one without credentials
    // (every client's first request).
    qint64 waitBefore(const QByteArray &authorization, const QString &peer);

private:
    struct Call
    {
        const Request &request;
        const User &user;
        const Target &target;
    };

    Response dispatch(const Call &c);
    Response get(const Call &c, bool head);
    Response put(const Call &c);
    Response remove(const Call &c);
    Response proppatch(const Call &c);

    // propfind.cpp
    Response propfind(const Call &c);

    // report.cpp
    Response report(const Call &c);
    Response multiget(const Call &c, const Element &root);
    Response query(const Call &c, const Element &root);
    Response syncCollection(const Call &c, const Element &root);

    Book &m_book;
};

} // namespace dav
