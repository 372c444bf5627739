#include "refvalues.h"

#include "db/cp1251.h"
#include "db/shared.h"
#include "refbook.h"

namespace core {

QStringList RefValues::list(sql::Ref ref)
{
    db::IBQuery &q = m_db.iRead;
    q.close();
    q.setSql(sql::selectRefAll(ref));
    q.open();
    QStringList out;
    const int col = q.fieldIndex(QLatin1String(sql::refTable(ref).column));
    for (; !q.eof(); q.next()) {
        const QString v = q.asText(col);
        if (!v.isEmpty())
            out << v;
    }
    q.close();
    return out;
}

bool RefValues::contains(sql::Ref ref, const QString &text)
{
    db::IBQuery &q = m_db.iRead;
    q.close();
    q.setSql(sql::selectRefExact(ref));
    q.setParam(QStringLiteral("v"), cp1251::upper(text));
    q.open();
    q.last();
    const bool found = q.recordCount() > 0;
    q.close();
    return found;
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
