// The query layer and the CP1251 boundary, against real database files.

#include "db/columns.h"
#include "db/cp1251.h"
#include "db/engineerrors.h"
#include "db/ibase.h"
#include "db/shared.h"
#include "db/statements.h"
#include "testdb.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>
#include <firebird/Interface.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using db::DbError;

class TestDb : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    // The engine is prepared as the program prepares it: its own root, the
    // machine's one lock folder.
    void initTestCase()
    {
        testdb::init();
        db::prepareEngine(QStringLiteral(ZENTRAX_PROGRAM_DIR));
    }

    void cp1251RoundTripAndUpper()
    {
        // Every byte survives a round trip, 0x98 (unassigned in the page) too;
        // only such a byte decodes to a character marked as one.
        QByteArray all;
        for (int b = 0; b < 256; ++b) {
            const QByteArray in(1, char(b));
            const QString text = cp1251::decode(in);
            QCOMPARE(text.size(), 1);
            QCOMPARE(cp1251::isUndefinedByte(text[0]), b == 0x98);
            QVERIFY(text[0] != QChar(QChar::ReplacementCharacter));
            QByteArray out;
            QVERIFY2(cp1251::encode(text, out), qPrintable(QString::number(b, 16)));
            QCOMPARE(out, in);
            all += in;
        }
        QByteArray out;
        QVERIFY(cp1251::encode(cp1251::decode(all), out));
        QCOMPARE(out, all);
        // The marks stand for unassigned bytes only; U+FFFD itself has no byte.
        for (char16_t c : {char16_t(0xF741), char16_t(0xF7C0), char16_t(0xFFFD)}) {
            QVERIFY(!cp1251::isUndefinedByte(QChar(c)));
            QCOMPARE(cp1251::firstUnencodable(QString(QChar(c))), 0);
        }
        QCOMPARE(cp1251::upper(QStringLiteral("иванов ёлка abc_%")), QStringLiteral("ИВАНОВ ЁЛКА ABC_%"));
        QCOMPARE(cp1251::upper(QStringLiteral("їєіґў")), QStringLiteral("ЇЄІҐЎ"));
        // µ has no capital in the page: Qt's toUpper would make it a Greek Μ.
        QCOMPARE(cp1251::upper(QStringLiteral("µ")), QStringLiteral("µ"));
    }

    // A character the database cannot hold is named as the user sees it: the
    // whole character (a surrogate pair is one), its code point and where it is.
    void unencodableCharacterNamed_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("pos");
        QTest::addColumn<QString>("shown");
        QTest::newRow("all in the page") << QStringLiteral("Ёжик №5 «€»") << -1 << QString();
        QTest::newRow("emoji") << QStringLiteral("ab😀c") << 2 << QStringLiteral("«😀» (U+1F600)");
        QTest::newRow("ideograph") << QStringLiteral("Ёж日本") << 2 << QStringLiteral("«日» (U+65E5)");
        QTest::newRow("Latin-1 letter") << QStringLiteral("abc ÿ") << 4 << QStringLiteral("«ÿ» (U+00FF)");
        QTest::newRow("lone surrogate") << (QStringLiteral("x") + QChar(0xD83D)) << 1
                                        << QStringLiteral("«\uFFFD» (U+D83D)");
    }
    void unencodableCharacterNamed()
    {
        QFETCH(QString, text);
        QFETCH(int, pos);
        QFETCH(QString, shown);
        QCOMPARE(cp1251::firstUnencodable(text), qsizetype(pos));
        QByteArray out;
        qsizetype bad = -2;
        QCOMPARE(cp1251::encode(text, out, &bad), pos < 0);
        if (pos < 0)
            return;
        QCOMPARE(bad, qsizetype(pos));
        QCOMPARE(cp1251::describeChar(text, pos), shown);

        // A search is not a save: the message does not say "saved".
        const QString msg = db::encodingMessage(text, pos);
        QVERIFY2(msg.contains(shown), qPrintable(msg));
        QVERIFY2(msg.contains(QStringLiteral("Windows-1251")), qPrintable(msg));
        QVERIFY2(!msg.contains(QStringLiteral("сохран")), qPrintable(msg));

        const QString problem = db::valueProblem(QStringLiteral("Фамилия"), text, 100);
        QVERIFY2(problem.contains(QStringLiteral("«Фамилия»")), qPrintable(problem));
        QVERIFY2(problem.contains(shown), qPrintable(problem));
        QVERIFY2(problem.contains(QStringLiteral("на %1-м месте").arg(pos + 1)), qPrintable(problem));
        QVERIFY2(problem.contains(QStringLiteral("нельзя сохранить")), qPrintable(problem));
    }

    // Lengths in messages agree with their number: "101 знак", never "101 знаков".
    void characterCountWords()
    {
        const QList<QPair<int, const char *>> rows = {{1, "1 знак"},     {2, "2 знака"},      {5, "5 знаков"},
                                                      {11, "11 знаков"}, {14, "14 знаков"},   {21, "21 знак"},
                                                      {101, "101 знак"}, {112, "112 знаков"}, {124, "124 знака"}};
        for (const auto &[n, words] : rows)
            QCOMPARE(db::characterCount(n).remove(QChar(0xA0)), QString::fromUtf8(words));
        QVERIFY(db::valueProblem(QStringLiteral("Имя"), QString(101, QLatin1Char('x')), 100)
                    .contains(QStringLiteral("101 знак, а")));
    }

    // The query layer refuses such a value with the same naming, whatever the
    // statement does.
    void unencodableParameterRefused()
    {
        const QString path = testdb::freshDatabase(dir.path(), QStringLiteral("enc.fdb"));
        testdb::QueryDb s;
        testdb::open(s, path);
        s.iSQL.setSql(QStringLiteral("SELECT count(*) AS n FROM base WHERE fam = ") +
                      sql::boundText(QStringLiteral("f")));
        s.iSQL.setParam(QStringLiteral("f"), QStringLiteral("Смайлик 😀"));
        try {
            s.iSQL.open();
            QFAIL("no error");
        } catch (const DbError &e) {
            QVERIFY2(e.text().contains(QStringLiteral("«😀» (U+1F600)")), qPrintable(e.text()));
            QVERIFY2(!e.text().contains(QStringLiteral("сохран")), qPrintable(e.text()));
        }
        s.IBDbase.close();
    }

    // A byte the page leaves unassigned, written by another program, reads
    // as a marked character and goes back to the database as the same byte.
    void undefinedByteWrittenBack()
    {
        const QString path = testdb::freshDatabase(dir.path(), QStringLiteral("undef.fdb"));
        testdb::exec(path, QStringLiteral("INSERT INTO post (post) VALUES ('a' || ASCII_CHAR(152) || 'b')"));
        const QByteArray stored("a\x98"
                                "b");
        testdb::QueryDb s;
        testdb::open(s, path);
        std::vector<db::IBQuery::CellView> cells;
        s.iSQL.setSql(QStringLiteral("SELECT post FROM post"));
        s.iSQL.open();
        s.iSQL.rowView(0, cells);
        QCOMPARE(QByteArray(cells.at(0).data, qsizetype(cells.at(0).length)), stored);
        const QString value = s.iSQL.asText(QStringLiteral("post"));
        QCOMPARE(value.size(), 3);
        QVERIFY(cp1251::isUndefinedByte(value[1]));
        s.IBTrans.commit();

        s.iSQL.setSql(QStringLiteral("SELECT count(*) AS n FROM post WHERE post = :v"));
        s.iSQL.setParam(QStringLiteral("v"), value);
        s.iSQL.open();
        QCOMPARE(s.iSQL.asInt(QStringLiteral("n")), 1);
        s.iSQL.setSql(QStringLiteral("UPDATE post SET post = :v || 'c'"));
        s.iSQL.setParam(QStringLiteral("v"), value);
        s.iSQL.execute();
        s.IBTrans.commit();

        s.iSQL.setSql(QStringLiteral("SELECT post FROM post"));
        s.iSQL.open();
        s.iSQL.rowView(0, cells);
        QCOMPARE(QByteArray(cells.at(0).data, qsizetype(cells.at(0).length)), stored + "c");
        s.IBTrans.commit();
        s.IBDbase.close();
    }

    void queryFacility()
    {
        const QString path = testdb::freshDatabase(dir.path(), QStringLiteral("q.fdb"));
        testdb::QueryDb s;
        testdb::open(s, path);
        QVERIFY(!s.IBTrans.active());

        // A statement with no active transaction starts one.
        s.iSQL.setSql(QStringLiteral("INSERT INTO post (post) VALUES (:post)"));
        for (const char *v : {"Бухгалтер", "директор", "", "O'Brien's"}) {
            s.iSQL.setParam(QStringLiteral("POST"), QString::fromUtf8(v)); // any letter case
            s.iSQL.execute();
        }
        QVERIFY(s.IBTrans.active());
        s.iSQL.setSql(QStringLiteral("INSERT INTO post (post) VALUES (NULL)"));
        s.iSQL.execute();
        s.IBTrans.commit();
        QVERIFY(!s.IBTrans.active());

        s.iSQL.setSql(QStringLiteral("SELECT pk_id, post FROM post ORDER BY pk_id"));
        s.iSQL.open();
        QVERIFY(!s.iSQL.eof());
        QCOMPARE(s.iSQL.recordCount(), 1); // rows fetched so far
        QCOMPARE(s.iSQL.asText(QStringLiteral("Post")), QStringLiteral("Бухгалтер"));
        QCOMPARE(s.iSQL.asInt(QStringLiteral("PK_ID")), 1);
        s.iSQL.last();
        QCOMPARE(s.iSQL.recordCount(), 5);
        QCOMPARE(s.iSQL.asText(QStringLiteral("post")), QString()); // NULL reads as empty
        s.iSQL.first();
        int seen = 0;
        QStringList values;
        while (!s.iSQL.eof()) {
            values << s.iSQL.asText(QStringLiteral("post"));
            ++seen;
            s.iSQL.next();
        }
        QCOMPARE(seen, 5);
        QCOMPARE(values.at(3), QStringLiteral("O'Brien's"));
        QVERIFY_THROWS_EXCEPTION(DbError, s.iSQL.asText(QStringLiteral("nosuch")));

        // Commit closes every open result.
        QVERIFY(s.iSQL.isOpen());
        s.IBTrans.commit();
        QVERIFY(!s.iSQL.isOpen());

        // An empty result is at its end at once.
        s.iSQL.setSql(QStringLiteral("SELECT * FROM post WHERE pk_id = :id"));
        s.iSQL.setParam(QStringLiteral("id"), qint64(999));
        s.iSQL.open();
        QVERIFY(s.iSQL.eof());
        QCOMPARE(s.iSQL.recordCount(), 0);
        QCOMPARE(s.iSQL.asText(QStringLiteral("post")), QString());
        s.iSQL.close();
        s.iSQL.close(); // closing twice does nothing

        // ":name" inside quotes is text, not a parameter; a repeated name binds everywhere.
        s.iSQL.setSql(QStringLiteral("SELECT ':x' AS a, CAST(:v AS VARCHAR(10)) AS b, CAST(:v AS VARCHAR(10)) AS c "
                                     "FROM rdb$database"));
        QCOMPARE(s.iSQL.paramNames(), QStringList{QStringLiteral("V")});
        s.iSQL.setParam(QStringLiteral("v"), QStringLiteral("ё"));
        s.iSQL.open();
        QCOMPARE(s.iSQL.asText(QStringLiteral("a")), QStringLiteral(":x"));
        QCOMPARE(s.iSQL.asText(QStringLiteral("c")), QStringLiteral("ё"));
        s.iSQL.close();

        // A database error reaches the caller as DbError with the library's text.
        s.iSQL.setSql(QStringLiteral("SELECT nosuchcolumn FROM post"));
        try {
            s.iSQL.open();
            QFAIL("no error");
        } catch (const DbError &e) {
            QVERIFY2(e.text().contains(QStringLiteral("NOSUCHCOLUMN")), qPrintable(e.text()));
        }
        s.IBTrans.commit();
        s.IBDbase.close();
    }

    void valuesTravelExactly()
    {
        const QString path = testdb::freshDatabase(dir.path(), QStringLiteral("v.fdb"));
        testdb::QueryDb s;
        testdb::open(s, path);

        // A long note with CR LF goes through the BLOB column unchanged.
        QString note;
        for (int i = 0; i < 500; ++i)
            note += QStringLiteral("Строка %1 «кавычки» 'апостроф'\r\n").arg(i);
        QVERIFY(note.size() > 5000);
        s.iSQL.setSql(QStringLiteral("INSERT INTO base (fam, rem, fdt) VALUES (:fam, :rem, :fdt) RETURNING pk_id"));
        s.iSQL.setParam(QStringLiteral("fam"), QStringLiteral("Д'Артаньян"));
        s.iSQL.setParam(QStringLiteral("rem"), note);
        s.iSQL.setParam(QStringLiteral("fdt"), qint64(7));
        s.iSQL.execute();
        const qint64 id = s.iSQL.asInt(QStringLiteral("pk_id"));
        QVERIFY(id > 0);
        s.IBTrans.commit();

        db::IBQuery select(&s.IBDbase, &s.IBRead);
        select.setSql(sql::selectCard());
        select.setParam(QStringLiteral("pk_id"), id);
        select.open();
        QCOMPARE(select.asText(QStringLiteral("rem")), note);
        QCOMPARE(select.asText(QStringLiteral("fam")), QStringLiteral("Д'Артаньян"));
        QCOMPARE(select.asInt(QStringLiteral("fdt")), 7);
        QCOMPARE(select.asText(QStringLiteral("fdt")), QStringLiteral("7"));
        QCOMPARE(select.asText(QStringLiteral("other")), QString()); // NULL blob
        QCOMPARE(select.asInt(QStringLiteral("ldt")), 0);            // NULL integer
        s.IBTrans.commit();

        // Text outside CP1251 is refused before anything is written.
        s.iSQL.setSql(QStringLiteral("INSERT INTO base (fam, name1) VALUES (:fam, :name1)"));
        s.iSQL.setParam(QStringLiteral("fam"), QStringLiteral("Норма"));
        s.iSQL.setParam(QStringLiteral("name1"), QStringLiteral("日本"));
        try {
            s.iSQL.execute();
            QFAIL("no error");
        } catch (const DbError &e) {
            QVERIFY(e.text().contains(QStringLiteral("Windows-1251")));
            QVERIFY(e.text().contains(QStringLiteral("日")));
        }
        s.IBTrans.commit();
        s.iSQL.setSql(QStringLiteral("SELECT count(*) AS n FROM base"));
        s.iSQL.open();
        QCOMPARE(s.iSQL.asInt(QStringLiteral("n")), 1);
        s.IBTrans.commit();

        // A typed text longer than the column compares as a value, with no truncation error.
        s.iSQL.setSql(QStringLiteral("SELECT count(*) AS n FROM pers WHERE login = ") +
                      sql::boundText(QStringLiteral("l")));
        s.iSQL.setParam(QStringLiteral("l"),
                        QString(3000, QLatin1Char('x')) + QStringLiteral("'; delete from base; --"));
        s.iSQL.open();
        QCOMPARE(s.iSQL.asInt(QStringLiteral("n")), 0);
        s.IBTrans.commit();
        s.IBDbase.close();
    }

    // A commit the database refuses keeps nothing of the refused work, and
    // the next commit stores only what came after it.
    void failedCommitKeepsNothing()
    {
        const QString path = testdb::freshDatabase(dir.path(), QStringLiteral("commit.fdb"));
        testdb::exec(
            path,
            QStringLiteral("CREATE EXCEPTION marker_found 'marker row present';\n"
                           "CREATE TRIGGER no_marker ON TRANSACTION COMMIT AS BEGIN "
                           "IF (EXISTS(SELECT 1 FROM post WHERE post = 'marker')) THEN EXCEPTION marker_found; END"));
        testdb::QueryDb s;
        testdb::open(s, path);
        s.iSQL.setSql(QStringLiteral("INSERT INTO post (post) VALUES (:p)"));
        s.iSQL.setParam(QStringLiteral("p"), QStringLiteral("marker"));
        s.iSQL.execute();
        db::IBQuery sel(&s.IBDbase, &s.IBTrans);
        sel.setSql(sql::selectCard());
        sel.setParam(QStringLiteral("pk_id"), qint64(1));
        sel.open(); // a result of the same transaction
        try {
            s.IBTrans.commit();
            QFAIL("the commit was not refused");
        } catch (const DbError &e) {
            QVERIFY2(e.fromEngine(), qPrintable(e.text()));
            QVERIFY2(e.text().contains(QStringLiteral("MARKER_FOUND"), Qt::CaseInsensitive), qPrintable(e.text()));
        }
        QVERIFY(!s.IBTrans.active());
        QVERIFY(!sel.isOpen());

        s.iSQL.setParam(QStringLiteral("p"), QStringLiteral("kept"));
        s.iSQL.execute();
        s.IBTrans.commit();
        testdb::Peek peek(path);
        QCOMPARE(peek.count(QStringLiteral("SELECT post FROM post")), 1);
        QCOMPARE(peek.value(QStringLiteral("SELECT post FROM post")), QStringLiteral("kept"));
    }

    // A statement that fails, in the engine or before anything is sent, takes
    // the uncommitted work of its transaction with it; the next statement
    // starts afresh.
    void failedStatementKeepsNothing_data()
    {
        QTest::addColumn<QString>("statement");
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("select"); // run by open() rather than execute()
        QTest::newRow("engine refuses the row") << QStringLiteral("INSERT INTO post (pk_id, post) VALUES (1, :v)")
                                                << QStringLiteral("duplicate key") << false;
        QTest::newRow("statement does not prepare")
            << QStringLiteral("INSERT INTO nosuchtable (x) VALUES (:v)") << QStringLiteral("x") << false;
        QTest::newRow("character refused before sending")
            << QStringLiteral("INSERT INTO post (post) VALUES (:v)") << QStringLiteral("日本") << false;
        QTest::newRow("length refused before sending")
            << QStringLiteral("INSERT INTO post (post) VALUES (:v)") << QString(40000, u'x') << false;
        QTest::newRow("select fails") << QStringLiteral("SELECT 1 / (CHAR_LENGTH(:v) - 1) FROM rdb$database")
                                      << QStringLiteral("x") << true;
    }
    void failedStatementKeepsNothing()
    {
        QFETCH(QString, statement);
        QFETCH(QString, value);
        QFETCH(bool, select);
        const QString path = testdb::freshDatabase(dir.path(), QStringLiteral("fail.fdb"));
        testdb::QueryDb s;
        testdb::open(s, path);
        s.iSQL.setSql(QStringLiteral("INSERT INTO post (pk_id, post) VALUES (1, 'first')"));
        s.iSQL.execute();
        db::IBQuery failing(&s.IBDbase, &s.IBTrans);
        failing.setSql(statement);
        failing.setParam(QStringLiteral("v"), value);
        if (select)
            QVERIFY_THROWS_EXCEPTION(DbError, failing.open());
        else
            QVERIFY_THROWS_EXCEPTION(DbError, failing.execute());
        QVERIFY(!s.IBTrans.active());

        s.iSQL.setSql(QStringLiteral("INSERT INTO post (pk_id, post) VALUES (2, 'second')"));
        s.iSQL.execute();
        s.IBTrans.commit();
        testdb::Peek peek(path);
        QCOMPARE(peek.count(QStringLiteral("SELECT post FROM post")), 1);
        QCOMPARE(peek.value(QStringLiteral("SELECT post FROM post")), QStringLiteral("second"));
    }

    // A text bound as VARCHAR arrives whole or is refused before anything is
    // sent; a note (BLOB) has no such limit.
    void longTextParameters_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("short") << 10 << true;
        QTest::newRow("longest VARCHAR") << 32765 << true;
        QTest::newRow("one byte more") << 32766 << false;
        QTest::newRow("over 16 bits") << 65546 << false;
    }
    void longTextParameters()
    {
        QFETCH(int, length);
        QFETCH(bool, accepted);
        const QString path = testdb::freshDatabase(dir.path(), QStringLiteral("long.fdb"));
        testdb::QueryDb s;
        testdb::open(s, path);
        const QString text(length, QChar(0x0416)); // Ж: one byte in the database
        s.iSQL.setSql(QStringLiteral("SELECT CHAR_LENGTH(CAST(:v AS VARCHAR(32765) CHARACTER SET WIN1251)) AS n, "
                                     "RIGHT(CAST(:v AS VARCHAR(32765) CHARACTER SET WIN1251), 1) AS z "
                                     "FROM rdb$database"));
        if (accepted) { // the last character tells a whole text from a cut one
            s.iSQL.setParam(QStringLiteral("v"), text.left(length - 1) + QStringLiteral("z"));
            s.iSQL.open();
            QCOMPARE(s.iSQL.asInt(QStringLiteral("n")), length);
            QCOMPARE(s.iSQL.asText(QStringLiteral("z")), QStringLiteral("z"));
        } else {
            s.iSQL.setParam(QStringLiteral("v"), text);
            try {
                s.iSQL.open();
                QFAIL(qPrintable(QStringLiteral("accepted, as %1 characters").arg(s.iSQL.asInt(QStringLiteral("n")))));
            } catch (const DbError &e) {
                QVERIFY2(!e.fromEngine(), qPrintable(e.text()));
                QVERIFY2(e.text().contains(QString::number(length)), qPrintable(e.text()));
                QVERIFY2(e.text().contains(QStringLiteral("32 765")), qPrintable(e.text()));
            }
        }
        s.IBTrans.commit();

        // The same length goes into a note whole.
        const QString note = text + QStringLiteral("конец");
        s.iSQL.setSql(QStringLiteral("INSERT INTO base (fam, rem) VALUES ('note', :rem) RETURNING pk_id"));
        s.iSQL.setParam(QStringLiteral("rem"), note);
        s.iSQL.execute();
        const qint64 id = s.iSQL.asInt(QStringLiteral("pk_id"));
        s.IBTrans.commit();
        db::IBQuery select(&s.IBDbase, &s.IBRead);
        select.setSql(sql::selectCard());
        select.setParam(QStringLiteral("pk_id"), id);
        select.open();
        QCOMPARE(select.asText(QStringLiteral("rem")), note);
        select.close();
    }

    // A statement with RETURNING yields its row only when it touched one;
    // a procedure or block always yields its row.
    void returningRow_data()
    {
        QTest::addColumn<QString>("statement");
        QTest::addColumn<int>("rows");
        QTest::addColumn<qint64>("id");
        QTest::newRow("insert") << QStringLiteral("INSERT INTO post (post) VALUES ('c') RETURNING pk_id") << 1
                                << qint64(3);
        QTest::newRow("update") << QStringLiteral("UPDATE post SET post = 'x' WHERE pk_id = 2 RETURNING pk_id") << 1
                                << qint64(2);
        QTest::newRow("update, no row") << QStringLiteral("UPDATE post SET post = 'x' WHERE pk_id = 99 RETURNING pk_id")
                                        << 0 << qint64(0);
        QTest::newRow("delete") << QStringLiteral("DELETE FROM post WHERE pk_id = 1 RETURNING pk_id") << 1 << qint64(1);
        QTest::newRow("delete, no row") << QStringLiteral("DELETE FROM post WHERE pk_id = 99 RETURNING pk_id") << 0
                                        << qint64(0);
        QTest::newRow("update or insert")
            << QStringLiteral(
                   "UPDATE OR INSERT INTO post (pk_id, post) VALUES (2, 'y') MATCHING (pk_id) RETURNING pk_id")
            << 1 << qint64(2);
        QTest::newRow("commented update, no row")
            << QStringLiteral("/* none */ -- here\n  update post SET post = 'x' WHERE pk_id = 99 RETURNING pk_id") << 0
            << qint64(0);
        QTest::newRow("procedure") << QStringLiteral("EXECUTE PROCEDURE seven") << 1 << qint64(7);
        QTest::newRow("block") << QStringLiteral(
                                      "EXECUTE BLOCK RETURNS (pk_id INTEGER) AS BEGIN pk_id = 5; SUSPEND; END")
                               << 1 << qint64(5);
        QTest::newRow("select") << QStringLiteral("SELECT pk_id FROM post WHERE pk_id = 2") << 1 << qint64(2);
    }
    void returningRow()
    {
        QFETCH(QString, statement);
        QFETCH(int, rows);
        QFETCH(qint64, id);
        const QString path = testdb::freshDatabase(dir.path(), QStringLiteral("ret.fdb"));
        testdb::exec(path, QStringLiteral("INSERT INTO post (post) VALUES ('a');\n"
                                          "INSERT INTO post (post) VALUES ('b');\n"
                                          "CREATE PROCEDURE seven RETURNS (pk_id INTEGER) AS BEGIN pk_id = 7; END"));
        testdb::QueryDb s;
        testdb::open(s, path);
        // A row read before must not linger in the next statement's result.
        s.iSQL.setSql(QStringLiteral("UPDATE post SET post = post WHERE pk_id = 1 RETURNING pk_id"));
        s.iSQL.execute();
        QCOMPARE(s.iSQL.recordCount(), 1);
        s.iSQL.setSql(statement);
        s.iSQL.execute();
        QCOMPARE(s.iSQL.eof(), rows == 0);
        QCOMPARE(s.iSQL.recordCount(), rows);
        if (rows)
            QCOMPARE(s.iSQL.asInt(QStringLiteral("pk_id")), id);
        s.IBTrans.commit();
    }

    // A query, its transaction and its database may end in any order; what
    // is left behind refuses to run instead of touching what has gone.
    void ownersEndInAnyOrder_data()
    {
        QTest::addColumn<QString>("order"); // d database, t transaction, q query
        for (const char *o : {"qtd", "qdt", "tqd", "tdq", "dqt", "dtq"})
            QTest::newRow(o) << QString::fromLatin1(o);
    }
    void ownersEndInAnyOrder()
    {
        QFETCH(QString, order);
        const QString path = testdb::freshDatabase(dir.path(), QStringLiteral("order.fdb"));
        testdb::exec(path, QStringLiteral("INSERT INTO base (fam, rem) VALUES ('a', 'note')"));
        auto d = std::make_unique<db::IBDatabase>();
        d->databaseName = path;
        d->open();
        auto t = std::make_unique<db::IBTransaction>(d.get());
        auto q = std::make_unique<db::IBQuery>(d.get(), t.get());
        q->setSql(QStringLiteral("SELECT fam, rem FROM base"));
        q->open();
        QCOMPARE(q->asText(QStringLiteral("rem")), QStringLiteral("note"));
        for (QChar c : order) {
            if (c == u'd')
                d.reset();
            else if (c == u't')
                t.reset();
            else
                q.reset();
            if (q && (!d || !t)) {
                QVERIFY(!q->isOpen());
                QVERIFY_THROWS_EXCEPTION(DbError, q->open());
                QVERIFY_THROWS_EXCEPTION(DbError, q->execute());
                q->setSql(QStringLiteral("SELECT 1 FROM rdb$database"));
                q->close();
            }
            if (t && !d) {
                QVERIFY(!t->active());
                QVERIFY_THROWS_EXCEPTION(DbError, t->start());
                t->commit();
                t->rollback();
            }
        }
    }

    // A statement that fails to prepare, or a statement text that cannot be
    // sent, leaves the query as usable as before.
    void failedPrepareLeavesQueryUsable()
    {
        const QString path = testdb::freshDatabase(dir.path(), QStringLiteral("prep.fdb"));
        testdb::exec(path, QStringLiteral("INSERT INTO post (post) VALUES ('a');\n"
                                          "INSERT INTO post (post) VALUES ('b')"));
        testdb::QueryDb s;
        testdb::open(s, path);
        s.iSQL.setSql(QStringLiteral("SELEC post FROM post"));
        QVERIFY_THROWS_EXCEPTION(DbError, s.iSQL.open());
        QVERIFY(!s.iSQL.isOpen());
        QVERIFY_THROWS_EXCEPTION(DbError, s.iSQL.open()); // and again
        const QString good = QStringLiteral("SELECT post FROM post WHERE pk_id = :id");
        s.iSQL.setSql(good);
        s.iSQL.setParam(QStringLiteral("id"), qint64(2));
        s.iSQL.open();
        QCOMPARE(s.iSQL.asText(QStringLiteral("post")), QStringLiteral("b"));

        // A text the database's encoding cannot carry leaves the statement before it.
        QVERIFY_THROWS_EXCEPTION(DbError, s.iSQL.setSql(QStringLiteral("SELECT '日本' AS post FROM post")));
        QCOMPARE(s.iSQL.sql(), good);
        QCOMPARE(s.iSQL.paramNames(), QStringList{QStringLiteral("ID")});
        QCOMPARE(s.iSQL.paramText(QStringLiteral("id")), QStringLiteral("2"));
        s.iSQL.open();
        QCOMPARE(s.iSQL.asText(QStringLiteral("post")), QStringLiteral("b"));
        s.IBTrans.commit();
    }

    void fixedStatements()
    {
        QCOMPARE(sql::baseInsertColumns().size(), 39);
        QCOMPARE(sql::baseInsertColumns().mid(34),
                 (QStringList{u"rem"_s, u"sysinfo"_s, u"fdt"_s, u"ldt"_s, u"fpath"_s}));
        QVERIFY(sql::updateCard().startsWith(QStringLiteral("UPDATE Base SET fam=:fam, name1=:name1")));
        QVERIFY(sql::updateCard().endsWith(QStringLiteral("rem=:rem, ldt=:ldt WHERE pk_id =:pk_id")));
        QVERIFY(!sql::updateCard().contains(QStringLiteral("sysinfo")));
        QVERIFY(!sql::updateCard().contains(QStringLiteral("fpath")));
        // Every fixed statement prepares against the schema.
        const QString path = testdb::freshDatabase(dir.path(), QStringLiteral("f.fdb"));
        testdb::QueryDb s;
        testdb::open(s, path);
        for (const QString &statement : {sql::deleteCard(), sql::deletePost(), sql::deleteDepartment(),
                                         sql::deleteOrganization(), sql::deleteUser(), sql::deleteAccounts()}) {
            db::IBQuery q(&s.IBDbase, &s.IBTrans);
            q.setSql(statement);
            q.setParam(q.paramNames().value(0), qint64(1));
            q.execute();
        }
        s.IBTrans.commit();
        s.IBDbase.close();
    }

    // Copies of the program on one machine open the same file at once; a
    // database shut down under the program reports a lost connection.
    void sharedFileAndLostConnection()
    {
        const QString isql = QStandardPaths::findExecutable(QStringLiteral("isql-fb"));
        const QString gfix = QStandardPaths::findExecutable(QStringLiteral("gfix"));
        if (isql.isEmpty() || gfix.isEmpty())
            QSKIP("isql-fb or gfix is not installed");
        const QString path = testdb::freshDatabase(dir.path(), QStringLiteral("shared.fdb"));
        testdb::QueryDb s;
        testdb::open(s, path);
        s.iSQL.setSql(QStringLiteral("INSERT INTO post (post) VALUES ('из программы')"));
        s.iSQL.execute();
        s.IBTrans.commit();

        QProcess other;
        other.start(isql, {QStringLiteral("-q"), QStringLiteral("-u"), QStringLiteral("sysdba"), path});
        other.write("SELECT 'count=' || COUNT(*) FROM post;\n");
        other.closeWriteChannel();
        QVERIFY(other.waitForFinished(30000));
        const QString out = QString::fromLocal8Bit(other.readAllStandardOutput() + other.readAllStandardError());
        QVERIFY2(out.contains(QStringLiteral("count=1")), qPrintable(out));

        QProcess shut;
        shut.start(gfix, {QStringLiteral("-shut"), QStringLiteral("full"), QStringLiteral("-force"),
                          QStringLiteral("0"), QStringLiteral("-user"), QStringLiteral("sysdba"), path});
        QVERIFY(shut.waitForFinished(30000));
        QCOMPARE(shut.exitCode(), 0);
        s.iSQL.setSql(QStringLiteral("SELECT COUNT(*) AS n FROM post"));
        try {
            s.iSQL.open();
            QFAIL("no error after the shutdown");
        } catch (const DbError &e) {
            QVERIFY2(e.connectionLost(), qPrintable(e.text()));
        }
        s.IBTrans.rollback();
        s.IBDbase.close();
    }

    void missingDatabase()
    {
        db::IBDatabase d;
        d.databaseName = dir.filePath(QStringLiteral("nothere.fdb"));
        QVERIFY_THROWS_EXCEPTION(DbError, d.open());
        QVERIFY(!d.connected());
    }

    // The engine's own tools, run on the live file as the README shows (with
    // the program's engine root), meet the program in one lock folder: what
    // they change shows at the program's next read, and the file stays sound.
    void engineToolsOnTheLiveFile()
    {
        const QString isql = QStandardPaths::findExecutable(QStringLiteral("isql-fb"));
        const QString gfix = QStandardPaths::findExecutable(QStringLiteral("gfix"));
        if (isql.isEmpty() || gfix.isEmpty())
            QSKIP("isql-fb or gfix is not installed");
        const QString path = testdb::freshDatabase(dir.path(), QStringLiteral("live.fdb"));
        testdb::exec(path, QStringLiteral("INSERT INTO base (fam) VALUES ('Прежний')"));
        testdb::QueryDb s;
        testdb::open(s, path);
        auto fam = [&] {
            s.iRead.setSql(QStringLiteral("SELECT fam FROM base"));
            s.iRead.open();
            const QString v = s.iRead.asText(QStringLiteral("fam"));
            s.iRead.close();
            return v;
        };
        QCOMPARE(fam(), QStringLiteral("Прежний"));
        auto tool = [&](const QString &program, const QStringList &args, const QByteArray &input = {}) {
            QProcess p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("FIREBIRD"), QStringLiteral(ZENTRAX_PROGRAM_DIR "/firebird"));
            env.remove(QStringLiteral("FIREBIRD_LOCK"));
            p.setProcessEnvironment(env);
            p.start(program, args);
            p.write(input);
            p.closeWriteChannel();
            p.waitForFinished(60000);
            return QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError()).trimmed() +
                   (p.exitCode() ? QStringLiteral(" (exit %1)").arg(p.exitCode()) : QString());
        };
        const QStringList login{QStringLiteral("-user"), QStringLiteral("SYSDBA"), QStringLiteral("-password"),
                                QStringLiteral("tarvokilm")};
        QCOMPARE(
            tool(isql, QStringList{QStringLiteral("-q")} << login << path, "UPDATE base SET fam = 'isql';\nCOMMIT;\n"),
            QString());
        QCOMPARE(fam(), QStringLiteral("isql"));
        s.IBDbase.close();
        QCOMPARE(tool(gfix, QStringList{QStringLiteral("-v"), QStringLiteral("-full")} << login << path), QString());
    }

    // A connection lost (the server stopped, the administrator closed it) is
    // opened anew at the next statement; the one that met the loss says so.
    void lostConnectionComesBack()
    {
        const QString path = testdb::freshDatabase(dir.path(), QStringLiteral("lost.fdb"));
        testdb::QueryDb s;
        testdb::open(s, path);
        s.iRead.setSql(QStringLiteral("SELECT CURRENT_CONNECTION AS id FROM rdb$database"));
        s.iRead.open();
        const qint64 id = s.iRead.asInt(QStringLiteral("id"));
        s.iRead.close();
        testdb::exec(path, QStringLiteral("DELETE FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID = %1").arg(id));
        auto insert = [&](const QString &post) {
            s.iSQL.setSql(QStringLiteral("INSERT INTO post (post) VALUES (:p)"));
            s.iSQL.setParam(QStringLiteral("p"), post);
            s.iSQL.execute();
            s.IBTrans.commit();
        };
        try {
            insert(QStringLiteral("lost"));
            QFAIL("the lost connection went unnoticed");
        } catch (const DbError &e) {
            QVERIFY2(e.connectionLost() && e.text().startsWith(QStringLiteral("Соединение с базой данных прервано")),
                     qPrintable(e.text()));
        }
        insert(QStringLiteral("after"));
        QCOMPARE(testdb::Peek(path).value(QStringLiteral("SELECT LIST(post) FROM post")), QStringLiteral("after"));
    }

    // The file deleted, moved or replaced under a running copy: a save is
    // refused, never written into a file nobody will open again.
    void fileReplacedUnderTheConnection_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("moved") << "moved";
        QTest::newRow("replaced by another") << "replaced";
        QTest::newRow("deleted") << "deleted";
    }
    void fileReplacedUnderTheConnection()
    {
        QFETCH(QString, how);
        const QString path = testdb::freshDatabase(dir.path(), QStringLiteral("replaced.fdb"));
        testdb::QueryDb s;
        testdb::open(s, path);
        const QString aside = path + QStringLiteral(".aside");
        QFile::remove(aside);
        QVERIFY(QFile::rename(path, aside));
        if (how == QLatin1String("replaced"))
            QVERIFY(QFile::copy(aside, path));
        else if (how == QLatin1String("deleted"))
            QVERIFY(QFile::remove(aside));
        s.iSQL.setSql(QStringLiteral("INSERT INTO post (post) VALUES ('lost')"));
        try {
            s.iSQL.execute();
            QFAIL("saved into a file that is no longer the database");
        } catch (const DbError &e) {
            QVERIFY2(e.text().contains(QStringLiteral("удалён, перемещён или заменён")), qPrintable(e.text()));
        }
        QVERIFY(!s.IBTrans.active());
        s.IBDbase.close();
    }

    // What the engine reports in English is told in Russian first, its own
    // text kept below as a detail.
    void engineFailuresToldInRussian_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("said");
        QTest::newRow("opened by a second engine") << "second"
                                                   << "уже открыт другой программой Firebird";
        QTest::newRow("disk full") << "full"
                                   << "не осталось места";
    }
    void engineFailuresToldInRussian()
    {
        QFETCH(QString, how);
        QFETCH(QString, said);
        QTemporaryDir root;
        QString path = testdb::freshDatabase(root.path(), QStringLiteral("told.fdb"));
        testdb::addCards(path, 300, [](int i) {
            return QList<QPair<QString, QString>>{{u"fam"_s, QString::number(i)}};
        });
        QProcess holder; // a second engine holding the file
        const QString mount = root.filePath(QStringLiteral("small"));
        bool mounted = false;
        if (how == QLatin1String("second")) {
            const QString isql = QStandardPaths::findExecutable(QStringLiteral("isql-fb"));
            if (isql.isEmpty() || !QFileInfo::exists(QStringLiteral("/etc/firebird/3.0/firebird.conf")))
                QSKIP("needs isql-fb and the system's engine settings");
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("FIREBIRD"),
                       QStringLiteral("/etc/firebird/3.0")); // SuperServer: the file is its alone
            holder.setProcessEnvironment(env);
            holder.start(isql, {QStringLiteral("-user"), QStringLiteral("SYSDBA"), QStringLiteral("-password"),
                                QStringLiteral("tarvokilm"), path});
            holder.write("SELECT COUNT(*) FROM base;\n");
            QVERIFY(holder.waitForReadyRead(30000));
        }
        if (how == QLatin1String("full")) {
            QDir().mkpath(mount);
            if (QProcess::execute(QStringLiteral("mount"),
                                  {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                   QStringLiteral("size=16m"), QStringLiteral("tmpfs"), mount}) != 0)
                QSKIP("needs root to mount a small file system");
            mounted = true;
            QVERIFY(QFile::copy(path, mount + QStringLiteral("/told.fdb")));
            path = mount + QStringLiteral("/told.fdb");
        }
        QString text;
        {
            testdb::QueryDb s;
            s.IBDbase.databaseName = path;
            try {
                s.IBDbase.open();
                s.iRead.setSql(QStringLiteral("SELECT COUNT(*) AS n FROM base"));
                s.iRead.open();
                s.iRead.close();
                if (how == QLatin1String("full")) {
                    QFile fill(mount + QStringLiteral("/fill"));
                    QVERIFY(fill.open(QIODevice::WriteOnly));
                    while (fill.write(QByteArray(64 * 1024, 'x')) > 0) {
                    }
                }
                s.iSQL.setSql(QStringLiteral("INSERT INTO base (fam, other) VALUES (:f, :o)"));
                for (int i = 0; i < 2000; ++i) {
                    s.iSQL.setParam(QStringLiteral("f"), QString::number(i));
                    s.iSQL.setParam(QStringLiteral("o"), QString(3000, QLatin1Char('z')));
                    s.iSQL.execute();
                    s.IBTrans.commit();
                }
            } catch (const DbError &e) {
                text = e.text();
            }
        }
        if (mounted)
            QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), mount});
        holder.closeWriteChannel();
        holder.waitForFinished(10000);
        QVERIFY2(text.contains(said) && text.contains(QStringLiteral("Сообщение базы данных:")), qPrintable(text));
    }

    // Each engine failure is told in Russian, with the engine's text kept as a
    // detail; the advice about data left on the screen is the windows' only:
    // the command-line tools turn it off.
    void engineStatusTold_data()
    {
        QTest::addColumn<long>("code");
        QTest::addColumn<bool>("windows");
        QTest::addColumn<QString>("said");
        QTest::newRow("internal consistency check") << long(isc_bug_check) << true << "База данных повреждена";
        QTest::newRow("consistency check in a tool") << long(isc_bug_check) << false << "восстановите копию";
        QTest::newRow("connection lost in a window") << long(isc_conn_lost) << true << "остались на экране";
        QTest::newRow("connection lost in a tool") << long(isc_conn_lost) << false << "Соединение с базой данных";
        QTest::newRow("write failed in a tool") << long(isc_io_write_err) << false << "Изменения не записаны";
        QTest::newRow("file cut short under the engine") << long(isc_io_read_err) << true << "не удалось прочитать";
    }
    void engineStatusTold()
    {
        QFETCH(long, code);
        QFETCH(bool, windows);
        QFETCH(QString, said);
        db::StatusCodes codes;
        codes.items = {{isc_arg_gds, code}};
        db::setWindowAdvice(windows);
        const QString text = db::engineError(codes, u"internal Firebird consistency check"_s).text();
        db::setWindowAdvice(true);
        QVERIFY2(text.contains(said), qPrintable(text));
        QVERIFY2(text.at(0).script() == QChar::Script_Cyrillic, qPrintable(text));
        QVERIFY2(text.contains(u"Сообщение базы данных:\rinternal Firebird consistency check"_s), qPrintable(text));
        QVERIFY2(windows || !text.contains(u"на экране"_s), qPrintable(text));
    }

    // A reading copy left idle with its list half fetched holds nothing back:
    // while another copy makes many changes, the oldest active transaction
    // moves on and old record versions are cleaned away.
    void idleReaderHoldsNothingBack()
    {
        const QString path = testdb::freshDatabase(dir.path(), QStringLiteral("idle.fdb"));
        testdb::addCards(path, 3000, [](int i) {
            return QList<QPair<QString, QString>>{{u"fam"_s, QString::number(i)}};
        });
        testdb::QueryDb idle;
        testdb::open(idle, path);
        // The list's cursor, on a read transaction of its own as the list keeps it.
        db::IBTransaction listTrans(&idle.IBDbase, db::IBTransaction::Kind::Read);
        db::IBQuery list(&idle.IBDbase, &listTrans);
        list.setSql(QStringLiteral("SELECT pk_id, fam FROM base"));
        list.open(); // the list: its first row is in, the rest still to come
        QVERIFY(!list.fetchedAll());
        idle.access.read(sql::selectCard(), {{QStringLiteral("pk_id"), qint64(1)}}).next(); // and a card opened

        testdb::QueryDb busy;

        testdb::open(busy, path);
        busy.iSQL.setSql(QStringLiteral("UPDATE base SET name1 = :n WHERE pk_id = 1"));
        constexpr int kUpdates = 2000;
        for (int i = 0; i < kUpdates; ++i) {
            busy.iSQL.setParam(QStringLiteral("n"), QString::number(i));
            busy.iSQL.execute();
            busy.IBTrans.commit();
        }
        busy.iRead.setSql(
            QStringLiteral("SELECT MON$NEXT_TRANSACTION - MON$OLDEST_ACTIVE AS behind FROM MON$DATABASE"));
        busy.iRead.open();
        const qint64 behind = busy.iRead.asInt(QStringLiteral("behind"));
        busy.iRead.close();
        QVERIFY2(behind < 50, qPrintable(QStringLiteral("the oldest active transaction is %1 behind").arg(behind)));
        // The list still arrives whole.
        list.last();
        QCOMPARE(list.recordCount(), 3000);
    }

    // The lock folder is trusted only when it is a folder of this machine's
    // engine users, closed to others, with room for the engine's files.
    void lockFolderProblems_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("said"); // empty: usable
        QTest::newRow("sound") << "sound"
                               << "";
        // Usable by a user; root's engine would follow what anybody plants there.
        QTest::newRow("sticky and open to all") << "sticky" << (::geteuid() == 0 ? "от имени root" : "");
        QTest::newRow("a person in its group, root using it") << "person"
                                                              << "от имени root";
        QTest::newRow("missing") << "missing"
                                 << "не удалось создать";
        QTest::newRow("a link") << "link"
                                << "ссылка";
        QTest::newRow("a file") << "file"
                                << "не папка";
        QTest::newRow("writable by others") << "open"
                                            << "открыта для записи всем";
        QTest::newRow("another user's") << "foreign"
                                        << "создал другой пользователь";
        QTest::newRow("full") << "full"
                              << "не осталось места";
        QTest::newRow("the engine's files") << "files"
                                            << "";
        QTest::newRow("a link planted inside") << "planted link"
                                               << "«fb_lock_1» — ссылка или особый файл";
        QTest::newRow("a pipe planted inside") << "planted pipe"
                                               << "«fb_lock_1» — ссылка или особый файл";
    }
    void lockFolderProblems()
    {
        QFETCH(QString, kind);
        QFETCH(QString, said);
        QTemporaryDir root;
        const QString folder = root.filePath(QStringLiteral("lock"));
        if (kind == QLatin1String("link")) {
            QDir().mkpath(root.filePath(QStringLiteral("elsewhere")));
            QVERIFY(QFile::link(root.filePath(QStringLiteral("elsewhere")), folder));
        } else if (kind == QLatin1String("file")) {
            QFile f(folder);
            QVERIFY(f.open(QIODevice::WriteOnly));
        } else if (kind != QLatin1String("missing")) {
            QVERIFY(QDir().mkpath(folder));
        }
        const QByteArray native = QFile::encodeName(folder);
        if (kind == QLatin1String("sticky"))
            QCOMPARE(::chmod(native.constData(), 01777), 0);
        if (kind == QLatin1String("open"))
            QCOMPARE(::chmod(native.constData(), 0777), 0);
        if (kind == QLatin1String("foreign") && (::geteuid() != 0 || ::chown(native.constData(), 65534, 65534) != 0))
            QSKIP("needs root to give the folder to another account");
        // A second account, a person's, whose own group the folder is given to.
        const QString person = u"zentraxlock"_s;
        if (kind == QLatin1String("person")) {
            if (::geteuid() != 0)
                QSKIP("needs root to add an account");
            QProcess::execute(u"userdel"_s, {person});
            QCOMPARE(QProcess::execute(u"useradd"_s, {u"-K"_s, u"UID_MIN=1000"_s, u"-U"_s, person}), 0);
            QVERIFY(QProcess::execute(u"chgrp"_s, {person, folder}) == 0 && ::chmod(native.constData(), 02770) == 0);
        }
        bool mounted = false;
        if (kind == QLatin1String("full")) {
            mounted = QProcess::execute(QStringLiteral("mount"),
                                        {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                         QStringLiteral("size=1m"), QStringLiteral("tmpfs"), folder}) == 0;
            if (!mounted)
                QSKIP("needs root to mount a small file system");
            QFile fill(folder + QStringLiteral("/fill"));
            QVERIFY(fill.open(QIODevice::WriteOnly));
            fill.write(QByteArray(900 * 1024, 'x'));
        }
        // What the engine keeps there, and what another user could plant
        // under its names for the engine to follow.
        if (kind == QLatin1String("files") || kind.startsWith(QLatin1String("planted"))) {
            QFile lockFile(folder + QStringLiteral("/fb12_monitor_00fe01"));
            QVERIFY(lockFile.open(QIODevice::WriteOnly));
        }
        const QByteArray planted = QFile::encodeName(folder + QStringLiteral("/fb_lock_1"));
        if (kind == QLatin1String("planted link"))
            QVERIFY(QFile::link(root.filePath(QStringLiteral("victim")), folder + QStringLiteral("/fb_lock_1")));
        if (kind == QLatin1String("planted pipe"))
            QCOMPARE(::mkfifo(planted.constData(), 0660), 0);
        const QString problem = db::lockFolderProblem(folder);
        if (kind == QLatin1String("planted link")) { // and no database file is opened with it
            const QByteArray saved = qgetenv("FIREBIRD_LOCK");
            qputenv("FIREBIRD_LOCK", QFile::encodeName(folder));
            db::IBDatabase d;
            d.databaseName = root.filePath(QStringLiteral("dbase.fdb"));
            try {
                d.open();
                QFAIL("a database opened with a link in its lock folder");
            } catch (const db::DbError &e) {
                QVERIFY2(e.text().contains(QStringLiteral("ссылка или особый файл")), qPrintable(e.text()));
            }
            qputenv("FIREBIRD_LOCK", saved);
        }
        if (mounted)
            QProcess::execute(QStringLiteral("umount"), {folder});
        if (kind == QLatin1String("person"))
            QProcess::execute(u"userdel"_s, {person});
        if (said.isEmpty())
            QVERIFY2(problem.isEmpty(), qPrintable(problem));
        else
            QVERIFY2(problem.contains(said) && problem.contains(folder), qPrintable(problem));
    }

    // A lock folder whose disk a colleague fills after the program started:
    // the engine's tables there got their room on the disk when the
    // connections opened, so reading every card through each goes on
    // instead of the engine killing the process at its next page there.
    void lockFolderFillingUp()
    {
        if (::geteuid() != 0)
            QSKIP("needs root to mount a small file system");
        QTemporaryDir dir;
        const QString path = testdb::freshDatabase(dir.path());
        constexpr int kCards = 20000; // some 1,500 pages, each held by a lock of every connection caching it
        testdb::addCards(path, kCards, [](int i) {
            const QString wide(240, u'ж');
            return QList<QPair<QString, QString>>{
                {u"fam"_s, QString::number(i)}, {u"work"_s, wide}, {u"dep"_s, wide}, {u"post"_s, wide}};
        });
        const QString locks = dir.filePath(u"locks"_s);
        QVERIFY(QDir().mkpath(locks));
        QProcess child;
        child.setProcessChannelMode(QProcess::MergedChannels);
        // A mount of its own: gone with the child, whatever becomes of it.
        child.start(u"unshare"_s, {u"-m"_s, u"sh"_s, u"-c"_s,
                                   u"mount -t tmpfs -o size=20m tmpfs \"$1\" || exit 99; mkdir -m 0700 \"$1/fb\" && "
                                   u"FIREBIRD_LOCK=\"$1/fb\" exec \"$2\" fill-locks \"$3\""_s,
                                   u"sh"_s, locks, QStringLiteral(ENGINE_CHILD), path});
        QVERIFY(child.waitForFinished(180000));
        const QString out = QString::fromUtf8(child.readAll()).trimmed();
        if (child.exitStatus() == QProcess::NormalExit && child.exitCode() == 99)
            QSKIP("cannot mount a small file system here");
        QVERIFY2(child.exitStatus() == QProcess::NormalExit, "the engine killed the process");
        QVERIFY2(child.exitCode() == 0, qPrintable(out));
        QCOMPARE(out, QString::number(4 * kCards));
    }

    // A database file overwritten in place under a running program: the
    // engine's next read fails (told in Russian), and the engine may then
    // never let go of the file; the process still ends within its deadline.
    void overwrittenFileStillEnds()
    {
        QTemporaryDir dir;
        const QString path = testdb::freshDatabase(dir.path());
        const QString other = testdb::freshDatabase(dir.path(), u"other.fdb"_s);
        testdb::addCards(path, 300, [](int i) {
            return QList<QPair<QString, QString>>{{u"fam"_s, QString::number(i)}};
        });
        testdb::addCards(other, 3000, [](int i) {
            return QList<QPair<QString, QString>>{{u"fam"_s, QString::number(i)}, {u"work"_s, QString(200, u'ж')}};
        });
        QProcess child;
        child.setProcessChannelMode(QProcess::MergedChannels);
        // A lock folder of its own: what an engine ended this way leaves there goes with the test's folder.
        const QString locks = dir.filePath(u"locks"_s);
        QVERIFY(QDir().mkpath(locks));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"FIREBIRD_LOCK"_s, locks);
        child.setProcessEnvironment(env);
        QElapsedTimer t;
        t.start();
        child.start(QStringLiteral(ENGINE_CHILD), {u"overwrite"_s, path, other});
        const bool ended = child.waitForFinished(60000);
        const QString out = QString::fromUtf8(child.readAll());
        if (!ended)
            child.kill();
        QVERIFY2(ended, "the process waited for the engine past its deadline");
        QVERIFY2(child.exitStatus() == QProcess::NormalExit, qPrintable(out));
        QVERIFY2(out.startsWith(u"База данных повреждена или файл был заменён"_s), qPrintable(out));
        // 0: the engine let go by itself; 7: the deadline ended it.
        QVERIFY2(child.exitCode() == 0 || child.exitCode() == 7, qPrintable(out));
        QVERIFY2(t.elapsed() < 30000, qPrintable(out));
    }
};

QTEST_GUILESS_MAIN(TestDb)
#include "tst_db.moc"
