// The users of the program: list order, levels in words, storing and
// deleting, and the refusal of a login that another user holds.

#include "core/logins.h"
#include "core/users.h"
#include "db/schema.h"
#include "db/shared.h"
#include "testdb.h"

#include <QtTest>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

using Db = testdb::SharedFixture;

core::UserRecord user(const QString &fio, const QString &login, qint64 id = -1)
{
    return core::UserRecord{id, fio, login, QStringLiteral("pw"), QStringLiteral("read")};
}

QString refusal(const std::function<void()> &f)
{
    try {
        f();
    } catch (const db::DbError &e) {
        return e.text();
    }
    return QString();
}

} // namespace

class TestUsers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { testdb::init(); }

    void levels_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("saved");
        QTest::newRow("read") << "read"
                              << "Только чтение"
                              << "read";
        QTest::newRow("full") << "full"
                              << "Полный"
                              << "full";
        QTest::newRow("empty") << ""
                               << "Полный"
                               << "full";
        QTest::newRow("other case") << "READ"
                                    << "Полный"
                                    << "full";
    }
    // A stored level in the list, in the editor's list, and as the editor stores it back.
    void levels()
    {
        QFETCH(QString, stored);
        QFETCH(QString, shown);
        QFETCH(QString, saved);
        QCOMPARE(core::levelText(stored), shown);
        QCOMPARE(core::levelOfIndex(core::levelIndex(stored)), saved);
    }

    void listInCyrillicOrder()
    {
        Db d;
        for (const char *fio : {"Яковлев", "Ёлкин", "андреев", "Борисов", "Ершов", "Жуков"})
            testdb::addUser(d.path, QString::fromUtf8(fio), QString::fromUtf8(fio) + QStringLiteral("_login"),
                            QString(), QStringLiteral("full"));
        const QList<core::UserRecord> users = core::Users(d.s.access).list();
        QStringList order;
        for (const auto &u : users)
            order << u.fio;
        // Ё between Е and Ж, lower case with upper case: not by character code.
        QCOMPARE(order, (QStringList{u"андреев"_s, u"Борисов"_s, u"Ершов"_s, u"Ёлкин"_s, u"Жуков"_s, u"Яковлев"_s}));
        QCOMPARE(users[1].login, QStringLiteral("Борисов_login"));
        QCOMPARE(users[1].pass, QString()); // NULL reads as empty
        QVERIFY(!d.s.IBTrans.active());     // nothing written
    }

    // Insert, load, update and delete, each stored at once.
    void lifecycle()
    {
        Db d;
        core::Users users(d.s.access);
        core::UserRecord u{-1, QStringLiteral("Петров Пётр"), QStringLiteral("petrov"), QString(),
                           QStringLiteral("read")};
        users.insert(u);
        QVERIFY(!d.s.IBTrans.active());
        QCOMPARE(d.count(QStringLiteral("SELECT * FROM pers WHERE pass = ''")), 1); // empty, not NULL
        const qint64 id = d.value(QStringLiteral("SELECT pk_id FROM pers")).toLongLong();
        u.id = id;
        QCOMPARE(users.load(id), std::optional<core::UserRecord>(u));
        const core::UserRecord loaded = u;
        QVERIFY(!users.load(id + 100));
        // A text the database cannot hold is refused, its field named, before anything is sent.
        const QString tooLong = refusal([&] { users.insert(user(QString(301, QChar(0x424)), QStringLiteral("x"))); });
        QVERIFY2(tooLong.contains(QStringLiteral("«ФИО»")), qPrintable(tooLong));
        QCOMPARE(d.count(QStringLiteral("SELECT * FROM pers")), 1);

        u.fio = QStringLiteral("Петров П. П.");
        u.pass = QStringLiteral("Secret 'x'");
        u.level = QStringLiteral("full");
        QVERIFY(users.update(u, loaded));
        QVERIFY(!d.s.IBTrans.active());
        // Saved over a colleague's change: refused, nothing written.
        QVERIFY(refusal([&] {
                    users.update(user(QStringLiteral("Другой"), QStringLiteral("petrov"), id), loaded);
                }).contains(QStringLiteral("другой пользователь")));
        QCOMPARE(d.value(QStringLiteral("SELECT fio || '|' || pass || '|' || level FROM pers")),
                 QStringLiteral("Петров П. П.|Secret 'x'|full"));

        testdb::addUser(d.path, QStringLiteral("Второй"), QStringLiteral("second"), QStringLiteral("s"),
                        QStringLiteral("read"));
        users.remove(id);
        QVERIFY(!d.s.IBTrans.active());
        QCOMPARE(d.value(QStringLiteral("SELECT LIST(login) FROM pers")), QStringLiteral("second"));
        // A user deleted meanwhile: the update stores nothing and says so.
        QVERIFY(!users.update(u, u));
        QCOMPARE(d.count(QStringLiteral("SELECT * FROM pers")), 1);
    }

    void loginHeldByAnother_data()
    {
        QTest::addColumn<QString>("login");
        QTest::addColumn<bool>("editIvan"); // false: a new user
        QTest::addColumn<bool>("refused");
        QTest::newRow("new admin") << "admin" << false << true;
        QTest::newRow("ivan renamed admin") << "admin" << true << true;
        QTest::newRow("trailing blank") << "admin " << false << true;
        QTest::newRow("other case") << "Admin" << false << false;
        QTest::newRow("leading blank") << " admin" << false << false;
        QTest::newRow("ivan keeps his") << "ivan" << true << false;
        QTest::newRow("new ivan") << "ivan" << false << true;
        QTest::newRow("free") << "petrov" << false << false;
    }
    // Refused exactly when the login window would find the other user by it,
    // so that nobody is locked out; nothing is written then.
    void loginHeldByAnother()
    {
        QFETCH(QString, login);
        QFETCH(bool, editIvan);
        QFETCH(bool, refused);
        Db d;
        testdb::addUser(d.path, QStringLiteral("Администратор"), QStringLiteral("admin"), QStringLiteral("adm"),
                        QStringLiteral("full"));
        testdb::addUser(d.path, QStringLiteral("Иванов"), QStringLiteral("ivan"), QStringLiteral("iv"),
                        QStringLiteral("read"));
        const qint64 ivan = d.value(QStringLiteral("SELECT pk_id FROM pers WHERE login = 'ivan'")).toLongLong();
        core::Users users(d.s.access);
        const core::UserRecord u = user(QStringLiteral("Новый"), login, editIvan ? ivan : -1);

        // The login window's own look-up, before the change.
        core::LoggedUser found;
        const bool foundOther =
            core::Logins(d.s.access).check(login, QStringLiteral("?"), &found) != core::LoginResult::UnknownLogin;
        QCOMPARE(foundOther && !(editIvan && login == QLatin1String("ivan")), refused);

        const QString before = d.value(QStringLiteral("SELECT LIST(pk_id || login || fio, ',') FROM pers"));
        QCOMPARE(users.problem(u).isEmpty(), !refused);
        const QString text = refusal([&] { editIvan ? void(users.update(u, *users.load(ivan))) : users.insert(u); });
        QCOMPARE(!text.isEmpty(), refused);
        if (refused) {
            QVERIFY2(text.contains(QStringLiteral("уже занят")) &&
                         text.contains(login == QLatin1String("ivan") ? QStringLiteral("«Иванов»")
                                                                      : QStringLiteral("«Администратор»")),
                     qPrintable(text));
            QCOMPARE(d.value(QStringLiteral("SELECT LIST(pk_id || login || fio, ',') FROM pers")), before);
        } else {
            QCOMPARE(d.count(QStringLiteral("SELECT * FROM pers WHERE fio = 'Новый'")), 1);
        }
        // The administrator still logs in as himself.
        QCOMPARE(core::Logins(d.s.access).check(QStringLiteral("admin"), QStringLiteral("adm"), &found),
                 core::LoginResult::Ok);
        QCOMPARE(found.fullName, QStringLiteral("Администратор"));
    }

    // Whatever a window sends, the administrator keeps name, login and level
    // (only the password changes) and is never deleted.
    void administratorStays()
    {
        Db d;
        // A level written by another program, which the editor shows as full.
        testdb::addUser(d.path, QStringLiteral("Администратор"), QStringLiteral("admin"), QStringLiteral("adm"),
                        QStringLiteral("FULL"));
        core::Users users(d.s.access);
        const core::UserRecord admin = *users.load(1);
        for (auto change : {&core::UserRecord::login, &core::UserRecord::fio, &core::UserRecord::level}) {
            core::UserRecord u = admin;
            u.*change = QStringLiteral("read");
            QVERIFY(refusal([&] { users.update(u, admin); }).contains(QStringLiteral("администратора")));
        }
        QVERIFY(refusal([&] { users.remove(1); }).contains(QStringLiteral("удалить нельзя")));
        core::UserRecord u = admin;
        u.pass = QStringLiteral("new");
        u.level = QStringLiteral("full"); // as the editor sends it
        QVERIFY(users.update(u, admin));
        QCOMPARE(d.value(QStringLiteral("SELECT login || '|' || fio || '|' || pass || '|' || level FROM pers")),
                 QStringLiteral("admin|Администратор|new|FULL"));
    }

    // Two administrators add one login at the same moment, each past the
    // look-up before the other's commit: the database refuses the second,
    // told as the look-up tells it.
    void sameLoginAddedAtOnce()
    {
        Db d;
        SharedDb other; // a second copy of the program
        testdb::open(other, d.path);
        core::Users mine(d.s.access), theirs(other.access);
        QString refused;
        std::thread colleague;
        d.s.IBTrans.beforeCommit = [&] {
            // The colleague's save starts while this one is not committed: its look-up finds nobody.
            colleague = std::thread([&] {
                refused = refusal([&] { theirs.insert(user(QStringLiteral("Второй"), QStringLiteral("petrov"))); });
            });
            QThread::msleep(500);
        };
        mine.insert(user(QStringLiteral("Первый"), QStringLiteral("petrov")));
        d.s.IBTrans.beforeCommit = nullptr;
        colleague.join();
        QVERIFY2(refused.contains(QStringLiteral("уже занят")) && refused.contains(QStringLiteral("«Первый»")),
                 qPrintable(refused));
        QCOMPARE(d.count(QStringLiteral("SELECT * FROM pers")), 1);
    }

    // A database that lets two users hold one login gets the rule with the
    // upgrade, unless some login is held twice already: then it is told and
    // that step waits; each step is made once and recorded.
    void upgradeOfAnOlderDatabase()
    {
        Db d;
        testdb::exec(d.path, QStringLiteral("DROP INDEX pers_login_unique"));
        for (const char *login : {"ivan", "ivan ", "petr", "admin"})
            testdb::addUser(d.path, QStringLiteral("X"), QString::fromUtf8(login), QString(), QStringLiteral("read"));
        d.s.IBDbase.close();
        d.s.IBDbase.open();
        QCOMPARE(schema::pendingUpgrade(d.s.IBDbase).size(), 1);
        const schema::UpgradeReport first = schema::upgrade(d.s.IBDbase);
        QCOMPARE(first.duplicates, QStringList{QStringLiteral("ivan")});
        QVERIFY(first.text().contains(QStringLiteral("«ivan»")));
        QCOMPARE(d.count(QStringLiteral("SELECT * FROM RDB$INDICES WHERE RDB$INDEX_NAME = 'PERS_LOGIN_UNIQUE'")), 0);
        QCOMPARE(d.count(QStringLiteral("SELECT * FROM pers")), 4);
        QCOMPARE(schema::pendingUpgrade(d.s.IBDbase).size(), 1);
        testdb::exec(d.path, QStringLiteral("UPDATE pers SET login = 'ivan2' WHERE pk_id = 2"));
        const schema::UpgradeReport second = schema::upgrade(d.s.IBDbase);
        QVERIFY(second.complete());
        QCOMPARE(second.done, QStringList{QStringLiteral("login_unique")});
        QCOMPARE(schema::upgrade(d.s.IBDbase).done, QStringList()); // once is enough
        QCOMPARE(schema::pendingUpgrade(d.s.IBDbase).size(), 0);
        QCOMPARE(d.count(QStringLiteral("SELECT * FROM zentrax_upgrades WHERE step = 'login_unique'")), 2);
        QVERIFY_THROWS_EXCEPTION(db::DbError, testdb::addUser(d.path, QStringLiteral("Y"), QStringLiteral("petr"),
                                                              QString(), QStringLiteral("read")));
    }
};

QTEST_GUILESS_MAIN(TestUsers)
#include "tst_users.moc"
