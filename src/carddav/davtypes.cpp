#include "davtypes.h"

namespace dav {

namespace {

bool sameName(const QByteArray &a, const QByteArray &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

QByteArray Headers::value(const QByteArray &name) const
{
    for (const auto &[n, v] : m_fields)
        if (sameName(n, name))
            return v;
    return {};
}

bool Headers::contains(const QByteArray &name) const
{
    for (const auto &field : m_fields)
        if (sameName(field.first, name))
            return true;
    return false;
}

void Headers::set(const QByteArray &name, const QByteArray &value)
{
    m_fields.removeIf([&](const auto &field) { return sameName(field.first, name); });
    m_fields.append({name, value});
}

void Headers::add(const QByteArray &name, const QByteArray &value)
{
    m_fields.append({name, value});
}

void Response::setBody(const QByteArray &data, const QByteArray &contentType)
{
    headers.set("Content-Type", contentType);
    headers.set("Content-Length", QByteArray::number(data.size()));
    body = [data, sent = false]() mutable {
        if (sent)
            return QByteArray();
        sent = true;
        return data;
    };
}

QByteArray Response::readAll()
{
    QByteArray out;
    if (!body)
        return out;
    for (QByteArray piece = body(); !piece.isEmpty(); piece = body())
        out += piece;
    return out;
}

} // namespace dav
