#pragma once
// Responses of the server read back for the tests: a multistatus into its
// responses and their properties, an error body into its precondition.
// Names are written "{namespace}local".

#include <QMap>
#include <QStringList>
#include <QXmlStreamReader>

struct PropValue
{
    int status = 0;       // of its propstat
    QString text;         // character data anywhere inside
    QStringList elements; // every element inside, in order
};

struct DavResponse
{
    QString href;
    int status = 0; // a response's own status (404 for a deleted card); 0 when propstats
    QMap<QString, PropValue> props;
    QString error; // the first element inside its <d:error>
};

struct Multistatus
{
    QString problem; // empty when the body is a well-formed multistatus
    QList<DavResponse> responses;
    QString syncToken;

    const DavResponse *find(const QString &href) const
    {
        for (const DavResponse &r : responses)
            if (r.href == href)
                return &r;
        return nullptr;
    }
    QStringList hrefs() const
    {
        QStringList out;
        for (const DavResponse &r : responses)
            out << r.href;
        return out;
    }
};

inline QString qualified(const QXmlStreamReader &r)
{
    return u'{' + r.namespaceUri().toString() + u'}' + r.name().toString();
}

inline int statusCode(const QString &line)
{
    return line.trimmed().section(u' ', 1, 1).toInt();
}

inline Multistatus readMultistatus(const QByteArray &xml)
{
    Multistatus ms;
    QXmlStreamReader r(xml);
    QStringList path; // the open elements
    DavResponse *resp = nullptr;
    QList<QString> propstatProps; // names of the current propstat
    QString prop;                 // the property being read
    QString text;
    const QString d = QStringLiteral("{DAV:}");
    while (!r.atEnd()) {
        const auto token = r.readNext();
        if (token == QXmlStreamReader::StartElement) {
            const QString name = qualified(r);
            if (path.isEmpty() && name != d + QStringLiteral("multistatus"))
                ms.problem = QStringLiteral("root is ") + name;
            if (name == d + QStringLiteral("response") && path.size() == 1) {
                ms.responses.append(DavResponse{});
                resp = &ms.responses.last();
            } else if (resp && path.size() == 4 && path.last() == d + QStringLiteral("prop")) {
                prop = name;
                resp->props[prop] = {};
                propstatProps << prop;
            } else if (resp && !prop.isEmpty()) {
                resp->props[prop].elements << name;
            } else if (resp && path.size() == 3 && path.last() == d + QStringLiteral("error")) {
                resp->error = name;
            }
            path << name;
            text.clear();
        } else if (token == QXmlStreamReader::Characters) {
            text += r.text();
            if (resp && !prop.isEmpty())
                resp->props[prop].text += r.text();
        } else if (token == QXmlStreamReader::EndElement) {
            const QString name = path.takeLast();
            if (name == prop && path.size() == 4)
                prop.clear();
            else if (resp && name == d + QStringLiteral("href") && path.size() == 2)
                resp->href = text.trimmed();
            else if (resp && name == d + QStringLiteral("status") && path.size() == 2)
                resp->status = statusCode(text);
            else if (resp && name == d + QStringLiteral("status") && path.size() == 3)
                for (const QString &p : std::as_const(propstatProps))
                    resp->props[p].status = statusCode(text);
            else if (name == d + QStringLiteral("propstat"))
                propstatProps.clear();
            else if (name == d + QStringLiteral("sync-token") && path.size() == 1)
                ms.syncToken = text.trimmed();
        }
    }
    if (r.hasError())
        ms.problem = r.errorString();
    return ms;
}

// The precondition of a <d:error> body, "{ns}name"; empty when none.
inline QString errorOf(const QByteArray &xml)
{
    QXmlStreamReader r(xml);
    int depth = 0;
    while (!r.atEnd()) {
        if (r.readNext() == QXmlStreamReader::StartElement) {
            if (++depth == 2)
                return qualified(r);
        } else if (r.isEndElement()) {
            --depth;
        }
    }
    return {};
}

// Every element inside the precondition and their text, for the href of a conflict.
inline QString errorText(const QByteArray &xml)
{
    QXmlStreamReader r(xml);
    QString out;
    while (!r.atEnd())
        if (r.readNext() == QXmlStreamReader::Characters)
            out += r.text();
    return out.trimmed();
}
