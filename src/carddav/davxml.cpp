#include "davxml.h"

#include <QIODevice>
#include <QXmlStreamReader>

#include <memory>

namespace dav {

namespace {

constexpr int kMaxDepth = 32;          // a filter nests 4 deep; more is an attack
constexpr qsizetype kPiece = 64 << 10; // bytes handed to the glue at once

// The writer's output, taken out piece by piece.
class Sink : public QIODevice
{
public:
    Sink() { open(QIODevice::WriteOnly); }
    bool isSequential() const override { return true; }
    QByteArray take() { return std::exchange(m_data, QByteArray()); }
    qsizetype pending() const { return m_data.size(); }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 len) override
    {
        m_data.append(data, len);
        return len;
    }

private:
    QByteArray m_data;
};

struct Stream
{
    Sink sink;
    QXmlStreamWriter w{&sink};
    std::function<bool(QXmlStreamWriter &)> step;
    bool started = false;
    bool finished = false;
};

} // namespace

const Element *Element::child(const QString &nsUri, const QString &localName) const
{
    for (const Element &c : children)
        if (c.is(nsUri, localName))
            return &c;
    return nullptr;
}

QString Element::attribute(const QString &localName) const
{
    for (const QXmlStreamAttribute &a : attributes)
        if (a.namespaceUri().isEmpty() && a.name() == localName)
            return a.value().toString();
    return {};
}

bool parseXml(const QByteArray &data, Element &root, QString *error)
{
    QXmlStreamReader r(data);
    // The few names and namespaces a request uses, each kept once and shared
    // by every element that has it (the first few dozen: a body of made-up
    // names must not make the look-up slow).
    std::vector<QString> names;
    auto shared = [&names](QStringView v) {
        for (const QString &n : names)
            if (n == v)
                return n;
        if (names.size() < 64)
            names.push_back(v.toString());
        return v.toString();
    };
    std::vector<Element *> open; // the elements not yet ended, innermost last
    bool seenRoot = false;
    while (!r.atEnd()) {
        switch (r.readNext()) {
        case QXmlStreamReader::DTD:
            *error = QStringLiteral("a DOCTYPE is not accepted");
            return false;
        case QXmlStreamReader::EntityReference:
            *error = QStringLiteral("an undeclared entity");
            return false;
        case QXmlStreamReader::StartElement: {
            if (open.size() >= size_t(kMaxDepth)) {
                *error = QStringLiteral("elements nested too deep");
                return false;
            }
            Element *e = &root;
            if (!open.empty()) {
                open.back()->children.emplace_back();
                e = &open.back()->children.back();
            } else if (seenRoot) {
                break; // the reader reports a second root as an error
            }
            seenRoot = true;
            e->ns = shared(r.namespaceUri());
            e->name = shared(r.name());
            // Copied only when there are any: a copy of the reader's list
            // would keep its whole reserve (a multiget of 100,000 hrefs held
            // 160 MB so).
            if (const QXmlStreamAttributes &a = r.attributes(); !a.isEmpty())
                for (const QXmlStreamAttribute &one : a)
                    e->attributes.append(one);
            open.push_back(e);
            break;
        }
        case QXmlStreamReader::EndElement:
            open.pop_back();
            break;
        case QXmlStreamReader::Characters:
            if (!open.empty() && !r.isWhitespace())
                open.back()->text += r.text();
            break;
        default:
            break;
        }
    }
    if (r.hasError()) {
        *error = r.errorString();
        return false;
    }
    if (!seenRoot) {
        *error = QStringLiteral("no element");
        return false;
    }
    return true;
}

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 201:
        return "Created";
    case 204:
        return "No Content";
    case 207:
        return "Multi-Status";
    case 301:
        return "Moved Permanently";
    case 304:
        return "Not Modified";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 409:
        return "Conflict";
    case 412:
        return "Precondition Failed";
    case 413:
        return "Content Too Large";
    case 415:
        return "Unsupported Media Type";
    case 424:
        return "Failed Dependency";
    case 501:
        return "Not Implemented";
    case 507:
        return "Insufficient Storage";
    default:
        return "Unknown";
    }
}

QString statusLine(int status)
{
    return QStringLiteral("HTTP/1.1 %1 %2").arg(status).arg(QLatin1String(reasonPhrase(status)));
}

void startRoot(QXmlStreamWriter &w, const QString &ns, const QString &name)
{
    w.writeNamespace(kDavNs, QStringLiteral("d"));
    w.writeNamespace(kCardNs, QStringLiteral("card"));
    w.writeNamespace(kCsNs, QStringLiteral("cs"));
    w.writeStartElement(ns, name);
}

QByteArray errorDocument(const QString &ns, const QString &name, const std::function<void(QXmlStreamWriter &)> &inner)
{
    QByteArray out;
    QXmlStreamWriter w(&out);
    w.writeStartDocument();
    startRoot(w, kDavNs, QStringLiteral("error"));
    w.writeStartElement(ns, name);
    if (inner)
        inner(w);
    w.writeEndElement();
    w.writeEndElement();
    w.writeEndDocument();
    return out;
}

std::function<QByteArray()> multistatus(std::function<bool(QXmlStreamWriter &)> step)
{
    auto s = std::make_shared<Stream>();
    s->step = std::move(step);
    return [s]() {
        if (!s->started) {
            s->started = true;
            s->w.writeStartDocument();
            startRoot(s->w, kDavNs, QStringLiteral("multistatus"));
        }
        while (!s->finished && s->sink.pending() < kPiece) {
            if (!s->step(s->w)) {
                s->finished = true;
                s->w.writeEndElement();
                s->w.writeEndDocument();
                s->step = nullptr; // the book's cursors go as soon as they are read out
            }
        }
        return s->sink.take();
    };
}

} // namespace dav
