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

} // namespace schema
