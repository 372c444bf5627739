// The CardDAV address book over real database files: sync tokens across
// changes by every kind of writer, late commits, restarts and restored
// databases; writes with their preconditions and rights; device passwords;
// and the whole request path through the server once.

#include "carddav/dbbook.h"
#include "carddav/davserver.h"
#include "carddav/synctoken.h"
#include "davcheck.h"
#include "testdb.h"

#include "core/cardediting.h"
#include "db/schema.h"

#include <QImage>
#include <QtTest>

using namespace Qt::StringLiterals;
using Cols = QList<QPair<QString, QString>>;

namespace {

// Few rounds: the tests check the hash, not its cost.
constexpr int kTestRounds = 1000;

QByteArray vcard(const QString &uid, const QString &lines)
{
    return (u"BEGIN:VCARD\r\nVERSION:3.0\r\nUID:"_s + uid + u"\r\n"_s + lines + u"END:VCARD\r\n"_s).toUtf8();
}

template <typename T>
QList<T> drain(dav::Cursor<T> &cursor)
{
    QList<T> out;
    T item;
    while (cursor.next(item))
        out << item;
    return out;
}

// Href -> deleted, of the changes since a token; a card reported twice keeps its last word.
QMap<QString, bool> changed(davdb::DbBook &book, const QString &token)
{
    QMap<QString, bool> out;
    std::optional<dav::Book::Changes> c = book.changesSince(token);
    if (!c)
        return {{u"<refused>"_s, true}};
    for (const dav::Change &ch : drain(*c->changes))
        out.insert(ch.href, ch.deleted);
    return out;
}

QByteArray etagOf(davdb::DbBook &book, const QString &href)
{
    const std::optional<dav::FetchedCard> card = book.get(href, dav::Version::V3);
    return card ? card->etag : QByteArray();
}

// A database with its users and a book over it.
struct Office
{
    testdb::SharedFixture f;
    QTemporaryDir photos;
    std::unique_ptr<davdb::DbBook> book;
    dav::User alice, bob;

    Office()
    {
        testdb::addUser(f.path, u"Алиса"_s, u"alice"_s, u"a"_s, u"full"_s);
        testdb::addUser(f.path, u"Борис"_s, u"bob"_s, u"b"_s, u"read"_s);
        alice = {u"alice"_s, u"Алиса"_s, f.value(u"SELECT pk_id FROM pers WHERE login = 'alice'"_s).toLongLong()};
        bob = {u"bob"_s, u"Борис"_s, f.value(u"SELECT pk_id FROM pers WHERE login = 'bob'"_s).toLongLong()};
        book = std::make_unique<davdb::DbBook>(f.s, photos.path(), QString(), kTestRounds);
    }
    qint64 card(const QString &fam) { return testdb::addCard(f.path, {{u"fam"_s, fam}}); }
    void sql(const QString &statements) { testdb::exec(f.path, statements); }
};

QString href(qint64 id)
{
    return u"zentrax-%1.vcf"_s.arg(id);
}

} // namespace

class TestCardDavDb : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { testdb::init(); }

    void tokens_data()
    {
        QTest::addColumn<QString>("token");
        QTest::addColumn<qint64>("start"); // -1: refused
        QTest::newRow("this database") << u"ab12-500-9000"_s << qint64(500);
        QTest::newRow("another database") << u"cd34-500-9000"_s << qint64(-1);
        QTest::newRow("transactions went back") << u"ab12-2001-9000"_s << qint64(-1);
        QTest::newRow("a year old") << u"ab12-500-8635"_s << qint64(500);
        QTest::newRow("older than a year") << u"ab12-500-8634"_s << qint64(-1);
        QTest::newRow("from the future") << u"ab12-500-9001"_s << qint64(-1);
        QTest::newRow("not a number") << u"ab12-x-9000"_s << qint64(-1);
        QTest::newRow("parts missing") << u"ab12-500"_s << qint64(-1);
    }
    void tokens()
    {
        QFETCH(QString, token);
        QFETCH(qint64, start);
        const davdb::DbMoment now{u"ab12"_s, 1800, 2000, 9000};
        QCOMPARE(davdb::tokenStart(token, now).value_or(-1), start);
        QCOMPARE(davdb::tokenStart(davdb::tokenOf(now), now).value_or(-1), qint64(1800));
    }

    // Whatever writes a card (a desk save, a tool's plain SQL, its photo path,
    // its accounts) or deletes it, the next changes since a token hold it.
    void changesFollowEveryWriter_data()
    {
        QTest::addColumn<QString>("statements"); // %1: the card
        QTest::addColumn<bool>("deleted");
        QTest::newRow("plain update") << u"UPDATE base SET wtel = '123' WHERE pk_id = %1"_s << false;
        QTest::newRow("a column the list ignores") << u"UPDATE base SET pnum = '77' WHERE pk_id = %1"_s << false;
        QTest::newRow("photo path") << u"UPDATE base SET fpath = 'x\\y.jpg' WHERE pk_id = %1"_s << false;
        QTest::newRow("accounts added") << u"INSERT INTO accounts (bs_fk, sn1, adr1) VALUES (%1, 'VK', 'v')"_s << false;
        QTest::newRow("accounts changed") << u"INSERT INTO accounts (bs_fk, sn1, adr1) VALUES (99999, 'VK', 'v');\n"
                                             "UPDATE accounts SET bs_fk = %1 WHERE bs_fk = 99999"_s
                                          << false;
        QTest::newRow("deleted") << u"DELETE FROM base WHERE pk_id = %1"_s << true;
    }
    void changesFollowEveryWriter()
    {
        QFETCH(QString, statements);
        QFETCH(bool, deleted);
        Office o;
        const qint64 id = o.card(u"Иванов"_s);
        const QByteArray before = etagOf(*o.book, href(id));
        QVERIFY(!before.isEmpty());
        const QString token = o.book->syncToken();
        o.sql(statements.arg(id));
        const QMap<QString, bool> c = changed(*o.book, token);
        QVERIFY2(c.contains(href(id)), qPrintable(c.keys().join(u' ')));
        QCOMPARE(c.value(href(id)), deleted);
        const QByteArray after = etagOf(*o.book, href(id));
        QCOMPARE(after.isEmpty(), deleted);
        QVERIFY(after != before);
        // Members agree: a deleted card is gone from the listing.
        QCOMPARE(drain(*o.book->members()).size(), deleted ? 0 : 1);
    }

    // A database of an older version gets the tables and triggers by the
    // upgrade step, and they work at once.
    void upgradeAddsTheTables()
    {
        Office o;
        o.sql(u"DROP TRIGGER carddav_base_changed;\nDROP TRIGGER carddav_accounts_changed"_s);
        o.sql(u"DROP TABLE carddav_cards;\nDROP TABLE carddav_passwords"_s);
        o.f.s.IBDbase.close();
        o.f.s.IBDbase.open();
        QCOMPARE(schema::pendingUpgrade(o.f.s.IBDbase).value(0).name, u"carddav"_s);
        const schema::UpgradeReport report = schema::upgrade(o.f.s.IBDbase);
        QCOMPARE(report.done, QStringList{u"carddav"_s});
        QVERIFY(report.failed.isEmpty());
        QVERIFY(schema::pendingUpgrade(o.f.s.IBDbase).isEmpty());
        const qint64 id = o.card(u"После"_s);
        const QString token = o.book->syncToken();
        o.sql(u"INSERT INTO accounts (bs_fk, sn1) VALUES (%1, 'VK')"_s.arg(id));
        QCOMPARE(changed(*o.book, token), (QMap<QString, bool>{{href(id), false}}));
        QVERIFY(!o.book->passwords().add(u"alice"_s, u"a"_s, u"Телефон"_s).isEmpty());
    }

    // A desk save through the card editor, and a card made before the table
    // existed: its tag stays the same until it changes.
    void deskSaveAndUnmarkedCards()
    {
        Office o;
        const qint64 id = o.card(u"Петров"_s);
        o.sql(u"DELETE FROM carddav_cards"_s); // as before the upgrade
        const QByteArray unmarked = etagOf(*o.book, href(id));
        QCOMPARE(etagOf(*o.book, href(id)), unmarked);
        QCOMPARE(drain(*o.book->members()).value(0).etag, unmarked);
        const QString token = o.book->syncToken();
        QVERIFY(changed(*o.book, token).isEmpty());

        core::CardEditor editor(o.f.s.access, o.photos.path());
        const std::optional<core::CardBaseline> base = editor.load(id);
        QVERIFY(base);
        core::CardChange change{base->card, {}, {}};
        change.card.values[u"post"_s] = u"Инженер"_s;
        QCOMPARE(editor.update(id, change, *base, o.alice.id, true).outcome, core::SaveResult::Outcome::Stored);
        QCOMPARE(changed(*o.book, token), (QMap<QString, bool>{{href(id), false}}));
        QVERIFY(etagOf(*o.book, href(id)) != unmarked);
        QVERIFY(o.book->get(href(id), dav::Version::V3)->text.contains("TITLE:Инженер"));
    }

    // A transaction that commits after a token was made (it was running then)
    // is in the changes since that token: reported maybe twice, never lost.
    void lateCommitIsNeverLost()
    {
        Office o;
        const qint64 late = o.card(u"Поздний"_s);
        const qint64 early = o.card(u"Ранний"_s);
        const QString t0 = o.book->syncToken();
        testdb::Peek held(o.f.path);
        held.q.setSql(u"UPDATE base SET wtel = '1' WHERE pk_id = %1"_s.arg(late));
        held.q.execute(); // running, not committed
        o.sql(u"UPDATE base SET wtel = '2' WHERE pk_id = %1"_s.arg(early));
        std::optional<dav::Book::Changes> first = o.book->changesSince(t0);
        QVERIFY(first);
        const QString t1 = first->token;
        QStringList seen;
        for (const dav::Change &c : drain(*first->changes))
            seen << c.href;
        QVERIFY(seen.contains(href(early)));
        held.t.commit();
        QVERIFY(changed(*o.book, t1).contains(href(late)));
        QVERIFY(changed(*o.book, t0).contains(href(late)));

        // With nothing changed the token stays as it was, so that a client
        // comparing it lists nothing; a change, even by a tool, moves it.
        const QString quiet = o.book->syncToken();
        o.sql(u"SELECT COUNT(*) FROM base"_s); // other transactions, no change
        QCOMPARE(o.book->syncToken(), quiet);
        QCOMPARE(o.book->changesSince(quiet)->token, quiet);
        o.sql(u"UPDATE base SET wtel = '3' WHERE pk_id = %1"_s.arg(early));
        QVERIFY(o.book->syncToken() != quiet);
        QCOMPARE(changed(*o.book, quiet), (QMap<QString, bool>{{href(early), false}}));
    }

    // Tokens live in the database, not in the server: a new book on the same
    // file takes them. A token of another database, or of this one before it
    // was put back from a copy, is refused.
    void restartAndRestore()
    {
        Office o;
        const qint64 id = o.card(u"Сидоров"_s);
        const QString token = o.book->syncToken();
        o.sql(u"UPDATE base SET wtel = '5' WHERE pk_id = %1"_s.arg(id));
        {
            SharedDb again;
            testdb::open(again, o.f.path);
            davdb::DbBook restarted(again, o.photos.path(), QString(), kTestRounds);
            QCOMPARE(changed(restarted, token), (QMap<QString, bool>{{href(id), false}}));
        }
        // Another database made anew (a restore from a backup makes one).
        QTemporaryDir other;
        const QString otherPath = other.filePath(u"restored.fdb"_s);
        schema::createDatabase(otherPath);
        {
            SharedDb s;
            testdb::open(s, otherPath);
            davdb::DbBook restored(s, o.photos.path(), QString(), kTestRounds);
            QVERIFY(!restored.changesSince(token));
            QVERIFY(restored.changesSince(restored.syncToken()));
        }
        // A copy of the file from before later work: its transactions are behind the token's.
        const QString copyPath = other.filePath(u"copy.fdb"_s);
        o.f.s.IBDbase.close();
        QVERIFY(QFile::copy(o.f.path, copyPath));
        o.f.s.IBDbase.open();
        QStringList work;
        for (int i = 0; i < 60; ++i)
            work << u"UPDATE base SET htel = '%1' WHERE pk_id = %2"_s.arg(i).arg(id);
        o.sql(work.join(u";\n"_s));
        const QString later = o.book->syncToken();
        SharedDb s;
        testdb::open(s, copyPath);
        davdb::DbBook copy(s, o.photos.path(), QString(), kTestRounds);
        QVERIFY(!copy.changesSince(later));
        QVERIFY(copy.changesSince(token));
    }

    void writes()
    {
        Office o;
        davdb::DbBook &b = *o.book;
        const dav::Conditions none;
        const QByteArray card =
            vcard(u"uid-1"_s, u"N:Смирнов;Иван;;;\r\nFN:Иван Смирнов\r\nTEL;TYPE=CELL:+7 900\r\n"_s);
        QCOMPARE(b.put(u"new one.vcf"_s, card, none, o.alice).outcome, dav::PutResult::Created);
        const QString id = o.f.value(u"SELECT card FROM carddav_cards WHERE href = 'new%20one.vcf'"_s);
        QVERIFY(!id.isEmpty());
        QCOMPARE(o.f.value(u"SELECT fam || '/' || fdt FROM base WHERE pk_id = "_s + id),
                 u"Смирнов/"_s + QString::number(o.alice.id));
        const std::optional<dav::FetchedCard> got = b.get(u"new one.vcf"_s, dav::Version::V4);
        QVERIFY(got);
        QVERIFY(got->text.startsWith("BEGIN:VCARD\r\nVERSION:4.0\r\nUID:uid-1\r\n"));
        QVERIFY(got->text.contains("Смирнов"));
        QVERIFY(!b.get(href(id.toLongLong()), dav::Version::V3));

        // Updates: with the tag read, without one, with a stale one.
        const QByteArray etag = got->etag;
        dav::Conditions current;
        current.ifMatch = {etag};
        const QByteArray edited = vcard(u"uid-1"_s, u"N:Смирнов;Иван;;;\r\nTITLE:Директор\r\n"_s);
        QCOMPARE(b.put(u"new one.vcf"_s, edited, current, o.alice).outcome, dav::PutResult::Updated);
        QCOMPARE(o.f.value(u"SELECT post FROM base WHERE pk_id = "_s + id), u"Директор"_s);
        QCOMPARE(b.put(u"new one.vcf"_s, edited, current, o.alice).outcome, dav::PutResult::PreconditionFailed);
        dav::Conditions createOnly;
        createOnly.ifNoneMatchAny = true;
        QCOMPARE(b.put(u"new one.vcf"_s, edited, createOnly, o.alice).outcome, dav::PutResult::PreconditionFailed);
        // A colleague's change between the client's read and its write.
        current.ifMatch = {etagOf(b, u"new one.vcf"_s)};
        o.sql(u"UPDATE base SET wtel = '1' WHERE pk_id = "_s + id);
        QCOMPARE(b.put(u"new one.vcf"_s, card, current, o.alice).outcome, dav::PutResult::PreconditionFailed);
        QCOMPARE(o.f.value(u"SELECT post FROM base WHERE pk_id = "_s + id), u"Директор"_s);
        QCOMPARE(b.put(u"new one.vcf"_s, card, none, o.alice).outcome, dav::PutResult::Updated);

        // One UID, one card: the client's and the ones the server made.
        const qint64 desk = o.card(u"Кузнецов"_s);
        o.sql(u"UPDATE base SET pnum = '4500' WHERE pk_id = %1"_s.arg(desk));
        dav::PutResult clash = b.put(u"copy.vcf"_s, vcard(u"uid-1"_s, u"FN:X\r\n"_s), none, o.alice);
        QCOMPARE(clash.outcome, dav::PutResult::UidConflict);
        QCOMPARE(clash.conflictHref, u"new one.vcf"_s);
        clash = b.put(u"copy.vcf"_s, vcard(u"zentrax-%1"_s.arg(desk), u"FN:X\r\n"_s), none, o.alice);
        QCOMPARE(clash.outcome, dav::PutResult::UidConflict);
        QCOMPARE(clash.conflictHref, href(desk));
        // A desk card edited by a phone that drops this program's own properties keeps them.
        QCOMPARE(
            b.put(href(desk), vcard(u"zentrax-%1"_s.arg(desk), u"N:Кузнецов;Пётр;;;\r\n"_s), none, o.alice).outcome,
            dav::PutResult::Updated);
        QCOMPARE(o.f.value(u"SELECT name1 || '/' || pnum FROM base WHERE pk_id = %1"_s.arg(desk)), u"Пётр/4500"_s);
        // Names of the server's form are not a client's to take.
        QCOMPARE(b.put(u"zentrax-999999.vcf"_s, vcard(u"u9"_s, u"FN:Y\r\n"_s), none, o.alice).outcome,
                 dav::PutResult::BadCard);
        QCOMPARE(b.put(u"bad.vcf"_s, "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:\xe2\x98\x83\r\nEND:VCARD\r\n", none, o.alice)
                     .outcome,
                 dav::PutResult::BadCard);

        // Rights as the desk sets them, read at every request.
        QCOMPARE(b.put(u"b.vcf"_s, vcard(u"b"_s, u"FN:B\r\n"_s), none, o.bob).outcome, dav::PutResult::Forbidden);
        QCOMPARE(b.remove(u"new one.vcf"_s, none, o.bob), dav::RemoveResult::Forbidden);
        QCOMPARE(b.rights(o.alice), dav::Rights::Full);
        o.sql(u"UPDATE pers SET level = 'read' WHERE login = 'alice'"_s);
        QCOMPARE(b.rights(o.alice), dav::Rights::ReadOnly);
        QCOMPARE(b.put(u"new one.vcf"_s, card, none, o.alice).outcome, dav::PutResult::Forbidden);
        o.sql(u"UPDATE pers SET level = 'full' WHERE login = 'alice'"_s);

        // Deletion: conditions, then gone, reported, and its name free again.
        const QString token = b.syncToken();
        dav::Conditions stale;
        stale.ifMatch = {"1-x-1"};
        QCOMPARE(b.remove(u"new one.vcf"_s, stale, o.alice), dav::RemoveResult::PreconditionFailed);
        QCOMPARE(b.remove(u"new one.vcf"_s, none, o.alice), dav::RemoveResult::Deleted);
        QCOMPARE(b.remove(u"new one.vcf"_s, none, o.alice), dav::RemoveResult::NotFound);
        QCOMPARE(o.f.count(u"SELECT * FROM base WHERE pk_id = "_s + id), 0);
        QCOMPARE(changed(b, token).value(u"new one.vcf"_s, false), true);
        QVERIFY(!b.get(u"new one.vcf"_s, dav::Version::V3));
        QCOMPARE(b.put(u"new one.vcf"_s, card, createOnly, o.alice).outcome, dav::PutResult::Created);
        QCOMPARE(changed(b, token).value(u"new one.vcf"_s, true), false);
    }

    // Photos go out scaled down; a missing file leaves the photo out; a
    // deleted card's photo goes once no card names it.
    void photos()
    {
        Office o;
        QDir(o.photos.path()).mkpath(u"s1"_s);
        QImage big(1600, 1200, QImage::Format_RGB32);
        for (int y = 0; y < big.height(); ++y)
            for (int x = 0; x < big.width(); ++x)
                big.setPixel(x, y, qRgb((x * 7) % 256, (y * 13) % 256, (x ^ y) % 256));
        const QString file = o.photos.filePath(u"s1/big.png"_s);
        QVERIFY(big.save(file));
        const qint64 id = testdb::addCard(o.f.path, {{u"fam"_s, u"Фото"_s}, {u"fpath"_s, u"s1\\big.png"_s}});
        const qint64 missing = testdb::addCard(o.f.path, {{u"fam"_s, u"Нет"_s}, {u"fpath"_s, u"s1\\none.jpg"_s}});

        const QByteArray text = o.book->get(href(id), dav::Version::V3)->text;
        const qsizetype at = text.indexOf("PHOTO;ENCODING=b;TYPE=JPEG:");
        QVERIFY(at >= 0);
        QByteArray b64 = text.mid(at + 27, text.indexOf("\r\nX-ZENTRAX", at) - at - 27);
        b64.replace("\r\n ", "");
        const QByteArray jpeg = QByteArray::fromBase64(b64);
        QVERIFY(jpeg.size() <= davdb::kPhotoBytes);
        const QImage served = QImage::fromData(jpeg);
        QCOMPARE(served.size(), QSize(512, 384));
        const std::optional<dav::FetchedCard> without = o.book->get(href(missing), dav::Version::V3);
        QVERIFY(without && !without->text.contains("PHOTO"));

        QCOMPARE(o.book->remove(href(id), {}, o.alice), dav::RemoveResult::Deleted);
        QVERIFY(!QFile::exists(file));
    }

    void devicePasswords()
    {
        Office o;
        davdb::DevicePasswords &p = o.book->passwords();
        QVERIFY_THROWS_EXCEPTION(db::DbError, p.add(u"alice"_s, u"wrong"_s, u"Телефон"_s));
        QVERIFY_THROWS_EXCEPTION(db::DbError, p.add(u"nobody"_s, u"a"_s, u"Телефон"_s));
        const QString phone = p.add(u"alice"_s, u"a"_s, u"Телефон"_s);
        QVERIFY(QRegularExpression(u"^([a-z2-7]{4}-){6}[a-z2-7]{4}$"_s).match(phone).hasMatch());
        QVERIFY_THROWS_EXCEPTION(db::DbError, p.add(u"alice"_s, u"a"_s, u"Телефон"_s));
        const QString mail = p.add(u"alice"_s, u"a"_s, u"Почта"_s);
        QVERIFY(phone != mail);
        QCOMPARE(o.f.count(u"SELECT * FROM carddav_passwords WHERE digest CONTAINING '%1'"_s.arg(phone)), 0);

        QCOMPARE(p.authenticate(u"alice"_s, phone), std::optional<qint64>(o.alice.id));
        QCOMPARE(p.authenticate(u"alice"_s, DevicePasswordsTyped(phone)), std::optional<qint64>(o.alice.id));
        QCOMPARE(p.authenticate(u"alice"_s, mail), std::optional<qint64>(o.alice.id));
        QVERIFY(!p.authenticate(u"alice"_s, u"a"_s)); // the desktop password is no device password
        QVERIFY(!p.authenticate(u"bob"_s, phone));
        QVERIFY(!p.authenticate(u"alice"_s, phone.left(phone.size() - 1) + u'a'));
        const QList<davdb::DevicePasswords::Entry> listed = p.list(u"alice"_s);
        QCOMPARE(listed.size(), 2);
        QCOMPARE(listed[1].label, u"Телефон"_s);
        QVERIFY(listed[1].made.isValid() && listed[1].used.isValid());

        // The desktop password changes: the phone goes on. Revoked: it stops, cached or not.
        o.sql(u"UPDATE pers SET pass = 'new' WHERE login = 'alice'"_s);
        davdb::DevicePasswords fresh(o.f.s.access, kTestRounds);
        QCOMPARE(fresh.authenticate(u"alice"_s, phone), std::optional<qint64>(o.alice.id));
        QVERIFY(fresh.revoke(u"alice"_s, u"Телефон"_s));
        QVERIFY(!fresh.revoke(u"alice"_s, u"Телефон"_s));
        QVERIFY(!p.authenticate(u"alice"_s, phone));
        QVERIFY(p.authenticate(u"alice"_s, mail));

        // Through the book: the user with his name, or nobody.
        const std::optional<dav::User> u = o.book->authenticate(u"alice"_s, mail, u"10.0.0.1"_s);
        QVERIFY(u);
        QCOMPARE(u->name, u"Алиса"_s);
        QVERIFY(!o.book->authenticate(u"alice"_s, phone, u"10.0.0.1"_s));
    }

    // RFC 7914's vectors for PBKDF2-HMAC-SHA256.
    void pbkdf2()
    {
        QCOMPARE(davdb::pbkdf2Sha256("passwd", "salt", 1, 64).toHex(),
                 QByteArray("55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc"
                            "49ca9cccf179b645991664b39d77ef317c71b845b1e30bd509112041d3a19783"));
        QCOMPARE(davdb::pbkdf2Sha256("Password", "NaCl", 80000, 64).toHex(),
                 QByteArray("4ddcd8f60b98be21830cee5ef22701f9641a4418d04c0414aeff08876b34ab56"
                            "a1d425a1225833549adb841b51c9b3176a272bdebba1d078478f62b397f33c8d"));
        QVERIFY(davdb::sameBytes("abc", "abc"));
        QVERIFY(!davdb::sameBytes("abc", "abd"));
        QVERIFY(!davdb::sameBytes("abc", "abcd"));
    }

    void throttle()
    {
        davdb::LoginThrottle t;
        QCOMPARE(t.delayMs(u"alice"_s, u"a1"_s), 0);
        t.failed(u"alice"_s, u"a1"_s);
        QCOMPARE(t.delayMs(u"alice"_s, u"a2"_s), 250); // the login, from anywhere
        QCOMPARE(t.delayMs(u"bob"_s, u"a1"_s), 250);   // the address, for any login
        QCOMPARE(t.delayMs(u"bob"_s, u"a2"_s), 0);
        t.succeeded(u"alice"_s, u"a1"_s);
        t.succeeded(u"bob"_s, u"a1"_s);
        for (int i = 0; i < 4; ++i)
            t.failed(u"alice"_s, u"a1"_s);
        // Guesses sent at once wait in turn: each its full wait after the last.
        const qint64 first = t.delayMs(u"alice"_s, u"a1"_s);
        QVERIFY(first > 1900 && first <= 2000);
        const qint64 second = t.delayMs(u"alice"_s, u"a9"_s); // the same login from elsewhere
        QVERIFY(second > 3900 && second <= 4000);
        for (int i = 0; i < 20; ++i)
            t.failed(u"alice"_s, u"a1"_s);
        t.succeeded(u"alice"_s, u"a1"_s); // the right password ends the queue
        for (int i = 0; i < 20; ++i)
            t.failed(u"carol"_s, u"a3"_s);
        QCOMPARE(t.delayMs(u"carol"_s, u"a3"_s), davdb::LoginThrottle::kLongestMs);
        t.succeeded(u"alice"_s, u"a1"_s);
        QCOMPARE(t.delayMs(u"alice"_s, u"a1"_s), 0);
    }

    // The server's requests answered from the database: discovery, a PUT,
    // an initial sync and one since its token.
    void throughTheServer()
    {
        Office o;
        const qint64 desk = o.card(u"Настольный"_s);
        const QString password = o.book->passwords().add(u"alice"_s, u"a"_s, u"iPhone"_s);
        dav::Server server(*o.book);
        const auto send = [&](const QByteArray &method, const QString &path, const QByteArray &body,
                              const QList<QPair<QByteArray, QByteArray>> &fields) {
            dav::Request r;
            r.method = method;
            r.path = path;
            r.body = body;
            r.peer = u"127.0.0.1"_s;
            r.headers.set("Authorization", "Basic " + (u"alice:"_s + password).toUtf8().toBase64());
            for (const auto &[name, value] : fields)
                r.headers.set(name, value);
            return server.handle(r);
        };
        const QString cards = u"/dav/addressbooks/alice/cards/"_s;
        const Multistatus root = readMultistatus(
            send("PROPFIND", u"/"_s,
                 "<d:propfind xmlns:d=\"DAV:\"><d:prop><d:current-user-principal/></d:prop></d:propfind>",
                 {{"Depth", "0"}})
                .readAll());
        QCOMPARE(root.responses.value(0).props.value(u"{DAV:}current-user-principal"_s).text,
                 u"/dav/principals/alice/"_s);

        QCOMPARE(send("PUT", cards + u"phone.vcf"_s, vcard(u"p1"_s, u"FN:Телефонный\r\nN:Телефонный;;;;\r\n"_s),
                      {{"Content-Type", "text/vcard"}, {"If-None-Match", "*"}})
                     .status,
                 201);
        const QByteArray initial = "<d:sync-collection xmlns:d=\"DAV:\"><d:sync-token/><d:sync-level>1</d:sync-level>"
                                   "<d:prop><d:getetag/></d:prop></d:sync-collection>";
        const Multistatus all = readMultistatus(send("REPORT", cards, initial, {}).readAll());
        QVERIFY2(all.problem.isEmpty(), qPrintable(all.problem));
        QCOMPARE(all.hrefs().size(), 2);
        QVERIFY(all.find(cards + href(desk)));
        QVERIFY(all.find(cards + u"phone.vcf"_s));
        QVERIFY(!all.syncToken.isEmpty());

        o.sql(u"UPDATE base SET wmob = '+7 911' WHERE pk_id = %1"_s.arg(desk));
        const QByteArray since = "<d:sync-collection xmlns:d=\"DAV:\"><d:sync-token>" + all.syncToken.toUtf8() +
                                 "</d:sync-token><d:sync-level>1</d:sync-level><d:prop><d:getetag/></d:prop>"
                                 "</d:sync-collection>";
        const Multistatus delta = readMultistatus(send("REPORT", cards, since, {}).readAll());
        QVERIFY(delta.find(cards + href(desk)));
        const dav::Response got = send("GET", cards + href(desk), {}, {});
        QCOMPARE(got.status, 200);
        QCOMPARE(got.headers.value("ETag"), '"' + etagOf(*o.book, href(desk)) + '"');
    }

private:
    static QString DevicePasswordsTyped(const QString &shown) { return shown.toUpper().remove(u'-'); }
};

QTEST_GUILESS_MAIN(TestCardDavDb)
#include "tst_carddavdb.moc"
