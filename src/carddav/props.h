#pragma once
// The properties of the server's resources as PROPFIND and the reports
// answer them: which a resource has, their values, and the <d:response>
// that holds the asked ones in a 200 propstat and the unknown in a 404 one.

#include "book.h"
#include "davxml.h"
#include "paths.h"

#include <QList>
#include <QString>

#include <optional>

namespace dav {

struct PropName
{
    QString ns;
    QString name;
    bool operator==(const PropName &) const = default;
};

struct PropRequest
{
    enum Mode { AllProp, PropNames, Props };
    Mode mode = AllProp;
    QList<PropName> names; // Props: those asked; AllProp: those of <d:include>

    // From the <d:prop>, <d:propname> or <d:allprop> below `parent`; none of
    // them is allprop.
    void read(const Element &parent);
    bool asks(const QString &ns, const QString &name) const;
};

// The sync token on the wire: the book's token made a URI (RFC 6578 §4), and back.
QString tokenUri(const QString &bookToken);
std::optional<QString> bookToken(const QString &uri);

// What the properties of one request are made of: the user, and what the
// book says only when a property needs it, asked once per request.
class PropContext
{
public:
    PropContext(Book &book, const User &user) : m_book(book), m_user(user) {}
    Book &book() { return m_book; }
    const User &user() const { return m_user; }
    QString syncToken(); // as a URI
    Rights rights();

private:
    Book &m_book;
    User m_user;
    std::optional<QString> m_token;
    std::optional<Rights> m_rights;
};

// One <d:response> for `target`. A member's `card` gives its tag, and its
// text when the report asked for address-data; `href` replaces the
// target's own (a multiget answers each href as the client spelled it).
void writeResponse(QXmlStreamWriter &w, PropContext &ctx, const Target &target, const PropRequest &request,
                   const FetchedCard *card = nullptr, const QString &href = {});
// A <d:response> with a status only: a deleted card, an unknown href.
void writeStatusResponse(QXmlStreamWriter &w, const QString &href, int status);

} // namespace dav
