#include "testdb.h"

#include "db/schema.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QtTest>

namespace testdb {
namespace {
std::unique_ptr<QTemporaryDir> g_templateDir;
QString g_template;
}

void init()
{
    qputenv("FIREBIRD", QByteArray(ZENTRAX_PROGRAM_DIR) + "/firebird");
}

QString freshDatabase(const QString &dir, const QString &name)
{
    if (g_template.isEmpty()) {
        g_templateDir = std::make_unique<QTemporaryDir>();
        g_template = g_templateDir->filePath(QStringLiteral("template.fdb"));
        schema::createDatabase(g_template);
    }
    const QString path = QDir(dir).filePath(name);
    QFile::remove(path);
    if (!QFile::copy(g_template, path))
        qFatal("cannot copy the template database to %s", qPrintable(path));
    QFile(path).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return path;
}

void exec(const QString &path, const QString &statements)
{
    db::IBDatabase d;
    d.databaseName = path;
    d.open();
    db::IBTransaction t(&d);
    {
        db::IBQuery q(&d, &t);
        for (const QString &s : statements.split(QStringLiteral(";\n"), Qt::SkipEmptyParts)) {
            if (s.trimmed().isEmpty())
                continue;
            q.setSql(s.trimmed());
            q.execute();
            t.commit();
        }
    }
    d.close();
}

Peek::Peek(const QString &path)
{
    d.databaseName = path;
    d.open();
}

QString Peek::value(const QString &select)
{
    q.setSql(select);
    q.open();
    const QString v = q.eof() ? QString() : q.asText(0);
    t.commit();
    return v;
}

int Peek::count(const QString &select)
{
    q.setSql(select);
    q.open();
    q.last();
    const int n = q.recordCount();
    t.commit();
    return n;
}

} // namespace testdb
