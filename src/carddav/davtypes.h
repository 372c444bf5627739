#pragma once
// An HTTP request as the server's glue hands it over, and the response it
// gets back: the status, the headers and a body made piece by piece, so a
// listing of every card is written while it is sent, never held whole.

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <functional>

namespace dav {

// The largest card a PUT stores (the collection's max-resource-size), and the
// largest request body read at all: a multiget of every card fits.
inline constexpr qsizetype kMaxCardSize = 1 << 20;
inline constexpr qsizetype kMaxBodySize = 16 << 20;

// Header fields in their order; names compare without regard to case.
class Headers
{
public:
    // The first field of that name; empty when none.
    QByteArray value(const QByteArray &name) const;
    bool contains(const QByteArray &name) const;
    // Replaces every field of that name.
    void set(const QByteArray &name, const QByteArray &value);
    // Another field, even when one of that name is there.
    void add(const QByteArray &name, const QByteArray &value);
    const QList<QPair<QByteArray, QByteArray>> &fields() const { return m_fields; }

private:
    QList<QPair<QByteArray, QByteArray>> m_fields;
};

struct Request
{
    QByteArray method; // as sent: PROPFIND, REPORT, GET...
    QString path;      // the URL's path, percent-decoded, without the query
    Headers headers;
    QByteArray body;
    QString peer; // the client's address, for the delays after wrong passwords
};

struct Response
{
    int status = 200;
    Headers headers;
    // The body's next piece, called until it returns an empty one. Unset:
    // no body. A streamed body has no Content-Length; the glue sends it chunked.
    std::function<QByteArray()> body;
    // Why a request was refused, in a few words for the server's log; never sent.
    QString note;

    // A body known whole: one piece, its length and type in the headers.
    void setBody(const QByteArray &data, const QByteArray &contentType);
    // Every piece still to come, joined (tests and small answers).
    QByteArray readAll();
};

} // namespace dav
