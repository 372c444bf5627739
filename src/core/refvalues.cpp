#include "refvalues.h"

#include "db/access.h"
#include "db/cp1251.h"
#include "refbook.h"

namespace core {

QStringList RefValues::list(sql::Ref ref)
{
    db::Rows rows = m_db.read(sql::selectRefAll(ref));
    QStringList out;
    const int col = rows.column(QLatin1String(sql::refTable(ref).column));
    while (rows.next()) {
        const QString v = rows.text(col);
        if (!v.isEmpty())
            out << v;
    }
    return out;
}

bool RefValues::contains(sql::Ref ref, const QString &text)
{
    return m_db.read(sql::selectRefExact(ref), {{QStringLiteral("v"), cp1251::upper(text)}}).next();
}

void RefValues::add(sql::Ref ref, const QString &text)
{
    RefBook(m_db, ref).insert(text);
}

bool RefValues::save(const QString &work, const QString &dep, const QString &post)
{
    const QString texts[] = {work, dep, post};
    bool orgAdded = false;
    for (int i = 0; i < 3; ++i) {
        const sql::Ref ref = sql::kRefs[i];
        if (contains(ref, texts[i]))
            continue;
        add(ref, texts[i]);
        orgAdded = orgAdded || ref == sql::Ref::Organization;
    }
    return orgAdded;
}

} // namespace core
