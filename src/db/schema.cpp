#include "schema.h"
#include "ibase.h"

#include <QFile>

namespace schema {

QStringList statements()
{
    QFile f(QStringLiteral(":/db/schema.sql"));
    if (!f.open(QIODevice::ReadOnly))
        throw db::DbError(QStringLiteral("Схема базы данных не найдена в программе"));
    QStringList out;
    QString current;
    const QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const QString t = line.trimmed();
        if (t.startsWith(QLatin1String("--")) || t.isEmpty())
            continue;
        current += line + QLatin1Char('\n');
        // A trigger's body holds statements of its own: it ends with its END.
        const bool block = current.trimmed().startsWith(QLatin1String("CREATE TRIGGER"), Qt::CaseInsensitive);
        if (block ? t.compare(QLatin1String("END;"), Qt::CaseInsensitive) == 0 : t.endsWith(QLatin1Char(';'))) {
            current = current.trimmed();
            current.chop(1);
            out << current;
            current.clear();
        }
    }
    return out;
}

namespace {

// Indexes and triggers come after a bulk load: it is much faster without them,
// and the cards it makes are nobody's change.
bool isIndex(const QString &statement)
{
    return statement.startsWith(QLatin1String("CREATE INDEX"), Qt::CaseInsensitive) ||
           statement.startsWith(QLatin1String("CREATE TRIGGER"), Qt::CaseInsensitive);
}

// The statement of schema.sql that makes `name` (a table, index or trigger).
QString statementMaking(const QString &name)
{
    for (const QString &s : statements()) {
        const QStringList words = s.simplified().split(QLatin1Char(' '));
        if (words.size() > 2 && words.at(words.at(1).compare(QLatin1String("UNIQUE"), Qt::CaseInsensitive) ? 2 : 3)
                                        .compare(name, Qt::CaseInsensitive) == 0)
            return s;
    }
    throw db::DbError(QStringLiteral("В схеме нет объекта %1").arg(name));
}

void run(const QString &path, bool indexes)
{
    db::IBDatabase d;
    d.databaseName = path;
    d.open();
    db::IBTransaction t(&d);
    {
        db::IBQuery q(&d, &t);
        for (const QString &s : statements()) {
            if (isIndex(s) != indexes)
                continue;
            q.setSql(s);
            q.execute();
            t.commit();
        }
    }
    d.close();
}

} // namespace

void createDatabase(const QString &path, bool withIndexes)
{
    db::IBDatabase::create(path);
    run(path, false);
    if (withIndexes)
        run(path, true);
}

void createIndexes(const QString &path)
{
    run(path, true);
}

namespace {

bool exists(db::IBQuery &q, const QString &select)
{
    q.setSql(select);
    q.open();
    const bool found = !q.eof();
    q.close();
    return found;
}

// Runs one step of the upgrade in a unit of its own; a step the database
// refuses now (the table in use by an older copy, say) is tried at the next start.
template <typename F>
void step(db::IBDatabase &database, F &&work)
{
    db::IBTransaction t(&database);
    db::IBQuery q(&database, &t);
    try {
        work(q);
        q.close();
        t.commit();
    } catch (const db::DbError &) {
        t.rollback();
    }
}

} // namespace

void clearChangeLog(db::IBQuery &q)
{
    q.close();
    q.setSql(QStringLiteral("SELECT MON$OLDEST_ACTIVE - %1 AS below FROM MON$DATABASE").arg(kChangesKept));
    q.open();
    const qint64 below = q.asInt(QStringLiteral("below"));
    q.close();
    q.setSql(QStringLiteral("DELETE FROM base_changes WHERE txn < :below"));
    q.setParam(QStringLiteral("below"), below);
    q.execute();
    if (q.rowsAffected() == 0)
        return;
    q.close();
    q.setSql(QStringLiteral("INSERT INTO base_changes (txn, card) VALUES (:below, NULL)"));
    q.setParam(QStringLiteral("below"), below);
    q.execute();
}

QStringList upgrade(db::IBDatabase &database)
{
    QStringList duplicates;
    step(database, [&](db::IBQuery &q) {
        if (exists(q, QStringLiteral("SELECT 1 FROM RDB$INDICES WHERE RDB$INDEX_NAME = 'PERS_LOGIN_UNIQUE'")))
            return;
        // Grouped as the index compares them: trailing blanks do not count.
        q.setSql(QStringLiteral("SELECT MIN(login) AS held FROM pers WHERE login IS NOT NULL GROUP BY login "
                                "HAVING COUNT(*) > 1 ORDER BY 1"));
        q.open();
        for (; !q.eof(); q.next())
            duplicates << q.asText(QStringLiteral("held"));
        q.close();
        if (duplicates.isEmpty()) {
            q.setSql(statementMaking(QStringLiteral("pers_login_unique")));
            q.execute();
        }
    });
    // The log of changed cards, for the search of every copy.
    for (const char *name : {"BASE_CHANGES", "BASE_CHANGED"})
        step(database, [&](db::IBQuery &q) {
            const QString n = QLatin1String(name);
            if (exists(q, QStringLiteral("SELECT 1 FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = '%1' UNION ALL "
                                         "SELECT 1 FROM RDB$INDICES WHERE RDB$INDEX_NAME = '%1' UNION ALL "
                                         "SELECT 1 FROM RDB$TRIGGERS WHERE RDB$TRIGGER_NAME = '%1'")
                              .arg(n)))
                return;
            q.setSql(statementMaking(n));
            q.execute();
        });
    step(database, [&](db::IBQuery &q) {
        if (exists(q, QStringLiteral("SELECT 1 FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'BASE_CHANGES'")))
            clearChangeLog(q);
    });
    return duplicates;
}

} // namespace schema
