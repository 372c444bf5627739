// The reference books without their windows: search, changes and their
// commits, against real database files.

#include "core/refbook.h"
#include "db/shared.h"
#include "testdb.h"

#include <QtTest>

using namespace Qt::StringLiterals;
using core::RefBook;
using core::RefRow;

namespace {

using Db = testdb::SharedFixture;

const QStringList kOrganizations = {QStringLiteral("ООО \"РОМАШКА\""),
                                    QStringLiteral("АО Вектор"),
                                    QStringLiteral("O'Brien & Co"),
                                    QStringLiteral("ёлочная фабрика"),
                                    QStringLiteral("Банк 100%"),
                                    QStringLiteral("ЖЭК_5"),
                                    QStringLiteral("жэк-7")};

QStringList valuesOf(const QList<RefRow> &rows)
{
    QStringList out;
    for (const RefRow &r : rows)
        out << r.value;
    return out;
}

} // namespace

class TestRefBook : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { testdb::init(); }

    void find_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("found");
        QTest::newRow("everything, alphabetical")
            << "" << QStringList{u"O'Brien & Co"_s, u"АО Вектор"_s, u"Банк 100%"_s,      u"ёлочная фабрика"_s,
                                 u"жэк-7"_s,        u"ЖЭК_5"_s,     u"ООО \"РОМАШКА\""_s};
        QTest::newRow("lower case finds capitals") << "ромашка" << QStringList{u"ООО \"РОМАШКА\""_s};
        QTest::newRow("middle of the name") << "ект" << QStringList{u"АО Вектор"_s};
        QTest::newRow("ё upper-cased") << "ЁЛОЧ" << QStringList{u"ёлочная фабрика"_s};
        QTest::newRow("latin, any case") << "o'bRIEN" << QStringList{u"O'Brien & Co"_s};
        QTest::newRow("a quote is text") << "'" << QStringList{u"O'Brien & Co"_s};
        QTest::newRow("a double quote is text") << "\"" << QStringList{u"ООО \"РОМАШКА\""_s};
        QTest::newRow("underscore is any character") << "жэк_" << QStringList{u"жэк-7"_s, u"ЖЭК_5"_s};
        QTest::newRow("percent is any run") << "а%ф" << QStringList{u"ёлочная фабрика"_s};
        QTest::newRow("nothing") << "Гамма" << QStringList{};
        QTest::newRow("sql as a value") << "' OR '1'='1" << QStringList{};
    }
    void find()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, found);
        Db d;
        QStringList inserts;
        for (const QString &v : kOrganizations)
            inserts << QStringLiteral("INSERT INTO organization (org) VALUES ('%1')")
                           .arg(QString(v).replace(u"'"_s, u"''"_s));
        testdb::exec(d.path, inserts.join(QStringLiteral(";\n")));
        const QList<RefRow> rows = RefBook(d.s.access, sql::Ref::Organization).find(text);
        QCOMPARE(valuesOf(rows), found);
        // Each row carries the id of its own value.
        for (const RefRow &r : rows)
            QCOMPARE(kOrganizations.indexOf(r.value) + 1, r.id);
        QVERIFY(!d.s.IBTrans.active()); // nothing written
        // The other books are not searched.
        QVERIFY(RefBook(d.s.access, sql::Ref::Post).find(text).isEmpty());
    }

    // Every change is committed at once, as typed, in its own book only.
    void changesAreCommittedAtOnce()
    {
        Db d;
        testdb::exec(d.path, QStringLiteral("INSERT INTO post (post) VALUES ('Инженер');\n"
                                            "INSERT INTO department (dep) VALUES ('Бухгалтерия');\n"
                                            "INSERT INTO organization (org) VALUES ('АО Вектор')"));
        RefBook posts(d.s.access, sql::Ref::Post);
        posts.insert(QStringLiteral("  "));
        posts.insert(QStringLiteral("O'Neil \"старший\""));
        posts.insert(QStringLiteral("инженер"));
        QCOMPARE(d.values(u"post"_s, u"post"_s),
                 (QStringList{u"Инженер"_s, u"  "_s, u"O'Neil \"старший\""_s, u"инженер"_s}));
        QVERIFY(posts.update(1, QStringLiteral("Главный инженер "), QStringLiteral("Инженер")));
        QVERIFY(!posts.update(99, QStringLiteral("никто"), QString()));
        // A value changed by a colleague since it was shown is not written over.
        QVERIFY_THROWS_EXCEPTION(db::DbError, posts.update(1, QStringLiteral("Мой"), QStringLiteral("Инженер")));
        QCOMPARE(d.values(u"post"_s, u"post"_s).first(), QStringLiteral("Главный инженер "));
        QCOMPARE(d.values(u"post"_s, u"post"_s).size(), 4);

        // Each book deletes through its own query: id 1 goes from that book alone.
        RefBook(d.s.access, sql::Ref::Department).remove(1);
        QCOMPARE(d.values(u"department"_s, u"dep"_s), QStringList{});
        QCOMPARE(d.values(u"post"_s, u"post"_s).size(), 4);
        QCOMPARE(d.values(u"organization"_s, u"org"_s), QStringList{u"АО Вектор"_s});
        RefBook(d.s.access, sql::Ref::Organization).remove(1);
        QCOMPARE(d.values(u"organization"_s, u"org"_s), QStringList{});
        posts.remove(3);
        QCOMPARE(d.values(u"post"_s, u"post"_s), (QStringList{u"Главный инженер "_s, u"  "_s, u"инженер"_s}));
        posts.remove(3); // already gone: nothing happens
        QVERIFY(!d.s.IBTrans.active());
    }

    // What cannot be searched or stored is refused, and leaves nothing that a later commit would store.
    void refusalsLeaveNothing()
    {
        Db d;
        RefBook deps(d.s.access, sql::Ref::Department);
        QVERIFY_THROWS_EXCEPTION(db::DbError, deps.find(QStringLiteral("отд\U0001F600")));
        QVERIFY(!d.s.IBTrans.active());
        const QString tooLong(401, QChar(0x0416));
        QVERIFY(!deps.valueProblem(QStringLiteral("Отдел"), tooLong).isEmpty());
        QVERIFY(deps.valueProblem(QStringLiteral("Отдел"), tooLong.left(400)).isEmpty());
        QVERIFY(deps.valueProblem(QStringLiteral("Отдел"), QStringLiteral(" ")).isEmpty());
        QVERIFY(deps.valueProblem(QStringLiteral("Отдел"), QStringLiteral("Отдел \U0001F600")).contains(u"U+1F600"_s));
        QVERIFY_THROWS_EXCEPTION(db::DbError, deps.insert(tooLong));
        deps.insert(QStringLiteral("Склад"));
        QCOMPARE(d.values(u"department"_s, u"dep"_s), QStringList{u"Склад"_s});
        QVERIFY_THROWS_EXCEPTION(
            db::DbError, deps.update(deps.find(QStringLiteral("Склад")).first().id, tooLong, QStringLiteral("Склад")));
        QCOMPARE(d.values(u"department"_s, u"dep"_s), QStringList{u"Склад"_s});
    }
};

QTEST_GUILESS_MAIN(TestRefBook)
#include "tst_refbook.moc"
