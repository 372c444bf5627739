// The rules of cards, accounts, reference values, logins and the contact
// list, against real database files and without any window.

#include "core/arena.h"
#include "core/cardcheck.h"
#include "core/cardstore.h"
#include "core/changewatch.h"
#include "core/collationorder.h"
#include "core/indexbuild.h"
#include "core/contactlist.h"
#include "core/listfetch.h"
#include "core/listservice.h"
#include "core/logins.h"
#include "core/listmodel.h"
#include "core/refvalues.h"
#include "core/searchindex.h"
#include "core/stamp.h"
#include "core/typedtext.h"
#include "db/cp1251.h"
#include "db/schema.h"
#include "db/shared.h"
#include "referencesql.h"
#include "testdb.h"

#include <QtTest>
#include <future>
#include <thread>
#include <algorithm>

using namespace Qt::StringLiterals;
using Cols = QList<QPair<QString, QString>>;

namespace {

using Db = testdb::SharedFixture;

core::CardRecord record(const QString &fam, const QString &work = QString())
{
    core::CardRecord r;
    for (const QString &c : core::cardColumns())
        r.values.insert(c, QString());
    r.values[QStringLiteral("fam")] = fam;
    r.values[QStringLiteral("work")] = work;
    r.values[QStringLiteral("bdate")] = QStringLiteral("  .  .    ");
    r.values[QStringLiteral("smok")] = QStringLiteral("1");
    return r;
}

core::Accounts accounts(const QString &first)
{
    core::Accounts a;
    for (int k = 0; k < 4; ++k) {
        a.network[k] = QStringLiteral("%1 ...").arg(k + 1);
        a.address[k] = QStringLiteral("page%1").arg(k + 1);
    }
    a.network[0] = first;
    return a;
}

// The index read beside the window, as the list service reads it.
std::shared_ptr<core::OwnIndex> buildIndex(const QString &path)
{
    std::promise<std::shared_ptr<core::OwnIndex>> got;
    core::IndexBuild b(
        path, [&](std::shared_ptr<core::OwnIndex> index, const QString &) { got.set_value(std::move(index)); });
    return got.get_future().get();
}

// The catch-up the index asks for, read beside it as the list service
// reads it, then taken in.
void catchUp(const std::shared_ptr<core::OwnIndex> &own)
{
    std::promise<std::unique_ptr<core::SearchIndex::CatchUp>> got;
    std::unique_ptr<core::SearchIndex::CatchUp> caughtUp;
    {
        core::IndexCatchUp c(
            own, [&](std::unique_ptr<core::SearchIndex::CatchUp> r, const QString &) { got.set_value(std::move(r)); });
        caughtUp = got.get_future().get();
    }
    own->index.takeCatchUp(std::move(caughtUp));
}

// Saves as the card window does: the card as loaded just now is what the
// save expects to find stored.
bool saveOver(core::CardStore &store, qint64 id, const core::CardRecord &r, qint64 user, const core::Accounts *acc)
{
    return store.update(id, r, user, acc, store.load(id).value_or(core::CardRecord{}), store.loadAccounts(id));
}

} // namespace

class TestCore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { testdb::init(); }
    // A test that turned the learned order off, or lowered the changes taken
    // in at once, leaves them as they were for the next.
    void cleanup()
    {
        core::SearchIndex::placeByLearnedOrder = true;
        core::SearchIndex::mostChangesHere = 2000;
    }

    // Insert, load, update and delete of a card with its accounts.
    void cardLifecycle()
    {
        Db d;
        core::CardStore store(d.s.access);
        core::CardRecord r = record(QStringLiteral("Иванов"), QStringLiteral("АО Вектор"));
        r.values[QStringLiteral("other")] = QStringLiteral("строка 1\r\nстрока\u00A02");
        const core::Accounts acc = accounts(QStringLiteral("VK"));
        const qint64 id = store.insert(r, 7, QStringLiteral("7_01022026_101010"), &acc);
        QVERIFY(id > 0);

        const auto loaded = store.load(id);
        QVERIFY(loaded);
        for (const QString &c : core::cardColumns())
            QCOMPARE(loaded->value(c), r.value(c));
        QCOMPARE(loaded->sysinfo, QStringLiteral("7_01022026_101010"));
        QCOMPARE(loaded->fpath, QString());
        QCOMPARE(d.value(QStringLiteral("SELECT fdt || '/' || ldt FROM base")), QStringLiteral("7/7"));
        QCOMPARE(store.loadAccounts(id), std::optional<core::Accounts>(acc));

        // Update by another user, no accounts: the accounts row stays as it was.
        r.values[QStringLiteral("fam")] = QStringLiteral("Петров");
        QVERIFY(saveOver(store, id, r, 9, nullptr));
        QCOMPARE(d.value(QStringLiteral("SELECT fam || '/' || fdt || '/' || ldt FROM base")),
                 QStringLiteral("Петров/7/9"));
        QCOMPARE(store.loadAccounts(id)->network[0], QStringLiteral("VK"));

        // A card without an accounts row gets one on its first accounts save, then it is updated.
        const qint64 other = store.insert(record(QStringLiteral("Сидоров")), 7, QStringLiteral("s"), nullptr);
        QVERIFY(!store.loadAccounts(other));
        QVERIFY(saveOver(store, other, record(QStringLiteral("Сидоров")), 7, &acc));
        const core::Accounts changed = accounts(QStringLiteral("QQ"));
        QVERIFY(saveOver(store, other, record(QStringLiteral("Сидоров")), 7, &changed));
        QCOMPARE(d.count(QStringLiteral("SELECT * FROM accounts WHERE bs_fk = %1").arg(other)), 1);
        QCOMPARE(store.loadAccounts(other)->network[0], QStringLiteral("QQ"));
        QCOMPARE(store.loadAccounts(id)->network[0], QStringLiteral("VK"));

        // A card deleted meanwhile: nothing stored, not even its accounts.
        store.remove(other);
        QVERIFY(!store.load(other));
        QCOMPARE(d.count(QStringLiteral("SELECT * FROM accounts WHERE bs_fk = %1").arg(other)), 0);
        QVERIFY(!saveOver(store, other, record(QStringLiteral("Сидоров")), 7, &acc));
        QCOMPARE(d.count(QStringLiteral("SELECT * FROM accounts")), 1);
        QCOMPARE(d.count(QStringLiteral("SELECT * FROM base")), 1);
        QVERIFY(!d.s.IBTrans.active());
    }

    // A save stores over the card only while it is stored as it was loaded:
    // whatever was read meanwhile (a printout, another card), a colleague's
    // change of the card or of its accounts is never written over.
    void saveMeetsAColleaguesChange()
    {
        Db d;
        core::CardStore store(d.s.access);
        const core::Accounts acc = accounts(QStringLiteral("VK"));
        const qint64 id = store.insert(record(QStringLiteral("Общий")), 1, QStringLiteral("s"), &acc);
        const core::CardRecord loaded = *store.load(id);
        const std::optional<core::Accounts> loadedAcc = store.loadAccounts(id);
        core::CardRecord mine = loaded;
        mine.values[QStringLiteral("ps")] = QStringLiteral("4510");
        const core::Accounts myAcc = accounts(QStringLiteral("QQ"));
        auto conflict = [&](const core::Accounts *a) {
            try {
                store.update(id, mine, 2, a, loaded, loadedAcc);
            } catch (const db::DbError &e) {
                return e.conflict();
            }
            return false;
        };
        struct Change
        {
            const char *colleague;
            bool withAccounts;
        };
        for (const Change &c :
             {Change{"UPDATE base SET wtel = '111'", false}, Change{"UPDATE base SET other = 'заметка'", false},
              Change{"UPDATE accounts SET adr2 = 'x'", true}, Change{"DELETE FROM accounts", true}}) {
            testdb::exec(d.path, QString::fromUtf8(c.colleague));
            store.load(id); // a read between the load and the save, as a printout makes
            store.loadAccounts(id);
            QVERIFY2(conflict(c.withAccounts ? &myAcc : nullptr), c.colleague);
            QVERIFY2(conflict(c.withAccounts ? &myAcc : nullptr), c.colleague); // and again, on every later save
            QVERIFY(!d.s.IBTrans.active());
            QCOMPARE(d.count(QStringLiteral("SELECT * FROM base WHERE ps = '4510'")), 0);
            QCOMPARE(d.count(QStringLiteral("SELECT * FROM accounts WHERE sn1 = 'QQ'")), 0);
            testdb::exec(d.path,
                         QStringLiteral("UPDATE base SET wtel = NULL, other = NULL;\n"
                                        "DELETE FROM accounts;\n"
                                        "INSERT INTO accounts (bs_fk, sn1, sn2, sn3, sn4, adr1, adr2, adr3, adr4) "
                                        "VALUES (%1, 'VK', '2 ...', '3 ...', '4 ...', 'page1', 'page2', 'page3', "
                                        "'page4')")
                             .arg(id));
        }
        // A change of the accounts alone does not stop a save of the card alone.
        testdb::exec(d.path, QStringLiteral("UPDATE accounts SET adr2 = 'x'"));
        QVERIFY(store.update(id, mine, 2, nullptr, loaded, loadedAcc));
        QCOMPARE(d.value(QStringLiteral("SELECT ps || '/' || adr2 FROM base JOIN accounts ON bs_fk = base.pk_id")),
                 QStringLiteral("4510/x"));
    }

    // A card and its accounts are stored together or not at all.
    void saveIsAllOrNothing()
    {
        Db d;
        core::CardStore store(d.s.access);
        core::Accounts tooLong = accounts(QStringLiteral("VK"));
        tooLong.address[3] = QString(5000, QLatin1Char('x')); // longer than the column: the engine refuses it
        QVERIFY_THROWS_EXCEPTION(db::DbError,
                                 store.insert(record(QStringLiteral("Новый")), 1, QStringLiteral("s"), &tooLong));
        QCOMPARE(d.count(QStringLiteral("SELECT * FROM base")), 0);
        QCOMPARE(d.count(QStringLiteral("SELECT * FROM accounts")), 0);

        const core::Accounts acc = accounts(QStringLiteral("VK"));
        const qint64 id = store.insert(record(QStringLiteral("Старый")), 1, QStringLiteral("s"), &acc);
        QVERIFY_THROWS_EXCEPTION(db::DbError, saveOver(store, id, record(QStringLiteral("Изменён")), 1, &tooLong));
        QCOMPARE(d.value(QStringLiteral("SELECT fam FROM base")), QStringLiteral("Старый"));
        QCOMPARE(store.loadAccounts(id), std::optional<core::Accounts>(acc));

        // The next save, unrelated, stores only itself.
        store.insert(record(QStringLiteral("Третий")), 1, QStringLiteral("s"), nullptr);
        QCOMPARE(d.count(QStringLiteral("SELECT * FROM base")), 2);
        QCOMPARE(d.count(QStringLiteral("SELECT * FROM base WHERE fam = 'Изменён' OR fam = 'Новый'")), 0);
    }

    // A deletion refused at the card keeps the card's accounts too.
    void deletionIsAllOrNothing()
    {
        Db d;
        core::CardStore store(d.s.access);
        const core::Accounts acc = accounts(QStringLiteral("VK"));
        const qint64 id = store.insert(record(QStringLiteral("Вечный")), 1, QStringLiteral("s"), &acc);
        testdb::exec(d.path, QStringLiteral("CREATE EXCEPTION keep_card 'kept';\n"
                                            "CREATE TRIGGER keep_card FOR base BEFORE DELETE AS BEGIN "
                                            "IF (OLD.fam = 'Вечный') THEN EXCEPTION keep_card; END"));
        d.s.IBDbase.close(); // a connection reads the triggers when it opens
        d.s.IBDbase.open();
        QVERIFY_THROWS_EXCEPTION(db::DbError, store.remove(id));
        QCOMPARE(store.loadAccounts(id), std::optional<core::Accounts>(acc));
        QVERIFY(store.load(id));
    }

    // A commit that fails leaves nothing behind for the next one to store.
    void failedCommitIsRolledBack()
    {
        Db d;
        testdb::exec(d.path, QStringLiteral("CREATE EXCEPTION no_commit 'refused at commit';\n"
                                            "CREATE TRIGGER refuse_marked ON TRANSACTION COMMIT AS BEGIN "
                                            "IF (EXISTS(SELECT 1 FROM base WHERE fam = 'REFUSED')) THEN "
                                            "EXCEPTION no_commit; END"));
        d.s.IBDbase.close(); // a connection reads the database's triggers when it opens
        d.s.IBDbase.open();
        core::CardStore store(d.s.access);
        const qint64 id = store.insert(record(QStringLiteral("Прежний")), 1, QStringLiteral("s"), nullptr);
        const core::Accounts acc = accounts(QStringLiteral("VK"));
        QVERIFY_THROWS_EXCEPTION(db::DbError,
                                 store.insert(record(QStringLiteral("REFUSED")), 1, QStringLiteral("s"), &acc));
        QVERIFY_THROWS_EXCEPTION(db::DbError, saveOver(store, id, record(QStringLiteral("REFUSED")), 1, nullptr));
        // Another card's save stores that card alone.
        core::CardRecord other = record(QStringLiteral("Прежний"));
        other.values[QStringLiteral("post")] = QStringLiteral("Инженер");
        QVERIFY(saveOver(store, id, other, 2, nullptr));
        QCOMPARE(d.count(QStringLiteral("SELECT * FROM base")), 1);
        QCOMPARE(d.value(QStringLiteral("SELECT fam || '/' || post FROM base")), QStringLiteral("Прежний/Инженер"));
        QCOMPARE(d.count(QStringLiteral("SELECT * FROM accounts")), 0);
    }

    // What a card's values must meet before they are stored.
    void cardValueChecks()
    {
        Db d;
        core::CardChecks checks(d.s.access);
        const QString fam = QStringLiteral("fam");
        const auto label = [](const QString &) { return QStringLiteral("Фамилия"); };
        const auto problem = [&](const QString &value, const core::CardRecord *loaded) {
            core::CardRecord card;
            card.values.insert(fam, value);
            return checks.cardProblem(card, {fam}, loaded, label);
        };
        // A character of an undefined byte, as another program left it.
        const QString odd = QStringLiteral("Ив") + QChar(0xF798) + QStringLiteral("ов");
        core::CardRecord loaded;
        loaded.values.insert(fam, odd);
        QCOMPARE(problem(QString(100, QChar(0x44F)), nullptr), QString());
        QVERIFY(problem(QString(101, QChar(0x44F)), nullptr)
                    .contains(QStringLiteral("«Фамилия» слишком длинный: 101 знак")));
        QVERIFY(problem(QStringLiteral("Ив\U0001F600"), nullptr).contains(QStringLiteral("«Фамилия» на 3-м месте")));
        QVERIFY(problem(odd, nullptr).contains(QStringLiteral("в позиции 3"))); // a new card
        QCOMPARE(problem(odd, &loaded), QString());                             // untouched: goes back as it came
        QVERIFY(!problem(odd + QStringLiteral("а"), &loaded).isEmpty());        // edited

        core::Accounts accounts;
        accounts.address[2] = QString(501, QLatin1Char('x'));
        QVERIFY(checks.accountsProblem(accounts).contains(QStringLiteral("«Адрес 3»")));
        accounts.address[2].chop(1);
        QCOMPARE(checks.accountsProblem(accounts), QString());
        const QString labels[3] = {QStringLiteral("Место работы"), QStringLiteral("Отдел"),
                                   QStringLiteral("Должность")};
        QVERIFY(checks.refValuesProblem({QString(), QString(), QString(401, QLatin1Char('x'))}, labels)
                    .contains(QStringLiteral("«Должность»")));
        QCOMPARE(checks.refValuesProblem({QString(400, QLatin1Char('x')), QString(), QString()}, labels), QString());
    }

    void referenceValues()
    {
        Db d;
        testdb::exec(d.path, QStringLiteral("INSERT INTO organization (org) VALUES ('ООО \"Ромашка\"');\n"
                                            "INSERT INTO organization (org) VALUES ('');\n"
                                            "INSERT INTO organization (org) VALUES ('АО Вектор');\n"
                                            "INSERT INTO post (post) VALUES ('Инженер')"));
        core::RefValues refs(d.s.access);
        QCOMPARE(refs.list(sql::Ref::Organization),
                 (QStringList{QStringLiteral("ООО \"Ромашка\""), QStringLiteral("АО Вектор")}));
        QVERIFY(refs.contains(sql::Ref::Organization, QStringLiteral("ао вектор")));
        QVERIFY(!refs.contains(sql::Ref::Organization, QStringLiteral("ао")));
        // Only what its book lacks is added, as typed; an organization is reported.
        QVERIFY(!refs.save(QStringLiteral("ао ВЕКТОР"), QStringLiteral("Отдел кадров"), QStringLiteral("ИНЖЕНЕР")));
        QCOMPARE(refs.list(sql::Ref::Department), QStringList{QStringLiteral("Отдел кадров")});
        QCOMPARE(refs.list(sql::Ref::Post), QStringList{QStringLiteral("Инженер")});
        QVERIFY(refs.save(QStringLiteral("O'Brien & Co"), QStringLiteral("отдел КАДРОВ"), QStringLiteral("")));
        QCOMPARE(refs.list(sql::Ref::Organization).last(), QStringLiteral("O'Brien & Co"));
        QCOMPARE(d.count(QStringLiteral("SELECT * FROM department")), 1);
        // An empty value is looked up like any other: added once.
        QCOMPARE(d.count(QStringLiteral("SELECT * FROM post WHERE post = ''")), 1);
        refs.save(QStringLiteral("O'Brien & Co"), QString(), QString());
        QCOMPARE(d.count(QStringLiteral("SELECT * FROM post WHERE post = ''")), 1);
        QVERIFY(!d.s.iRead.isOpen() && !d.s.IBTrans.active()); // nothing left open, nothing written
    }

    void logins_data()
    {
        QTest::addColumn<QString>("login");
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("fio");
        QTest::newRow("right") << "admin"
                               << "Secret" << int(core::LoginResult::Ok) << "Админ";
        QTest::newRow("password case") << "admin"
                                       << "secret" << int(core::LoginResult::WrongPassword) << "";
        QTest::newRow("login case") << "ADMIN"
                                    << "Secret" << int(core::LoginResult::UnknownLogin) << "";
        QTest::newRow("unknown") << "nobody"
                                 << "" << int(core::LoginResult::UnknownLogin) << "";
        QTest::newRow("sql as a value") << "x' OR '1'='1"
                                        << "" << int(core::LoginResult::UnknownLogin) << "";
        QTest::newRow("last of two") << "twin"
                                     << "2" << int(core::LoginResult::Ok) << "Второй";
        QTest::newRow("first of two") << "twin"
                                      << "1" << int(core::LoginResult::WrongPassword) << "";
        QTest::newRow("empty is null") << "nopass"
                                       << "" << int(core::LoginResult::Ok) << "Без пароля";
        QTest::newRow("longer than the column")
            << QString(300, QLatin1Char('a')) << "" << int(core::LoginResult::UnknownLogin) << "";
    }

    void logins()
    {
        static Db *d = nullptr;
        if (!d) {
            d = new Db;
            testdb::exec(d->path, QStringLiteral("DROP INDEX pers_login_unique")); // a database of older days
            testdb::addUser(d->path, QStringLiteral("Админ"), QStringLiteral("admin"), QStringLiteral("Secret"),
                            QStringLiteral("full"));
            testdb::addUser(d->path, QStringLiteral("Первый"), QStringLiteral("twin"), QStringLiteral("1"),
                            QStringLiteral("read"));
            testdb::addUser(d->path, QStringLiteral("Второй"), QStringLiteral("twin"), QStringLiteral("2"),
                            QStringLiteral("read"));
            testdb::addUser(d->path, QStringLiteral("Без пароля"), QStringLiteral("nopass"), QString(),
                            QStringLiteral("read"));
        }
        QFETCH(QString, login);
        QFETCH(QString, password);
        QFETCH(int, result);
        QFETCH(QString, fio);
        core::Logins logins(d->s.access);
        QCOMPARE(logins.all().size(), 4);
        core::LoggedUser user;
        QCOMPARE(int(logins.check(login, password, &user)), result);
        QCOMPARE(user.fullName, fio);
        QVERIFY(!d->s.iRead.isOpen() && !d->s.IBTrans.active()); // nothing left open, nothing written
    }

    // Texts that cannot be compared are refused with the reason, worded for the use.
    void typedTextProblems()
    {
        QCOMPARE(core::typedTextProblem(QStringLiteral("Иванов O'Brien %_"), core::TypedUse::Search), QString());
        const QString emoji = core::typedTextProblem(QStringLiteral("ab\U0001F600"), core::TypedUse::Search);
        QVERIFY2(emoji.contains(QStringLiteral("«\U0001F600» (U+1F600)")), qPrintable(emoji));
        QVERIFY(emoji.contains(QStringLiteral("искать")));
        QVERIFY(!emoji.contains(QStringLiteral("сохран")));
        const QString login = core::typedTextProblem(QStringLiteral("日"), core::TypedUse::Login);
        QVERIFY2(login.contains(QStringLiteral("«日» (U+65E5)")) && login.contains(QStringLiteral("логина")),
                 qPrintable(login));
        const QString longText = core::typedTextProblem(QString(8001, QLatin1Char('a')), core::TypedUse::Search);
        QVERIFY2(longText.startsWith(QStringLiteral("Текст для поиска слишком длинный")), qPrintable(longText));

        Db d;
        core::Logins logins(d.s.access);
        try {
            logins.check(QString(100000, QLatin1Char('a')), QString(), nullptr);
            QFAIL("a login of 100000 characters was sent");
        } catch (const db::DbError &e) {
            QVERIFY2(e.text().startsWith(QStringLiteral("Логин слишком длинный")), qPrintable(e.text()));
        }
        ListFilter f;
        f.tel = QString(9000, QLatin1Char('7'));
        try {
            core::openList(d.s.iRead, f, ListSort::Name);
            QFAIL("a search text of 9000 characters was sent");
        } catch (const db::DbError &e) {
            QVERIFY2(e.text().startsWith(QStringLiteral("Текст для поиска слишком длинный")), qPrintable(e.text()));
        }
        // Just under the limit, it is searched for as a value.
        f.tel = QString(7990, QLatin1Char('7'));
        testdb::addCard(d.path, {{u"fam"_s, u"Длинный"_s},
                                 {u"post"_s, u""_s},
                                 {u"work"_s, u""_s},
                                 {u"wmail"_s, u""_s},
                                 {u"wtel"_s, u"7777"_s}});
        for (bool contains : {false, true}) {
            f.contains = contains;
            core::openList(d.s.iRead, f, ListSort::Name);
            QVERIFY(d.s.iRead.eof());
        }
        f.tel = QStringLiteral("777");
        core::openList(d.s.iRead, f, ListSort::Name);
        QCOMPARE(d.s.iRead.asText(QStringLiteral("fam")), QStringLiteral("Длинный"));
    }
    // The list's fast forms find exactly the rows of the statement as first
    // written, in its order: the bound statement in every mode, and the
    // in-memory index for "any position", over tricky data.
    void fastFormsMatchLiteral()
    {
        Db d;
        const QStringList words = {
            u"Иванов"_s,  u"иванов"_s, u"ИВАНОВА"_s,       u"Ivanov"_s, u"ivan_ov"_s,   u"50%"_s,    u""_s,
            u"Ёлкин"_s,   u"ёлкин"_s,  u"Ива%нов"_s,       u"ab_c"_s,   u"Abc"_s,       u"Ёжиков"_s, u"ЕЖИКОВ"_s,
            u"Apхипов"_s, u"O'Нил"_s,  u"Петров-Водкин"_s, u"µ ї Ї"_s,  u"ТЕХНОпарк"_s, u"Иванов "_s};
        int k = 0;
        for (const QString &w1 : words)
            for (int v = 0; v < 3; ++v) {
                const QString w2 = words[(k * 7 + v) % words.size()];
                const QString w3 = words[(k * 5 + 1) % words.size()];
                auto val = [&](const QString &s, int salt) { return (k + salt) % 5 == 0 ? QString() : s; };
                testdb::addCard(d.path, {{u"fam"_s, val(w1, 1)},
                                         {u"name1"_s, val(w2, 2)},
                                         {u"name2"_s, val(w3, 3)},
                                         {u"work"_s, val(w2, 4)},
                                         {u"dep"_s, val(w1, 0)},
                                         {u"post"_s, (k % 7 == 0) ? QString() : w3},
                                         {u"wmail"_s, val(w1 + u"@x.ru"_s, 2)},
                                         {u"hmail"_s, val(w2, 1)},
                                         {u"wtel"_s, val(u"12-34"_s, 3)},
                                         {u"htel"_s, val(u"5%6"_s, 4)},
                                         {u"wmob"_s, val(u"+7_9"_s, 0)},
                                         {u"hmob"_s, val(w3, 2)}});
                ++k;
            }

        db::IBQuery &q = d.s.iSQL;
        core::SearchIndex index(d.s);
        const QList<ListFilter> filters = {{},
                                           {u"ив"_s, u""_s, u""_s, u""_s, u""_s, false},
                                           {u"ив"_s, u""_s, u""_s, u""_s, u""_s, true},
                                           {u""_s, u"iv"_s, u""_s, u""_s, u""_s, true},
                                           {u""_s, u""_s, u"а"_s, u""_s, u""_s, true},
                                           {u""_s, u""_s, u""_s, u"@X"_s, u""_s, false},
                                           {u""_s, u""_s, u""_s, u""_s, u"12"_s, false},
                                           {u"_"_s, u""_s, u""_s, u""_s, u""_s, false},
                                           {u"%"_s, u"%"_s, u"%"_s, u"%"_s, u"%"_s, true},
                                           {u""_s, u""_s, u""_s, u""_s, u"5%"_s, false},
                                           {u"ё"_s, u""_s, u""_s, u""_s, u""_s, true},
                                           {u""_s, u""_s, u""_s, u""_s, u"+7_"_s, false},
                                           {u"ab_c"_s, u""_s, u""_s, u""_s, u""_s, false},
                                           {u"Ива%н"_s, u""_s, u""_s, u""_s, u""_s, false},
                                           {u"ив_"_s, u""_s, u""_s, u""_s, u""_s, false},
                                           {u"iv"_s, u""_s, u""_s, u""_s, u""_s, false},
                                           {u"ИВАНОВ"_s, u""_s, u"ИВ"_s, u""_s, u""_s, false},
                                           {u""_s, u""_s, u""_s, u"@x.R"_s, u"12"_s, true},
                                           {u""_s, u"ab"_s, u""_s, u""_s, u""_s, false},
                                           // "Any position", which the index answers.
                                           {u"ван"_s, u""_s, u""_s, u""_s, u""_s, true},
                                           {u"ёлк"_s, u""_s, u""_s, u""_s, u""_s, true},
                                           {u"ЕЖИК"_s, u""_s, u""_s, u""_s, u""_s, true},
                                           {u"apх"_s, u""_s, u""_s, u""_s, u""_s, true},
                                           {u"o'н"_s, u""_s, u""_s, u""_s, u""_s, true},
                                           {u"ов-в"_s, u""_s, u""_s, u""_s, u""_s, true},
                                           {u"овив"_s, u""_s, u""_s, u""_s, u""_s, true},
                                           {u""_s, u"хно"_s, u""_s, u""_s, u""_s, true},
                                           {u""_s, u""_s, u""_s, u"ov@x"_s, u""_s, true},
                                           {u""_s, u""_s, u""_s, u""_s, u"2-3"_s, true},
                                           {u""_s, u""_s, u""_s, u""_s, u"2-34"_s, true},
                                           {u""_s, u""_s, u""_s, u""_s, u"1234"_s, true},
                                           {u""_s, u""_s, u""_s, u""_s, u"2_34"_s, true},
                                           {u""_s, u""_s, u""_s, u""_s, u"5%6"_s, true},
                                           {u""_s, u""_s, u""_s, u""_s, u"+7_9"_s, true},
                                           {u"ivan_"_s, u""_s, u""_s, u""_s, u""_s, true},
                                           {u"в%н"_s, u""_s, u""_s, u""_s, u""_s, true},
                                           {u""_s, u""_s, u""_s, u""_s, u"_"_s, true},
                                           {u"ИВ"_s, u"ов"_s, u""_s, u""_s, u""_s, true},
                                           {u"иван"_s, u""_s, u"ов"_s, u".r"_s, u""_s, true},
                                           {u"µ ї"_s, u""_s, u""_s, u""_s, u""_s, true},
                                           {u"ов"_s, u"ов"_s, u"ов"_s, u"ов"_s, u""_s, true}};
        int indexed = 0;
        auto compareAll = [&](core::SearchIndex &index) {
            for (const ListFilter &f : filters)
                for (ListSort sort : {ListSort::Name, ListSort::Work, ListSort::Post}) {
                    const QString key = sort == ListSort::Name   ? u"fam"_s
                                        : sort == ListSort::Work ? u"work"_s
                                                                 : u"post"_s;
                    QHash<QString, QString> keyOf; // id -> sort key, from the literal statement
                    // Rows in order, as (sort key, id); equal keys may come in any order.
                    auto ordered = [](QList<QPair<QString, QString>> rows) {
                        for (int i = 0; i < rows.size();) {
                            int j = i;
                            while (j < rows.size() && rows[j].first == rows[i].first)
                                ++j;
                            std::sort(rows.begin() + i, rows.begin() + j);
                            i = j;
                        }
                        return rows;
                    };
                    auto run = [&](bool literal) {
                        q.close();
                        q.setSql(literal ? quotedPatternListSql(f, sort) : listSql(f, sort));
                        if (!literal)
                            bindList(q, f);
                        q.open();
                        q.last();
                        QList<QPair<QString, QString>> rows;
                        for (int r = 0; r < q.recordCount(); ++r) {
                            const QString id = q.textAt(r, q.fieldIndex(u"pk_id"_s));
                            // Trailing spaces do not count in the order; case does.
                            QString k = q.textAt(r, q.fieldIndex(key));
                            while (k.endsWith(QLatin1Char(' ')))
                                k.chop(1);
                            rows.append({k, id});
                            keyOf.insert(id, rows.last().first);
                        }
                        return ordered(rows);
                    };
                    const auto literal = run(true);
                    const auto bound = run(false);
                    QVERIFY2(!literal.isEmpty() || f.name == u"ab_c"_s || f.tel == u"+7_"_s || f.tel == u"1234"_s ||
                                 f.name == u"овив"_s || f.name == u"µ ї"_s,
                             qPrintable(f.name + f.work));
                    QCOMPARE(bound, literal);
                    auto fromIndex = [&](size_t firstRows) -> std::optional<QList<QPair<QString, QString>>> {
                        auto rows = index.find(f, sort, firstRows);
                        if (!rows)
                            return std::nullopt;
                        // A first screen found by walking the order, then the rest.
                        if (index.hasRest()) {
                            const auto more = index.rest();
                            if (!more)
                                return std::nullopt;
                            rows->insert(rows->end(), more->begin(), more->end());
                        }
                        ListModel model;
                        model.fillEncoded(*rows);
                        QList<QPair<QString, QString>> found;
                        for (int r = 0; r < model.cardCount(); ++r)
                            found.append({keyOf.value(model.id(r), QStringLiteral("(not found)")), model.id(r)});
                        return ordered(found);
                    };
                    if (const auto found = fromIndex(SIZE_MAX)) {
                        QCOMPARE(*found, literal);
                        for (size_t firstRows : {size_t(1), size_t(7)})
                            QCOMPARE(fromIndex(firstRows).value(), literal);
                        ++indexed;
                    }
                }
        };
        // Every "any position" filter goes through the index, in the three orders.
        const int anyPosition =
            3 * int(std::count_if(filters.begin(), filters.end(), [](const ListFilter &f) { return f.contains; }));
        auto comparedAll = [&](core::SearchIndex &i) {
            const int before = indexed;
            compareAll(i);
            return indexed - before;
        };
        QCOMPARE(comparedAll(index), anyPosition);
        // Read beside the window, two of its orders sorted by the learned
        // order rather than by the database: the same rows.
        const std::shared_ptr<core::OwnIndex> built = buildIndex(d.path);
        QVERIFY(built);
        QCOMPARE(comparedAll(built->index), anyPosition);
        // Changed behind its back, the index places the cards anew in all three orders.
        testdb::exec(d.path,
                     QStringLiteral(
                         "UPDATE base SET fam = 'Ёлкин' || pk_id, post = name1 WHERE MOD(pk_id, 3) = 0;\n"
                         "UPDATE base SET work = 'ИВАНОВ', fam = NULL WHERE MOD(pk_id, 7) = 1;\n"
                         "UPDATE base SET pk_id = 500 WHERE pk_id = 2;\n"
                         "INSERT INTO base (pk_id, fam, work, post, wtel) VALUES (-5, 'Иванов', 'Abc', 'ab_c', '12');\n"
                         "UPDATE base SET work = work || '  ', post = UPPER(post) WHERE MOD(pk_id, 5) = 3;\n"
                         "DELETE FROM base WHERE pk_id = 4"));
        q.close();
        d.s.IBTrans.commit(); // the literal statement's snapshot moves on too
        QCOMPARE(comparedAll(index), anyPosition);
        QCOMPARE(comparedAll(built->index), anyPosition); // taken in where it is searched
        // More than are taken in at once: read beside the index built beside
        // the window, which answers as it stood until then; read at once in
        // the one loaded where it is searched.
        core::SearchIndex::mostChangesHere = 10;
        ListFilter every;
        every.contains = true;
        const size_t before = built->index.find(every, ListSort::Name)->size();
        testdb::exec(
            d.path,
            QStringLiteral("UPDATE base SET fam = UPPER(fam) || 'а', work = NULL WHERE MOD(pk_id, 4) = 2;\n"
                           "INSERT INTO base (pk_id, fam, work, wtel) VALUES (-7, 'Ёжиков', 'ТЕХНОпарк', '2-34');\n"
                           "INSERT INTO base (pk_id, fam, work, post) VALUES (9000, 'ab_c', '50%', 'Иванов ');\n"
                           "DELETE FROM base WHERE pk_id IN (6, 7);\n"
                           "UPDATE base SET post = 'Ёлкин', fam = NULL WHERE MOD(pk_id, 9) = 0"));
        q.close();
        d.s.IBTrans.commit();
        QCOMPARE(built->index.find(every, ListSort::Name)->size(), before);
        QVERIFY(built->index.wantsCatchUp());
        catchUp(built);
        QVERIFY(!built->index.wantsCatchUp() && !built->index.wantsRebuild());
        QCOMPARE(comparedAll(built->index), anyPosition);
        QCOMPARE(comparedAll(index), anyPosition);
        core::SearchIndex::mostChangesHere = 2000;
        // And placed by asking the database, as where the order is not learned.
        core::SearchIndex::placeByLearnedOrder = false;
        testdb::exec(d.path,
                     QStringLiteral("UPDATE base SET fam = name1 || ' ', work = LOWER(post) WHERE MOD(pk_id, 4) = 1;\n"
                                    "UPDATE base SET post = 'ёлкин ' WHERE MOD(pk_id, 5) = 2"));
        q.close();
        d.s.IBTrans.commit();
        QCOMPARE(comparedAll(index), anyPosition);
        ListFilter any;
        any.contains = true;
        QVERIFY(!built->index.find(any, ListSort::Name)); // too many to ask about beside the window
        QVERIFY(built->index.wantsRebuild());
        core::SearchIndex::placeByLearnedOrder = true;
        // The look at every card split between two threads finds the same.
        const uint32_t split = core::SearchIndex::splitScanFrom;
        core::SearchIndex::splitScanFrom = 1;
        QCOMPARE(comparedAll(index), anyPosition);
        QCOMPARE(comparedAll(buildIndex(d.path)->index), anyPosition);
        core::SearchIndex::splitScanFrom = split;
        q.close();

        // A catch-up bringing a byte the learned order has no place for (a
        // NUL a tool wrote): the index is read anew rather than misplace it.
        const std::shared_ptr<core::OwnIndex> again = buildIndex(d.path);
        core::SearchIndex::mostChangesHere = 10;
        testdb::exec(d.path, QStringLiteral("UPDATE base SET fam = 'Ж' || ASCII_CHAR(0) WHERE MOD(pk_id, 2) = 1"));
        QVERIFY(again->index.find(every, ListSort::Name));
        catchUp(again);
        QVERIFY(again->index.wantsRebuild());
        QVERIFY(!again->index.find(every, ListSort::Name));
    }

    // A collation's order learned from the database compares texts as the
    // database does: case, ё, trailing spaces, signs, control bytes, the byte
    // the code page leaves unassigned, texts longer than those it learned on.
    // An order of another form (the Unicode one, which passes over control
    // characters) is refused rather than followed wrongly.
    void learnedOrder_data()
    {
        QTest::addColumn<QString>("collation");
        QTest::addColumn<bool>("learns");
        QTest::newRow("the list's") << u"PXW_CYRL"_s << true;
        QTest::newRow("bytes") << u"WIN1251"_s << true;
        QTest::newRow("Ukrainian") << u"WIN1251_UA"_s << true;
        QTest::newRow("trailing spaces count") << u"ZX_NOPAD"_s << true;
        QTest::newRow("Unicode") << u"ZX_UNICODE"_s << false;
    }
    void learnedOrder()
    {
        QFETCH(QString, collation);
        QFETCH(bool, learns);
        Db d;
        testdb::exec(d.path, u"CREATE COLLATION ZX_NOPAD FOR WIN1251 FROM PXW_CYRL NO PAD;\n"
                             "CREATE COLLATION ZX_UNICODE FOR WIN1251 FROM EXTERNAL ('WIN1251_UNICODE')"_s);
        const QByteArray name = collation.toLatin1();
        core::CollationOrder order(name.constData());
        bool learned = false;
        try {
            learned = order.learn(d.s.access);
        } catch (const db::DbError &) { // the index takes that for an order it cannot follow
        }
        QCOMPARE(learned, learns);
        if (!learns)
            return;
        QList<QByteArray> texts;
        for (const QString &t :
             {u"Иванов"_s,  u"иванов"_s,        u"ИВАНОВ"_s,        u"Иванов "_s,      u"Иванов  "_s, u"Иванова"_s,
              u"ИвановА"_s, u"Ёлкин"_s,         u"Елкин"_s,         u"ёлкин"_s,        u"Ежов"_s,     u"Жуков"_s,
              u"O'Нил"_s,   u"Петров-Водкин"_s, u"Петров Водкин"_s, u"ПетровВодкин"_s, u""_s,         u" "_s,
              u"Abc"_s,     u"abc"_s,           u"ABC"_s,           u"АВС"_s,          u"123"_s,      u"1-2"_s,
              u"_x"_s,      u"[x]"_s,           u"Яковлев"_s,       u"яковлев"_s,      u"µ ї Ї"_s,    u"№5"_s}) {
            QByteArray b;
            QVERIFY(cp1251::encode(t, b));
            texts << b;
        }
        texts << QByteArray("a\x01") << QByteArray("a") << QByteArray("a\t")
              << QByteArray("a\x98"
                            "b")
              << QByteArray("a b");
        const QString cast = u"CAST(:%1 AS VARCHAR(20) CHARACTER SET WIN1251) COLLATE "_s + collation;
        const QString sql =
            u"SELECT IIF(%1 < %2, -1, IIF(%1 = %2, 0, 1)) FROM RDB$DATABASE"_s.arg(cast.arg(u"a"_s), cast.arg(u"b"_s));
        for (const QByteArray &a : texts)
            for (const QByteArray &b : texts) {
                db::Rows rows = d.s.access.read(sql, {{u"a"_s, cp1251::decode(a)}, {u"b"_s, cp1251::decode(b)}});
                QVERIFY(rows.next());
                const int c = order.compare(std::string_view(a.constData(), size_t(a.size())),
                                            std::string_view(b.constData(), size_t(b.size())));
                QVERIFY2((c > 0) - (c < 0) == int(rows.number(0)), (a.toHex() + " " + b.toHex()).constData());
            }
        QVERIFY(order.knows("abc"));
        QVERIFY(!order.knows(std::string_view("a\0b", 3)));
    }

    // The live list's watch: each commit by another writer is told once,
    // also one of a transaction older than a change told before it; a
    // database without the log says nothing.
    void changesAreWatched()
    {
        Db d;
        const qint64 a = testdb::addCard(d.path, {{u"fam"_s, u"А"_s}});
        core::ChangeWatch watch(d.s.access);
        QVERIFY(!watch.look()); // the first look takes the log as it stands
        QVERIFY(!watch.look());
        testdb::Peek slow(d.path); // began before the next change, committed after it
        slow.q.setSql(QStringLiteral("UPDATE base SET fam = 'Медленный' WHERE pk_id = %1").arg(a));
        slow.q.execute();
        testdb::addCard(d.path, {{u"fam"_s, u"Б"_s}});
        QVERIFY(watch.look());
        QVERIFY(!watch.look());
        slow.t.commit();
        QVERIFY(watch.look());
        testdb::exec(d.path, QStringLiteral("DELETE FROM base"));
        QVERIFY(watch.look());
        QVERIFY(!watch.look());

        Db older;
        testdb::exec(older.path, QStringLiteral("DROP TRIGGER base_changed_guard;\nDROP TRIGGER base_changed"));
        testdb::exec(older.path, QStringLiteral("DROP TABLE base_changes"));
        core::ChangeWatch none(older.s.access);
        QVERIFY(!none.look());
        QVERIFY(!none.watching());
    }

    // The index read beside the window: ready with every order, the same
    // rows as before, a few changes taken in on the searching thread, more
    // (or a log switched off and on) asking for a new build instead of a
    // stall; a database without the log gives none.
    void indexBuiltBeside()
    {
        Db d;
        testdb::addCards(d.path, 300, [](int i) {
            return Cols{{u"fam"_s, QStringLiteral("Карт%1").arg(i, 3, 10, QLatin1Char('0'))},
                        {u"work"_s, i % 3 ? u"ООО Ромашка"_s : u"АО Вектор"_s},
                        {u"post"_s, u"П"_s},
                        {u"wmail"_s, u"m"_s},
                        {u"wtel"_s, u"t"_s}};
        });
        auto build = buildIndex;
        const std::shared_ptr<core::OwnIndex> own = build(d.path);
        QVERIFY(own && own->index.ready());
        auto count = [&](const QString &work, ListSort sort = ListSort::Name) {
            ListFilter f;
            f.work = work;
            f.contains = true;
            const auto rows = own->index.find(f, sort);
            return rows ? int(rows->size()) : -1;
        };
        QCOMPARE(count(u"ромаш"_s), 200);
        QCOMPARE(count(u"вектор"_s, ListSort::Post), 100); // every order was read with it
        testdb::exec(d.path, QStringLiteral("UPDATE base SET work = 'АО Вектор' WHERE fam IN ('Карт001', 'Карт002')"));
        QCOMPARE(count(u"вектор"_s), 102);
        QVERIFY(!own->index.wantsRebuild());
        // Many more, placed by the collation's order learned from the database.
        testdb::exec(d.path, QStringLiteral("UPDATE base SET work = 'АО Вектор' WHERE fam < 'Карт030'"));
        QCOMPARE(count(u"вектор"_s), 120);
        QCOMPARE(count(u"вектор"_s, ListSort::Work), 120);
        QVERIFY(!own->index.wantsRebuild());
        // Where each must be placed by asking the database, a new build is
        // asked for instead of a stall.
        core::SearchIndex::placeByLearnedOrder = false;
        testdb::exec(d.path, QStringLiteral("UPDATE base SET work = 'АО Вектор' WHERE fam < 'Карт060'"));
        QCOMPARE(count(u"вектор"_s), -1); // the statement answers meanwhile
        QVERIFY(own->index.wantsRebuild());
        core::SearchIndex::placeByLearnedOrder = true;
        const std::shared_ptr<core::OwnIndex> again = build(d.path);
        QVERIFY(again && again->index.ready());
        ListFilter f;
        f.work = u"вектор"_s;
        f.contains = true;
        QCOMPARE(int(again->index.find(f, ListSort::Name)->size()), 140); // every card below Карт060 now

        // Switched off and on around a change: read anew too.
        testdb::exec(d.path, QStringLiteral("ALTER TRIGGER base_changed INACTIVE;\n"
                                            "UPDATE base SET work = 'АО Вектор' WHERE fam = 'Карт299';\n"
                                            "ALTER TRIGGER base_changed ACTIVE"));
        QVERIFY(!again->index.find(f, ListSort::Name));
        QVERIFY(again->index.wantsRebuild());

        // With a transaction left running below such changes, an index read
        // anew takes what the log holds for read, and serves at once.
        testdb::Peek running(d.path);
        running.q.setSql(QStringLiteral("UPDATE base SET post = 'Р' WHERE fam = 'Карт298'"));
        running.q.execute();
        testdb::exec(d.path, QStringLiteral("UPDATE base SET work = 'АО Вектор' WHERE fam < 'Карт060'"));
        testdb::exec(d.path, QStringLiteral("ALTER TRIGGER base_changed INACTIVE;\nALTER TRIGGER base_changed ACTIVE"));
        const std::shared_ptr<core::OwnIndex> fresh = build(d.path);
        QVERIFY(fresh && fresh->index.ready());
        const auto rows = fresh->index.find(f, ListSort::Name);
        QVERIFY(rows && !fresh->index.wantsRebuild());
        QCOMPARE(int(rows->size()), d.count(QStringLiteral("SELECT * FROM base WHERE work = 'АО Вектор'")));
        running.t.rollback();

        Db older;
        testdb::exec(older.path, QStringLiteral("DROP TRIGGER base_changed_guard;\nDROP TRIGGER base_changed"));
        QVERIFY(!build(older.path));
        // A build ended before it is done leaves nothing behind and does not hang.
        {
            core::IndexBuild cancelled(d.path, [](std::shared_ptr<core::OwnIndex>, const QString &) {});
        }
        // Nor does a catch-up, which leaves the index as it stood.
        core::SearchIndex::mostChangesHere = 10;
        testdb::Peek slow(d.path); // began before the catch-up's changes, committed after it
        slow.q.setSql(QStringLiteral("UPDATE base SET post = 'Медленный' WHERE fam = 'Карт250'"));
        slow.q.execute();
        testdb::exec(d.path, QStringLiteral("UPDATE base SET post = 'С' WHERE fam < 'Карт100'"));
        QVERIFY(fresh->index.find(f, ListSort::Name) && fresh->index.wantsCatchUp());
        {
            core::IndexCatchUp cancelled(fresh, [](std::unique_ptr<core::SearchIndex::CatchUp>, const QString &) {});
        }
        QVERIFY(fresh->index.wantsCatchUp() && fresh->index.ready());
        // One that failed (its connection lost) has the index read anew, not half taken in.
        const std::shared_ptr<core::OwnIndex> failing = build(d.path);
        testdb::exec(d.path, QStringLiteral("UPDATE base SET dep = 'Ц' WHERE fam < 'Карт100'"));
        QVERIFY(failing->index.find(f, ListSort::Name) && failing->index.wantsCatchUp());
        failing->index.takeCatchUp(nullptr);
        QVERIFY(failing->index.wantsRebuild() && !failing->index.find(f, ListSort::Name));
        // Taken in, it moves the mark of settled transactions on, but not
        // past one still running: its change is found once committed.
        catchUp(fresh);
        QVERIFY(!fresh->index.wantsCatchUp() && !fresh->index.wantsRebuild());
        ListFilter post;
        post.contains = true;
        post.post = u"с"_s;
        QCOMPARE(int(fresh->index.find(post, ListSort::Post)->size()), 100);
        slow.t.commit();
        post.post = u"медлен"_s;
        QCOMPARE(int(fresh->index.find(post, ListSort::Post)->size()), 1);
    }

    // A card changed by another copy of the program, and one written by a
    // database tool bypassing the program, are found by the index at the next
    // search, in their place in the order; a deleted one is gone.
    void indexFollowsEveryWriter()
    {
        Db d;
        testdb::addCards(d.path, 50, [](int i) {
            return Cols{{u"fam"_s, QStringLiteral("Карт%1").arg(i, 2, 10, QLatin1Char('0'))},
                        {u"work"_s, u"ООО Ромашка"_s},
                        {u"post"_s, u"П"_s},
                        {u"wmail"_s, u"m"_s},
                        {u"wtel"_s, u"t"_s}};
        });
        // A database of older days has no log: the list statement serves
        // until an administrator upgrades it, and the cards stored before count.
        testdb::exec(d.path, QStringLiteral("DROP TRIGGER base_changed_guard;\nDROP TRIGGER base_changed"));
        testdb::exec(d.path, QStringLiteral("DROP TABLE base_changes")); // apart: the guard held it in use
        d.s.IBDbase.close(); // a connection keeps the schema triggers it met when it opened
        d.s.IBDbase.open();
        QVERIFY(!core::SearchIndex(d.s).prepare());
        schema::trimChangeLog(d.s.IBDbase); // nothing to trim, and nothing made
        QVERIFY(!core::SearchIndex(d.s).prepare());
        QCOMPARE(schema::upgrade(d.s.IBDbase).done,
                 (QStringList{QStringLiteral("change_log"), QStringLiteral("change_log_guard"),
                              QStringLiteral("change_log_index"), QStringLiteral("change_events")}));
        // The start clears log rows no copy can need any more, and marks where.
        testdb::exec(d.path, QStringLiteral("INSERT INTO base_changes VALUES (-2000000, 1);\n"
                                            "INSERT INTO base_changes VALUES (-20, 2)"));
        schema::trimChangeLog(d.s.IBDbase);
        QCOMPARE(
            d.count(QStringLiteral("SELECT * FROM base_changes WHERE txn = -20 OR card IS NULL AND txn > -2000000")),
            2);
        QCOMPARE(d.count(QStringLiteral("SELECT * FROM base_changes")), 2);
        core::SearchIndex index(d.s);
        auto names = [&](const QString &work) {
            ListFilter f;
            f.work = work;
            f.contains = true;
            const auto rows = index.find(f, ListSort::Name);
            QStringList out;
            ListModel model;
            if (rows) {
                model.fillEncoded(*rows);
                for (int r = 0; r < model.cardCount(); ++r)
                    out << model.cell(r, 1).trimmed();
            }
            return out;
        };
        QCOMPARE(names(u"ромаш"_s).size(), 50);
        QCOMPARE(names(u"техно"_s), QStringList());
        // A window's shared query, open meanwhile, keeps its place whatever
        // the index reads and takes in.
        db::IBQuery &window = d.s.iRead;
        window.setSql(QStringLiteral("SELECT fam FROM base ORDER BY fam"));
        window.open();
        window.next();
        const QString windowRow = window.asText(0);

        testdb::QueryDb other; // another copy of the program
        testdb::open(other, d.path);
        core::CardStore colleague(other.access);
        core::CardRecord card;
        for (const QString &c : core::cardColumns())
            card.values.insert(c, QString());
        card.values[QStringLiteral("fam")] = QStringLiteral("Андреев");
        card.values[QStringLiteral("work")] = QStringLiteral("АО Технопарк");
        for (const char *c : {"post", "wmail", "wtel"})
            card.values[QLatin1String(c)] = QStringLiteral("x");
        colleague.insert(card, 1, QStringLiteral("s"), nullptr);
        testdb::exec(
            d.path,
            QStringLiteral(
                "INSERT INTO base (pk_id, fam, work, post, wmail, wtel) VALUES (900000, 'Яковлев', 'Технопром', 'П', 'm', 't');\n"
                "UPDATE base SET work = 'НИИ Техноген', fam = 'Карт25б' WHERE fam = 'Карт03';\n"
                "UPDATE base SET post = 'Директор' WHERE pk_id = 900000;\n"
                "DELETE FROM base WHERE fam = 'Карт10'"));
        QCOMPARE(names(u"техно"_s), (QStringList{u"Андреев"_s, u"Карт25б"_s, u"Яковлев"_s}));
        QCOMPARE(names(u"ромаш"_s).size(), 48);
        QVERIFY(!names(u"ромаш"_s).contains(QStringLiteral("Карт10")));
        // A colleague's change not committed yet is not seen, and is once committed.
        testdb::Peek busy(d.path);
        busy.q.setSql(QStringLiteral("UPDATE base SET work = 'Техноснаб' WHERE fam = 'Карт40'"));
        busy.q.execute();
        QCOMPARE(names(u"техно"_s).size(), 3);
        busy.t.commit();
        QCOMPARE(names(u"техно"_s), (QStringList{u"Андреев"_s, u"Карт25б"_s, u"Карт40"_s, u"Яковлев"_s}));
        // A tool that switches the log off around its changes: switching it
        // on again leaves a mark, and every copy reads its cards anew.
        testdb::exec(d.path, QStringLiteral("ALTER TRIGGER base_changed INACTIVE;\n"
                                            "UPDATE base SET work = 'Технолог' WHERE fam = 'Карт41';\n"
                                            "ALTER TRIGGER base_changed ACTIVE"));
        QCOMPARE(names(u"техно"_s).size(), 5);
        // A copy whose unread log rows were cleared away reads every card anew.
        testdb::exec(d.path, QStringLiteral("ALTER TRIGGER base_changed_guard INACTIVE;\n"
                                            "ALTER TRIGGER base_changed INACTIVE;\n"
                                            "UPDATE base SET work = 'Технократ' WHERE fam = 'Карт42';\n"
                                            "ALTER TRIGGER base_changed ACTIVE;\n"
                                            "INSERT INTO base_changes VALUES (1000000000000, NULL)"));
        QCOMPARE(names(u"техно"_s).size(), 6);
        QVERIFY(window.isOpen());
        QCOMPARE(window.asText(0), windowRow);
        window.next();
        QCOMPARE(window.asText(0), QStringLiteral("Карт02"));
        window.close();

        // A change first seen as the mark of settled transactions moves past
        // it is taken in, not taken for a deletion.
        d.s.IBTrans.commit();
        testdb::exec(d.path, QStringLiteral("UPDATE base SET work = 'Технокласс' WHERE fam = 'Карт44'"));
        auto value = [&](const QString &sql) {
            db::Rows rows = d.s.access.read(sql);
            return rows.next() ? rows.number(0) : -1;
        };
        const qint64 changedIn = value(QStringLiteral("SELECT MAX(txn) FROM base_changes WHERE card IS NOT NULL"));
        QTest::qWait(2100); // the mark moves on every two seconds at most
        index.sync();
        QVERIFY(value(QStringLiteral("SELECT MON$OLDEST_ACTIVE FROM MON$DATABASE")) > changedIn);
        QCOMPARE(names(u"техно"_s).size(), 7);
        QVERIFY(names(u"техно"_s).contains(u"Карт44"_s));
    }

    // The list as one service: the statement answers at once while the index
    // is read beside it, and the index's answer then equals the statement's;
    // another writer's changes (1,000 cards at once, a log switched off and
    // on) reach the model by themselves, with no search typed.
    void listServiceFollowsTheDatabase()
    {
        Db d;
        testdb::addCards(d.path, 1200, [](int i) {
            return Cols{{u"fam"_s, QStringLiteral("Карт%1").arg(i, 4, 10, QLatin1Char('0'))},
                        {u"work"_s, i % 3 ? u"ООО Ромашка"_s : u"АО Вектор"_s},
                        {u"post"_s, u"П"_s},
                        {u"wmail"_s, u"m"_s},
                        {u"wtel"_s, u"t"_s}};
        });
        core::ListService list(d.s);
        list.setLive(true);
        d.s.iRead.setSql(QStringLiteral("SELECT CURRENT_CONNECTION FROM RDB$DATABASE"));
        d.s.iRead.open();
        const qint64 listConnection = d.s.iRead.asInt(0);
        d.s.iRead.close();
        ListFilter f;
        f.work = u"ромаш"_s;
        f.contains = true;
        auto shown = [&] {
            QStringList names;
            for (int r = 0; r < list.model().cardCount(); ++r)
                names << list.model().cell(r, 1).trimmed();
            return names;
        };
        auto literal = [&] {
            db::IBQuery &q = d.s.iRead;
            core::openList(q, f, ListSort::Name);
            QStringList names;
            for (; !q.eof(); q.next())
                names << q.asText(QStringLiteral("fam")).trimmed();
            q.close();
            return names;
        };
        QList<int> followed; // the rows shown each time colleagues' changes were followed
        QList<bool> indexed; // and whether the index answered then
        connect(&list, &core::ListService::othersChanged, this, [&] {
            followed << list.model().cardCount();
            indexed << list.indexReady();
        });

        list.search(f, ListSort::Name);
        QVERIFY(!list.indexReady()); // read beside meanwhile
        list.finish();
        QCOMPARE(shown().size(), 800);
        QCOMPARE(shown(), literal());
        QTRY_VERIFY(list.indexReady() && !list.filling());
        QCOMPARE(shown(), literal()); // searched again, now from the index

        // The database tells of commits: no look is made until it does.
        QTRY_VERIFY(list.eventsArmed());
        testdb::QueryDb other; // another copy of the program
        testdb::open(other, d.path);
        other.iSQL.setSql(QStringLiteral(
            "UPDATE base SET work = IIF(work = 'АО Вектор', 'ООО Ромашка', 'АО Вектор') WHERE pk_id <= 1000"));
        other.iSQL.execute();
        other.IBTrans.commit();
        // A thousand changes are taken into the index at once, in their
        // places in the order: no new read of the index.
        QTRY_COMPARE_WITH_TIMEOUT(followed.size(), 1, 5000);
        QVERIFY(list.indexReady() && !list.filling());
        QCOMPARE(shown(), literal());
        QVERIFY(shown().size() != 800);
        // More than the window's thread takes in at once: the list stays as
        // it was while they are read beside the window, then shows them; the
        // index answers all along, never read anew.
        followed.clear();
        indexed.clear();
        core::SearchIndex::mostChangesHere = 100;
        const int stood = int(shown().size());
        other.iSQL.execute();
        other.IBTrans.commit();
        QTRY_COMPARE_WITH_TIMEOUT(followed.size(), 2, 5000);
        core::SearchIndex::mostChangesHere = 2000;
        QCOMPARE(followed.first(), stood);
        QCOMPARE(indexed, QList<bool>({true, true}));
        QCOMPARE(shown(), literal());
        QVERIFY(shown().size() != stood);
        // Typed meanwhile: the list as it stood, never half of the change.
        const QStringList stoodRows = shown();
        core::SearchIndex::mostChangesHere = 100;
        other.iSQL.execute();
        other.IBTrans.commit();
        list.search(f, ListSort::Name);
        list.finish();
        QVERIFY(list.indexReady());
        QCOMPARE(shown(), stoodRows);
        QTRY_COMPARE_WITH_TIMEOUT(shown(), literal(), 5000);
        core::SearchIndex::mostChangesHere = 2000;
        QVERIFY(shown() != stoodRows);
        QVERIFY(!indexed.contains(false));
        // Where they must be placed by asking the database, too many to take
        // in at once: the list stays as it was (no statement scanning every
        // card) until the index is read again beside the window, then shows them.
        followed.clear();
        const int before = int(shown().size());
        core::SearchIndex::placeByLearnedOrder = false;
        other.iSQL.execute();
        other.IBTrans.commit();
        QTRY_COMPARE_WITH_TIMEOUT(followed.size(), 2, 5000);
        core::SearchIndex::placeByLearnedOrder = true;
        QCOMPARE(followed.first(), before);
        QTRY_VERIFY(list.indexReady() && !list.filling());
        QCOMPARE(shown(), literal());
        QVERIFY(shown().size() != before);

        // A tool with the log switched off: the switch leaves a mark that is followed.
        followed.clear();
        testdb::exec(d.path, QStringLiteral("ALTER TRIGGER base_changed INACTIVE;\n"
                                            "UPDATE base SET work = 'Ромашково' WHERE fam = 'Карт1197';\n"
                                            "ALTER TRIGGER base_changed ACTIVE"));
        QTRY_COMPARE_WITH_TIMEOUT(followed.size(), 2, 5000);
        QTRY_VERIFY(list.indexReady() && !list.filling());
        QVERIFY(shown().contains(u"Карт1197"_s));
        QCOMPARE(shown(), literal());

        // The index's own connection ended by an administrator, after its
        // read and during one: the statement answers meanwhile, the rows are
        // right all along, and the user is told of nothing.
        int failures = 0;
        connect(&list, &core::ListService::failed, this, [&] { ++failures; });
        auto endOtherConnections = [&] {
            other.iSQL.setSql(QStringLiteral("DELETE FROM MON$ATTACHMENTS WHERE MON$SYSTEM_FLAG = 0 AND "
                                             "MON$ATTACHMENT_ID NOT IN (CURRENT_CONNECTION, :list)"));
            other.iSQL.setParam(QStringLiteral("list"), listConnection);
            other.iSQL.execute();
            other.IBTrans.commit();
        };
        endOtherConnections();
        list.search(f, ListSort::Name);
        QVERIFY(!list.indexReady()); // let go of when its read failed
        list.finish();
        QCOMPARE(shown(), literal());
        QTRY_VERIFY(list.indexReady() && !list.filling()); // read anew on a connection of its own
        list.search(f, ListSort::Name);
        list.finish();
        QCOMPARE(shown(), literal());
        list.forgetIndex();
        list.search(f, ListSort::Name);
        // A few times only: the engine itself (Firebird 3) now and then
        // crashes when an attachment is ended while it prepares a statement,
        // and every end is a chance of that, in the test as anywhere.
        for (int i = 0; i < 3 && !list.indexReady(); ++i) {
            endOtherConnections();
            QTest::qWait(20);
        }
        list.search(f, ListSort::Name);
        list.finish();
        QCOMPARE(shown(), literal());
        list.forgetIndex(); // tried again at once, rather than a minute later
        list.search(f, ListSort::Name);
        QTRY_VERIFY(list.indexReady() && !list.filling());
        QCOMPARE(shown(), literal());
        QCOMPARE(failures, 0);

        // The birthdays shown follow too.
        list.showBirthdays(3);
        QCOMPARE(list.model().cardCount(), 0);
        other.iSQL.setSql(QStringLiteral("UPDATE base SET bdate = '01.03.1980' WHERE fam = 'Карт0005'"));
        other.iSQL.execute();
        other.IBTrans.commit();
        list.followChanges();
        QCOMPARE(shown(), QStringList{u"Карт0005"_s});
    }

    // Pieces kept in chunks read back whole, wherever a chunk ends; one
    // larger than a chunk is refused rather than cut.
    void arenaKeepsPieces()
    {
        core::Arena arena;
        std::vector<std::pair<uint32_t, std::string>> kept;
        size_t total = 0;
        for (int i = 0; total < 3 * core::Arena::kChunk + 12345; ++i) {
            const size_t n = (i % 7 == 0) ? 0 : size_t(i * 7919) % 70000;
            const std::string piece(n, char('a' + i % 26));
            kept.emplace_back(arena.append(piece.data(), piece.size()), piece);
            total += n;
        }
        QVERIFY(arena.bytes() >= 4 * core::Arena::kChunk);
        for (const auto &[ref, piece] : kept)
            QVERIFY(std::string_view(arena.at(ref), piece.size()) == piece);
        QVERIFY_THROWS_EXCEPTION(std::length_error, arena.append(nullptr, core::Arena::kLargestPiece + 1));
        arena.clear();
        QCOMPARE(arena.bytes(), size_t(0));

        // An arena filled on another thread (as the index is read) gives its
        // memory back to the system when let go of, even after the allocator
        // learned from earlier large blocks to keep such blocks for itself.
        auto residentMb = [] {
            QFile f(u"/proc/self/status"_s);
            if (!f.open(QIODevice::ReadOnly))
                return -1.0;
            for (const QByteArray &line : f.readAll().split('\n'))
                if (line.startsWith("VmRSS:"))
                    return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
            return -1.0;
        };
        for (int round = 0; round < 2; ++round) {
            const double before = residentMb();
            if (before < 0)
                QSKIP("no /proc/self/status here");
            core::Arena big;
            std::thread([&big] {
                const std::string piece(60000, 'x');
                while (big.bytes() < 128 * core::Arena::kChunk)
                    big.append(piece.data(), piece.size());
            }).join();
            QVERIFY(residentMb() > before + 100);
            big.clear();
            QVERIFY2(residentMb() < before + 16, qPrintable(u"%1 MB kept of 128"_s.arg(residentMb() - before)));
        }
    }

    // The list as the main window reads it: the first screen at once, the
    // rest in slices or in one piece; a fill whose statement went away keeps
    // what arrived and says it is cut; index rows of an older index are dropped.
    void listFetch()
    {
        Db d;
        testdb::addCards(d.path, 1200, [](int i) {
            return Cols{{u"fam"_s, QStringLiteral("Ф%1").arg(i, 4, 10, QLatin1Char('0'))},
                        {u"name1"_s, u"И"_s},
                        {u"post"_s, u"П"_s},
                        {u"work"_s, u"Р"_s},
                        {u"wmail"_s, u"m"_s},
                        {u"wtel"_s, u"t"_s}};
        });
        ListModel model;
        core::ListFetch fetch(model);
        db::IBQuery &q = d.s.iRead;
        core::openList(q, ListFilter{}, ListSort::Name);
        fetch.begin(q);
        fetch.showFirst();
        QCOMPARE(model.cardCount(), core::ListFetch::kFirstRows);
        QVERIFY(fetch.pending());
        while (fetch.next())
            ;
        QCOMPARE(model.cardCount(), 1200);
        QVERIFY(!q.isOpen()); // every row is in: the statement's reading ended

        // The connection opened anew during the fill: the list is cut, not lost.
        core::openList(q, ListFilter{}, ListSort::Name);
        fetch.begin(q);
        fetch.showFirst();
        q.close();
        try {
            fetch.next();
            QFAIL("a cut fill must be told");
        } catch (const db::DbError &e) {
            QVERIFY2(e.text().contains(QStringLiteral("не полностью (загружено записей: 500)")), qPrintable(e.text()));
        }
        QCOMPARE(model.cardCount(), 500);
        QVERIFY(!fetch.pending());

        // Rows from the index: the rest comes whole, unless the index moved on.
        core::SearchIndex index(d.s);
        ListFilter f;
        f.name = QStringLiteral("0");
        f.contains = true;
        for (const bool moved : {false, true}) {
            std::vector<const char *> rows = *index.find(f, ListSort::Name);
            const int found = int(rows.size());
            fetch.begin(std::move(rows), index.version());
            fetch.showFirst();
            QCOMPARE(model.cardCount(), core::ListFetch::kFirstRows);
            QCOMPARE(fetch.finish(index.version() + (moved ? 1 : 0)), !moved);
            QCOMPARE(model.cardCount(), moved ? 500 : found);
        }
    }

    void stampAndFileChars()
    {
        QCOMPARE(stripFileChars(QStringLiteral("a\"b*c.d/e:f<g>h?i\\j|kЖ\t")), QStringLiteral("abcdefghijkЖ\t"));
        QCOMPARE(makeStamp(3, QDateTime(QDate(2026, 12, 6), QTime(10, 17, 47))), QStringLiteral("3_06122026_101747"));
        QCOMPARE(makeStamp(12, QDateTime(QDate(2027, 1, 2), QTime(3, 4, 5))), QStringLiteral("12_02012027_030405"));
    }

    // The ids of a search, read through the door with the statement's values
    // bound by name, come as the list's own cursor gives its rows, whichever
    // test each box makes (none, a beginning, a beginning and a pattern, a
    // pattern alone) in every order; every card's id, those the list cannot
    // show too.
    void idsFollowTheList()
    {
        Db d;
        testdb::addCards(d.path, 40, [](int i) {
            const QString fams[] = {u"Иванов"_s, u"Ивашин"_s, u"Петров"_s, u"50%_Кот"_s, u"ёлкина"_s};
            const QString n = QString::number(i);
            return Cols{{u"fam"_s, fams[i % 5] + n},
                        {u"work"_s, (i % 3 ? u"ООО Ромашка "_s : u"АО Вектор "_s) + n},
                        {u"post"_s, u"П"_s + n},
                        {u"wmail"_s, i % 7 ? u"m"_s + n : QString()},
                        {u"wtel"_s, u"+7 912 "_s + n}};
        });
        const qint64 nameless = testdb::addCard(d.path, {{u"work"_s, u"Без фамилии"_s}});
        db::IBTransaction t(&d.s.IBDbase, db::IBTransaction::Kind::Read);
        db::IBQuery q(&d.s.IBDbase, &t);
        const QList<ListFilter> filters = {{},
                                           {u"ив"_s, {}, {}, {}, {}, false},
                                           {u"и%в"_s, {}, {}, {}, {}, false},
                                           {u"%ов"_s, {}, {}, {}, {}, false},
                                           {u"50%_"_s, {}, {}, {}, {}, false},
                                           {u"ив"_s, u"ром"_s, {}, u"M1"_s, u"+7"_s, false},
                                           {{}, u"вектор"_s, {}, {}, u"912 1"_s, true},
                                           {u"ЁЛК"_s, {}, u"п"_s, {}, {}, true},
                                           {u"нет такой"_s, {}, {}, {}, {}, true}};
        int found = 0;
        for (const ListFilter &f : filters)
            for (ListSort sort : {ListSort::Name, ListSort::Work, ListSort::Post}) {
                core::openList(q, f, sort);
                QList<qint64> shown;
                for (; !q.eof(); q.next())
                    shown << q.asInt(u"pk_id"_s);
                q.close();
                QCOMPARE(core::listIds(d.s.access, f, sort), shown);
                found += int(shown.size());
            }
        QVERIFY(found > 3 * 40);
        QCOMPARE(core::listIds(d.s.access, {}, ListSort::Name).size(), 40 - 6); // no e-mail: not in the list
        const QList<qint64> all = core::allIds(d.s.access);
        QCOMPARE(all.size(), 41);
        QCOMPARE(all.first(), nameless);                       // a NULL surname sorts first
        QVERIFY(!d.s.iRead.isOpen() && !d.s.IBTrans.active()); // the shared query untouched, nothing written
    }

    void birthdays()
    {
        Db d;
        testdb::addCards(d.path, 6, [](int i) {
            const QString dates[] = {u"03.03.1970"_s, u"01.03.1985"_s, u"3.3.1990"_s,
                                     u"  .  .    "_s, u"12.03.2001"_s, u"03.04.1970"_s};
            return Cols{{u"fam"_s, QStringLiteral("К%1").arg(i)}, {u"bdate"_s, dates[i]}};
        });
        QCOMPARE(core::countBirthdays(d.s.access, 3), 3);
        QVERIFY(!d.s.iRead.isOpen() && !d.s.IBTrans.active()); // nothing left open, nothing written
        core::openBirthdays(d.s.iRead, 3);
        QStringList order;
        for (; !d.s.iRead.eof(); d.s.iRead.next())
            order << d.s.iRead.asText(QStringLiteral("bdate"));
        QCOMPARE(order, (QStringList{u"01.03.1985"_s, u"03.03.1970"_s, u"12.03.2001"_s}));
        QCOMPARE(core::countBirthdays(d.s.access, 4), 1);
        QCOMPARE(core::countBirthdays(d.s.access, 5), 0);
    }
};

QTEST_GUILESS_MAIN(TestCore)
#include "tst_core.moc"
