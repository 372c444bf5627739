// The services' door to the database against real database files: reads
// that keep their rows whatever runs inside their loop, units stored whole
// or not at all and seeing their own writes, batches, snapshots.

#include "db/access.h"
#include "db/shared.h"
#include "testdb.h"

#include <QtTest>
#include <cstring>

namespace {

const QString kAddPost = QStringLiteral("INSERT INTO post (post) VALUES (:v)");
const QString kPosts = QStringLiteral("SELECT post FROM post ORDER BY pk_id");

// Posts "1" to "n", committed.
void addPosts(db::Access &db, int n)
{
    db.unit([&] {
        for (int i = 1; i <= n; ++i)
            db.write(kAddPost, {{QStringLiteral("v"), QString::number(i)}});
    });
}

QStringList posts(db::Access &db)
{
    QStringList out;
    for (db::Rows rows = db.read(kPosts); rows.next();)
        out << rows.text(0);
    return out;
}

} // namespace

class TestAccess : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { testdb::init(); }

    // A read inside another read's loop, of the same statement too, leaves
    // the outer rows whole: past the pieces they are fetched in as well.
    void nestedReadsKeepTheirRows()
    {
        testdb::SharedFixture d;
        db::Access &db = d.s.access;
        const int n = 700;
        addPosts(db, n);
        int outer = 0, inner = 0;
        for (db::Rows rows = db.read(kPosts); rows.next();) {
            QCOMPARE(rows.text(QStringLiteral("post")), QString::number(++outer));
            if (outer % 100 == 0)
                inner += int(posts(db).size());
            // A statement taken again gets only the values given this time.
            db::Rows count = db.read(QStringLiteral("SELECT COUNT(*) FROM post WHERE post = :v"));
            QVERIFY(count.next());
            QCOMPARE(count.number(0), 0);
        }
        QCOMPARE(outer, n);
        QCOMPARE(inner, 7 * n);
    }

    // A row's cells in place, as stored: NULL apart from an empty text, the
    // bytes of a Cyrillic text, an integer; past the first piece of rows
    // too, and none before the first row or after the last.
    void cellsInPlace()
    {
        testdb::SharedFixture d;
        db::Access &db = d.s.access;
        addPosts(db, 300);
        std::vector<db::IBQuery::CellView> cells;
        db::Rows rows = db.read(QStringLiteral("SELECT pk_id, post, CAST(NULL AS VARCHAR(5)), '', 'Ёж' "
                                               "FROM post ORDER BY pk_id"));
        rows.cells(cells);
        QVERIFY(cells.empty());
        int n = 0;
        while (rows.next()) {
            ++n;
            rows.cells(cells);
            QCOMPARE(cells.size(), size_t(5));
            QCOMPARE(int(cells[0].kind), 2);
            qint64 id = 0;
            std::memcpy(&id, cells[0].data, 8);
            QCOMPARE(id, rows.number(0));
            QCOMPARE(QByteArray(cells[1].data, qsizetype(cells[1].length)), QByteArray::number(n));
            QCOMPARE(int(cells[2].kind), 0);
            QCOMPARE(int(cells[3].kind), 1);
            QCOMPARE(cells[3].length, 0u);
            QCOMPARE(QByteArray(cells[4].data, qsizetype(cells[4].length)), QByteArray("\xa8\xe6"));
        }
        QCOMPARE(n, 300);
        rows.cells(cells);
        QVERIFY(cells.empty());
    }

    // A read that fails inside another read's loop, caught there, ends alone:
    // the outer rows go on to the last, on their own or in a snapshot,
    // wherever the inner read fails (its first row, a later one, a value
    // refused before anything is sent).
    void failedReadEndsAlone_data()
    {
        QTest::addColumn<QString>("inner");
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("inSnapshot");
        const QString firstRow = QStringLiteral("SELECT CAST(post AS INTEGER) FROM post WHERE post = :v");
        const QString laterRow =
            QStringLiteral("SELECT CAST(post AS INTEGER) FROM post WHERE post <> :v ORDER BY pk_id");
        const QString refused = QStringLiteral("SELECT COUNT(*) FROM post WHERE post = :v");
        for (const bool snapshot : {false, true}) {
            const char *in = snapshot ? ", in a snapshot" : "";
            QTest::addRow("fails on its first row%s", in) << firstRow << QStringLiteral("x") << snapshot;
            QTest::addRow("fails on a later row%s", in) << laterRow << QStringLiteral("5") << snapshot;
            QTest::addRow("value refused%s", in) << refused << QStringLiteral("日本") << snapshot;
        }
    }
    void failedReadEndsAlone()
    {
        QFETCH(QString, inner);
        QFETCH(QString, value);
        QFETCH(bool, inSnapshot);
        testdb::SharedFixture d;
        db::Access &db = d.s.access;
        addPosts(db, 5);
        db.unit([&] { db.write(kAddPost, {{QStringLiteral("v"), QStringLiteral("x")}}); });
        QStringList outer;
        int failed = 0;
        const auto readAll = [&] {
            for (db::Rows rows = db.read(kPosts); rows.next();) {
                outer << rows.text(0);
                try {
                    db::Rows in = db.read(inner, {{QStringLiteral("v"), value}});
                    while (in.next()) {
                    }
                } catch (const db::DbError &) {
                    ++failed;
                }
            }
        };
        if (inSnapshot)
            db.snapshot(readAll);
        else
            readAll();
        QCOMPARE(outer, (QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("4"),
                                     QStringLiteral("5"), QStringLiteral("x")}));
        QCOMPARE(failed, 6);
        QCOMPARE(posts(db).size(), 6);
    }

    // Inside a unit reads see its writes; nobody else does before it ends.
    void unitSeesItsOwnWrites()
    {
        testdb::SharedFixture d;
        db::Access &db = d.s.access;
        db.unit([&] {
            db.write(kAddPost, {{QStringLiteral("v"), QStringLiteral("Инженер")}});
            db.unit([&] { db.write(kAddPost, {{QStringLiteral("v"), QStringLiteral("Врач")}}); });
            QCOMPARE(posts(db), (QStringList{QStringLiteral("Инженер"), QStringLiteral("Врач")}));
            QCOMPARE(d.count(kPosts), 0);
        });
        QCOMPARE(d.count(kPosts), 2);
        QCOMPARE(posts(db).size(), 2);
    }

    // A unit that fails, in its own code or in a statement, stores nothing
    // of itself or of the units inside it; the error passes on unchanged.
    void failedUnitStoresNothing_data()
    {
        QTest::addColumn<bool>("statementFails");
        QTest::newRow("the unit throws") << false;
        QTest::newRow("a statement fails") << true;
    }
    void failedUnitStoresNothing()
    {
        QFETCH(bool, statementFails);
        testdb::SharedFixture d;
        db::Access &db = d.s.access;
        const QString addUser = QStringLiteral("INSERT INTO pers (fio, login) VALUES ('a', :login)");
        db.unit([&] { db.write(addUser, {{QStringLiteral("login"), QStringLiteral("taken")}}); });
        try {
            db.unit([&] {
                db.write(kAddPost, {{QStringLiteral("v"), QStringLiteral("Инженер")}});
                db.unit([&] { db.write(kAddPost, {{QStringLiteral("v"), QStringLiteral("Врач")}}); });
                if (statementFails)
                    db.write(addUser, {{QStringLiteral("login"), QStringLiteral("taken")}});
                throw db::DbError(QStringLiteral("отказ"));
            });
            QFAIL("the unit went through");
        } catch (const db::DbError &e) {
            QCOMPARE(e.kind(), statementFails ? db::DbError::Kind::DuplicateKey : db::DbError::Kind::Other);
        }
        QVERIFY(!db.inUnit());
        QCOMPARE(d.count(kPosts), 0);
        QCOMPARE(posts(db), QStringList{});
        // The next unit starts clean and is stored.
        addPosts(db, 1);
        QCOMPARE(d.count(kPosts), 1);
    }

    void writeOutsideUnitRefused()
    {
        testdb::SharedFixture d;
        QVERIFY_THROWS_EXCEPTION(db::DbError,
                                 d.s.access.write(kAddPost, {{QStringLiteral("v"), QStringLiteral("Врач")}}));
        QCOMPARE(d.count(kPosts), 0);
    }

    // A failing unit of a batch is undone alone; the units kept are stored
    // by the batch's commit, or by a unit from elsewhere between two units.
    void batchKeepsUnitsApart()
    {
        testdb::SharedFixture d;
        db::Access &db = d.s.access;
        {
            db::Batch batch(db);
            batch.unit([&] { addPosts(db, 1); });
            QVERIFY_THROWS_EXCEPTION(db::DbError, batch.unit([&] {
                db.write(kAddPost, {{QStringLiteral("v"), QStringLiteral("lost")}});
                QCOMPARE(posts(db), (QStringList{QStringLiteral("1"), QStringLiteral("lost")}));
                throw db::DbError(QStringLiteral("отказ"));
            }));
            QCOMPARE(batch.held(), 1);
            QCOMPARE(d.count(kPosts), 0);
            db.unit([&] { QCOMPARE(posts(db), QStringList{QStringLiteral("1")}); });
            QCOMPARE(batch.held(), 0);
            QCOMPARE(d.count(kPosts), 1);
            batch.unit([&] { db.write(kAddPost, {{QStringLiteral("v"), QStringLiteral("2")}}); });
            batch.commit();
            batch.unit([&] { db.write(kAddPost, {{QStringLiteral("v"), QStringLiteral("never")}}); });
            QVERIFY(!batch.lost());
        } // not committed: rolled back
        QCOMPARE(posts(db), (QStringList{QStringLiteral("1"), QStringLiteral("2")}));
    }

    // Reads in one snapshot agree, whatever another copy commits meanwhile.
    void snapshotReadsAgree()
    {
        testdb::SharedFixture d;
        SharedDb other;
        testdb::open(other, d.path);
        addPosts(d.s.access, 1);
        d.s.access.snapshot([&] {
            QCOMPARE(posts(d.s.access).size(), 1);
            addPosts(other.access, 1);
            QCOMPARE(posts(d.s.access).size(), 1);
        });
        QCOMPARE(posts(d.s.access).size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestAccess)
#include "tst_access.moc"
