#pragma once
// One reference book (posts, departments or organizations) as its list
// window and its editor use it: the values containing a search text, and
// the changes, each committed at once.

#include "db/statements.h"

#include <QList>
#include <QString>

namespace db {
class Access;
}

namespace core {

struct RefRow
{
    qint64 id = 0; // pk_id
    QString value;
    bool operator==(const RefRow &) const = default;
};

class RefBook
{
public:
    RefBook(db::Access &db, sql::Ref ref) : m_db(db), m_ref(ref) {}

    // "%", the text upper-cased by the Windows-1251 rules, "%": the value
    // contains the text anywhere, without regard to case. "%" and "_" typed
    // by the user stay wildcards.
    static QString searchPattern(const QString &text);
    // The values containing `text`, in the book's alphabetical order. A text
    // the database cannot compare is refused (db::DbError) before anything runs.
    QList<RefRow> find(const QString &text);

    // An editor stores any text but the empty one; blanks alone are a value.
    static bool storable(const QString &value) { return !value.isEmpty(); }
    // Why `value` cannot be stored in the book's column (a character outside
    // Windows-1251, too long), worded with `field`; empty when it can.
    QString valueProblem(const QString &field, const QString &value);

    void insert(const QString &value);
    // Only while the stored value is still `loaded` (else a DbError of kind
    // Conflict, nothing stored). False when no row has that id any more
    // (deleted meanwhile).
    bool update(qint64 id, const QString &value, const QString &loaded);
    void remove(qint64 id);

private:
    db::Access &m_db;
    sql::Ref m_ref;
};

} // namespace core
