#pragma once
// The values of the three reference books (organizations, departments,
// posts) as the card uses them: its drop-down lists, and the values a saved
// card adds when its book does not hold them yet.

#include "db/statements.h"

#include <QString>
#include <QStringList>

namespace db {
class Access;
}

namespace core {

class RefValues
{
public:
    explicit RefValues(db::Access &db) : m_db(db) {}

    // The book's values that are not empty, in the order the database gives them.
    QStringList list(sql::Ref ref);
    // Whether the book holds `text`, compared without regard to letter case.
    bool contains(sql::Ref ref, const QString &text);
    // Adds `text` as typed and commits.
    void add(sql::Ref ref, const QString &text);

    // A saved card's work place, department and post, each added to its book
    // when the book lacks it. True when an organization was added.
    bool save(const QString &work, const QString &dep, const QString &post);

private:
    db::Access &m_db;
};

} // namespace core
