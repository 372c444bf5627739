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
} // namespace

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

void addUser(const QString &path, const QString &fio, const QString &login, const QString &pass, const QString &level)
{
    db::IBDatabase d;
    d.databaseName = path;
    d.open();
    db::IBTransaction t(&d);
    {
        db::IBQuery q(&d, &t);
        q.setSql(QStringLiteral("INSERT INTO pers (fio, login, pass, level) VALUES (:fio, :login, :pass, :level)"));
        q.setParam(QStringLiteral("fio"), fio);
        q.setParam(QStringLiteral("login"), login);
        if (pass.isNull())
            q.setParamNull(QStringLiteral("pass"));
        else
            q.setParam(QStringLiteral("pass"), pass);
        q.setParam(QStringLiteral("level"), level);
        q.execute();
        t.commit();
    }
    d.close();
}

void addCards(const QString &path, int count, const std::function<QList<QPair<QString, QString>>(int)> &make)
{
    db::IBDatabase d;
    d.databaseName = path;
    d.open();
    db::IBTransaction t(&d);
    for (int i = 0; i < count; ++i) {
        const QList<QPair<QString, QString>> columns = make(i);
        db::IBQuery q(&d, &t);
        QStringList names, params;
        for (const auto &c : columns) {
            names << c.first;
            params << QStringLiteral(":") + c.first;
        }
        q.setSql(QStringLiteral("INSERT INTO base (%1) VALUES (%2)")
                     .arg(names.join(QStringLiteral(", ")), params.join(QStringLiteral(", "))));
        for (const auto &c : columns) {
            if (c.second.isNull())
                q.setParamNull(c.first);
            else
                q.setParam(c.first, c.second);
        }
        q.execute();
    }
    t.commit();
    d.close();
}

qint64 addCard(const QString &path, const QList<QPair<QString, QString>> &columns)
{
    addCards(path, 1, [&](int) { return columns; });
    Peek peek(path);
    return peek.value(QStringLiteral("SELECT MAX(pk_id) FROM base")).toLongLong();
}

void open(SharedDb &s, const QString &path)
{
    s.IBDbase.databaseName = path;
    s.IBDbase.open();
}

QStringList values(const QString &path, const QString &table, const QString &column)
{
    return Peek(path).column(table, column);
}

SharedFixture::SharedFixture()
{
    path = freshDatabase(dir.path());
    open(s, path);
}

int SharedFixture::count(const QString &select) const
{
    return Peek(path).count(select);
}

QString SharedFixture::value(const QString &select) const
{
    return Peek(path).value(select);
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

QStringList Peek::column(const QString &table, const QString &name)
{
    q.setSql(QStringLiteral("SELECT %1 FROM %2 ORDER BY pk_id").arg(name, table));
    q.open();
    QStringList out;
    for (; !q.eof(); q.next())
        out << q.asText(0);
    t.commit();
    return out;
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
