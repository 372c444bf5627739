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
        if (t.endsWith(QLatin1Char(';'))) {
            current = current.trimmed();
            current.chop(1);
            out << current;
            current.clear();
        }
    }
    return out;
}

namespace {

bool isIndex(const QString &statement)
{
    return statement.startsWith(QLatin1String("CREATE INDEX"), Qt::CaseInsensitive);
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

QStringList upgrade(db::IBDatabase &database)
{
    db::IBTransaction t(&database);
    db::IBQuery q(&database, &t);
    QStringList duplicates;
    try {
        q.setSql(QStringLiteral("SELECT 1 FROM RDB$INDICES WHERE RDB$INDEX_NAME = 'PERS_LOGIN_UNIQUE'"));
        q.open();
        const bool done = !q.eof();
        q.close();
        if (done)
            return duplicates;
        // Grouped as the index compares them: trailing blanks do not count.
        q.setSql(QStringLiteral("SELECT MIN(login) AS held FROM pers WHERE login IS NOT NULL GROUP BY login "
                                "HAVING COUNT(*) > 1 ORDER BY 1"));
        q.open();
        for (; !q.eof(); q.next())
            duplicates << q.asText(QStringLiteral("held"));
        q.close();
        if (duplicates.isEmpty()) {
            q.setSql(QStringLiteral("CREATE UNIQUE INDEX pers_login_unique ON pers (login)"));
            q.execute();
        }
        t.commit();
    } catch (const db::DbError &) {
        t.rollback(); // tried again at the next start
    }
    return duplicates;
}

} // namespace schema
