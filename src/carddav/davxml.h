#pragma once
// The XML of WebDAV both ways: a request body read into a small tree (no
// DOCTYPE, so no entity is ever declared or expanded), and responses written
// through QXmlStreamWriter into pieces the glue sends as they fill.

#include <QByteArray>
#include <QString>
#include <QXmlStreamAttributes>
#include <QXmlStreamWriter>

#include <functional>
#include <vector>

namespace dav {

inline const QString kDavNs = QStringLiteral("DAV:");
inline const QString kCardNs = QStringLiteral("urn:ietf:params:xml:ns:carddav");
inline const QString kCsNs = QStringLiteral("http://calendarserver.org/ns/");

struct Element
{
    QString ns;
    QString name;
    QXmlStreamAttributes attributes;
    QString text; // the character data directly inside, as read
    std::vector<Element> children;

    bool is(const QString &nsUri, const QString &localName) const { return name == localName && ns == nsUri; }
    // The first child of that name; nullptr when none.
    const Element *child(const QString &nsUri, const QString &localName) const;
    // An attribute without a namespace; empty when absent.
    QString attribute(const QString &localName) const;
};

// Reads a request body. False, with a reason, when it is not well formed,
// has a DOCTYPE, or nests deeper than any DAV request does.
bool parseXml(const QByteArray &data, Element &root, QString *error);

// "HTTP/1.1 404 Not Found"
QString statusLine(int status);
QByteArray reasonPhrase(int status);

// Writes a document's root element with the three namespaces declared on it,
// so every element below uses the short prefixes d:, card: and cs:.
void startRoot(QXmlStreamWriter &w, const QString &ns, const QString &name);

// A whole small document: <d:error> holding one precondition element, with
// `inner` writing what goes inside that element.
QByteArray errorDocument(const QString &ns, const QString &name,
                         const std::function<void(QXmlStreamWriter &)> &inner = {});

// A streamed <d:multistatus>: `step` writes the next responses and returns
// false when it has written the last; the producer hands out the text in
// pieces of about 64 KB.
std::function<QByteArray()> multistatus(std::function<bool(QXmlStreamWriter &)> step);

} // namespace dav
