#pragma once
// What the CardDAV server's users are told, kept in the database so that
// every copy of the program shows the same: the server's address for phones
// and mail programs, as the administrator set it.

#include <QString>

namespace db {
class Access;
}

namespace davdb {

class DavSettings
{
public:
    static constexpr int kLongestAddress = 400;

    explicit DavSettings(db::Access &db) : m_db(db) {}

    // Whether the database keeps the settings (it has been upgraded).
    bool kept();
    // Whether it keeps device passwords.
    bool passwordsKept();

    // The address; empty when none is set or the settings are not kept.
    QString address();
    // Stores `text`, trimmed, as the address; an empty text clears it.
    // Throws a DbError saying in Russian what is wrong with it, or that the
    // database keeps no settings.
    void setAddress(const QString &text);

    // What is wrong with `text` as the server's address, in Russian; empty
    // when it is one (http or https, a host, nothing else to type).
    static QString addressProblem(const QString &text);

private:
    bool tableExists(const QString &name);

    db::Access &m_db;
};

} // namespace davdb
