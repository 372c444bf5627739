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

void record(db::IBQuery &q, const QString &step)
{
    q.close();
    q.setSql(QStringLiteral("INSERT INTO zentrax_upgrades (step, done_at) VALUES (:step, CURRENT_TIMESTAMP)"));
    q.setParam(QStringLiteral("step"), step);
    q.execute();
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
        // A new database has every step: recorded as made with it, once its
        // last objects (the indexes and triggers) are there.
        if (indexes) {
            for (const UpgradeStep &step : upgradeSteps())
                record(q, step.name);
            q.close();
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
        createIndexes(path);
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

const QList<UpgradeStep> &upgradeSteps()
{
    static const QList<UpgradeStep> steps = {
        {QStringLiteral("login_unique"), QStringLiteral("уникальный индекс логинов пользователей"),
         QStringLiteral("база данных сама не даст двум пользователям один логин, какой бы программой их ни "
                        "заводили")},
        {QStringLiteral("change_log"), QStringLiteral("журнал изменённых карточек (таблица и триггер)"),
         QStringLiteral("быстрый «Поиск с произвольной позиции» по памяти вместо чтения всей базы")},
        {QStringLiteral("change_log_guard"),
         QStringLiteral("отметка в журнале, когда его триггер выключают или включают (триггер на изменение схемы)"),
         QStringLiteral("изменения, сделанные инструментами при выключенном журнале, тоже находятся поиском")},
        {QStringLiteral("change_log_index"), QStringLiteral("индекс журнала изменённых карточек"),
         QStringLiteral("«Поиск с произвольной позиции» читает из журнала только новые изменения, а не весь журнал "
                        "на каждую нажатую клавишу")},
        {QStringLiteral("change_events"),
         QStringLiteral("оповещение открытых копий программы о каждом изменении карточек (триггер журнала)"),
         QStringLiteral("список у всех пользователей обновляется сразу после сохранения карточки, без опроса базы "
                        "каждую секунду")},
        {QStringLiteral("distinct_cards"), QStringLiteral("таблица карточек, отмеченных как «Не дубликаты»"),
         QStringLiteral("поиск дубликатов запоминает, какие похожие карточки — разные люди")},
        {QStringLiteral("carddav"),
         QStringLiteral("таблицы сервера CardDAV: изменения карточек для синхронизации (таблица и триггеры), пароли "
                        "устройств и адрес сервера"),
         QStringLiteral("телефоны и почтовые программы читают и изменяют карточки базы по CardDAV")},
    };
    return steps;
}

namespace {

// The objects each step makes, by the names schema.sql gives them.
QStringList objectsOf(const QString &step)
{
    if (step == QLatin1String("login_unique"))
        return {QStringLiteral("PERS_LOGIN_UNIQUE")};
    if (step == QLatin1String("change_log"))
        return {QStringLiteral("BASE_CHANGES"), QStringLiteral("BASE_CHANGED")};
    if (step == QLatin1String("change_log_guard"))
        return {QStringLiteral("BASE_CHANGED_GUARD")};
    if (step == QLatin1String("change_log_index"))
        return {QStringLiteral("BASE_CHANGES_TXN")};
    if (step == QLatin1String("change_events"))
        return {QStringLiteral("BASE_CHANGES_POSTED")};
    if (step == QLatin1String("distinct_cards"))
        return {QStringLiteral("ZENTRAX_DISTINCT")};
    if (step == QLatin1String("carddav"))
        return {QStringLiteral("CARDDAV_CARDS"),        QStringLiteral("CARDDAV_CARDS_HREF"),
                QStringLiteral("CARDDAV_CARDS_UID"),    QStringLiteral("CARDDAV_CARDS_TXN"),
                QStringLiteral("CARDDAV_BASE_CHANGED"), QStringLiteral("CARDDAV_ACCOUNTS_CHANGED"),
                QStringLiteral("CARDDAV_PASSWORDS"),    QStringLiteral("CARDDAV_PASSWORDS_LABEL"),
                QStringLiteral("CARDDAV_SETTINGS")};
    return {};
}

bool objectExists(db::IBQuery &q, const QString &name)
{
    return exists(q, QStringLiteral("SELECT 1 FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = '%1' UNION ALL "
                                    "SELECT 1 FROM RDB$INDICES WHERE RDB$INDEX_NAME = '%1' UNION ALL "
                                    "SELECT 1 FROM RDB$TRIGGERS WHERE RDB$TRIGGER_NAME = '%1'")
                         .arg(name));
}

} // namespace

QList<UpgradeStep> pendingUpgrade(db::IBDatabase &database)
{
    QList<UpgradeStep> out;
    db::IBTransaction t(&database, db::IBTransaction::Kind::Read);
    {
        db::IBQuery q(&database, &t);
        for (const UpgradeStep &s : upgradeSteps())
            for (const QString &o : objectsOf(s.name))
                if (!objectExists(q, o)) {
                    out << s;
                    break;
                }
    }
    t.commit();
    return out;
}

QString UpgradeReport::text() const
{
    QStringList lines;
    for (const UpgradeStep &s : upgradeSteps())
        if (done.contains(s.name))
            lines << QStringLiteral("Добавлено: %1.").arg(s.adds);
    if (!duplicates.isEmpty())
        lines << QStringLiteral("Уникальный индекс логинов не создан: логин %1 носят несколько пользователей. Дайте им "
                                "разные логины в «Управление пользователями» и обновите базу ещё раз.")
                     .arg(QStringLiteral("«") + duplicates.join(QStringLiteral("», «")) + QStringLiteral("»"));
    for (const QString &f : failed)
        lines << QStringLiteral("Не выполнено: %1").arg(f);
    if (lines.isEmpty())
        lines << QStringLiteral("База данных уже обновлена: добавлять нечего.");
    return lines.join(QLatin1Char('\r'));
}

UpgradeReport upgrade(db::IBDatabase &database)
{
    UpgradeReport report;
    // The record of the steps, first of all.
    step(database, [&](db::IBQuery &q) {
        if (!objectExists(q, QStringLiteral("ZENTRAX_UPGRADES"))) {
            q.setSql(statementMaking(QStringLiteral("zentrax_upgrades")));
            q.execute();
        }
    });
    for (const UpgradeStep &s : upgradeSteps()) {
        db::IBTransaction t(&database);
        db::IBQuery q(&database, &t);
        try {
            QStringList missing;
            for (const QString &o : objectsOf(s.name))
                if (!objectExists(q, o))
                    missing << o;
            if (missing.isEmpty()) {
                t.commit();
                continue;
            }
            if (s.name == QLatin1String("login_unique")) {
                // Grouped as the index compares them: trailing blanks do not count.
                q.setSql(QStringLiteral("SELECT MIN(login) AS held FROM pers WHERE login IS NOT NULL GROUP BY login "
                                        "HAVING COUNT(*) > 1 ORDER BY 1"));
                q.open();
                for (; !q.eof(); q.next())
                    report.duplicates << q.asText(QStringLiteral("held"));
                q.close();
                if (!report.duplicates.isEmpty()) {
                    t.rollback();
                    continue;
                }
            }
            for (const QString &o : missing) {
                q.close();
                q.setSql(statementMaking(o));
                q.execute();
                t.commit(); // a table is usable by a trigger only once committed
            }
            record(q, s.name);
            q.close();
            t.commit();
            report.done << s.name;
        } catch (const db::DbError &e) {
            t.rollback();
            report.failed << s.adds + QStringLiteral(": ") + e.text();
        }
    }
    return report;
}

void trimChangeLog(db::IBDatabase &database)
{
    step(database, [&](db::IBQuery &q) {
        if (objectExists(q, QStringLiteral("BASE_CHANGES")))
            clearChangeLog(q);
    });
}

} // namespace schema
