// A card's photo on disk and in the database, without any window.

#include "core/cardstore.h"
#include "db/access.h"
#include "core/photos.h"
#include "core/tempfolder.h"
#include "db/shared.h"
#include "testdb.h"

#include <QtTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <sys/inotify.h>
#endif

using namespace Qt::StringLiterals;

namespace {

// A card with every column empty.
core::CardRecord blankCard()
{
    core::CardRecord r;
    for (const QString &c : core::cardColumns())
        r.values.insert(c, QString());
    return r;
}

void writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(data);
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

} // namespace

class TestPhotoFiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { testdb::init(); }

    void storedPathRules_data()
    {
        QTest::addColumn<QString>("fpath");
        QTest::addColumn<QString>("file"); // relative to the folder, "" for none
        QTest::newRow("stored form") << "3_06122026_101747\\photo 1.jpg"
                                     << "3_06122026_101747/photo 1.jpg";
        QTest::newRow("forward slash") << "3_1/photo.png"
                                       << "3_1/photo.png";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("up and out") << "..\\..\\etc\\passwd"
                                    << "";
        QTest::newRow("up inside") << "3_1\\..\\x.jpg"
                                   << "";
        QTest::newRow("absolute") << "/etc/passwd"
                                  << "";
        QTest::newRow("backslash root") << "\\etc\\passwd"
                                        << "";
        QTest::newRow("drive") << "C:\\photos\\x.jpg"
                               << "";
        QTest::newRow("empty part") << "3_1\\\\x.jpg"
                                    << "";
    }

    void storedPathRules()
    {
        QFETCH(QString, fpath);
        QFETCH(QString, file);
        const QString folder = QStringLiteral("/srv/prog/files");
        QCOMPARE(core::photoFile(folder, fpath),
                 file.isEmpty() ? QString() : QDir::toNativeSeparators(folder + u"/"_s + file));
    }

    void namesAndCopies()
    {
        QCOMPARE(core::storedFileName(QStringLiteral("/home/u/Фото Иванова.jpg")), QStringLiteral("Фото Иванова.jpg"));
        QCOMPARE(core::storedFileName(QStringLiteral("/home/u/日本\U0001F600 a.png")), QStringLiteral("___ a.png"));
        QCOMPARE(core::storedFileName(QStringLiteral("/home/u/a:b?.jpg")), QStringLiteral("a_b_.jpg"));

        QTemporaryDir dir;
        const QString src = dir.filePath(QStringLiteral("src.jpg"));
        QByteArray data(300000, '\0');
        for (int i = 0; i < data.size(); ++i)
            data[i] = char(i * 7 + i / 251);
        writeFile(src, data);
        const QString target = dir.filePath(QStringLiteral("files/st/src.jpg"));
        QDir().mkpath(QFileInfo(target).absolutePath());
        QCOMPARE(core::copyFileSafely(src, target), QString());
        QCOMPARE(readFile(target), data);
        // Onto itself: nothing is destroyed.
        QCOMPARE(core::copyFileSafely(target, target), QString());
        QCOMPARE(readFile(target), data);
        // A newer file of the same name replaces the old one in one step (the old
        // one is never deleted first). The partial copy lies in the scratch folder
        // while the old file stays whole; no partial file stays anywhere.
        writeFile(src, data + "second");
        const QString scratch = dir.filePath(QStringLiteral("scratch"));
        QDir().mkpath(scratch);
#ifdef Q_OS_LINUX
        const int watch = ::inotify_init1(IN_NONBLOCK);
        QVERIFY(::inotify_add_watch(watch, QFile::encodeName(QFileInfo(target).absolutePath()).constData(),
                                    IN_DELETE) >= 0);
#endif
        QList<qint64> reported;
        core::CopyOptions copy{scratch, [&](qint64 done, qint64 total) {
                                   reported << done;
                                   return total == data.size() + 6 && readFile(target) == data &&
                                          entries(QFileInfo(target).absolutePath()) == QStringList{u"src.jpg"_s} &&
                                          entries(scratch).size() == 1 && entries(scratch)[0].endsWith(u".part"_s);
                               }};
        QCOMPARE(core::copyFileSafely(src, target, copy), QString());
        QCOMPARE(readFile(target), data + "second");
        QCOMPARE(reported, (QList<qint64>{0, data.size() + 6}));
        QCOMPARE(entries(QFileInfo(target).absolutePath()), QStringList{u"src.jpg"_s});
        QCOMPARE(entries(scratch), QStringList());
#ifdef Q_OS_LINUX
        char events[4096];
        QCOMPARE(::read(watch, events, sizeof events), ssize_t(-1)); // nothing was deleted there
        ::close(watch);
        // A scratch folder on another file system: the partial file is made beside the target.
        QTemporaryDir other(QStringLiteral("/dev/shm/zentrax-XXXXXX"));
        struct stat a, b;
        if (other.isValid() && ::stat("/dev/shm", &a) == 0 &&
            ::stat(QFile::encodeName(dir.path()).constData(), &b) == 0 && a.st_dev != b.st_dev) {
            writeFile(src, "third");
            QCOMPARE(core::copyFileSafely(src, target, {other.path(), {}}), QString());
            QCOMPARE(readFile(target), QByteArray("third"));
            QCOMPARE(entries(QFileInfo(target).absolutePath()), QStringList{u"src.jpg"_s});
            QCOMPARE(entries(other.path()), QStringList());
        }
        // A copy that is stopped leaves the old file and no partial file.
        const QByteArray before = readFile(target);
        writeFile(src, "stopped");
        QVERIFY(
            core::copyFileSafely(src, target, {scratch, [](qint64, qint64) { return false; }}).contains(u"прервано"_s));
        QCOMPARE(readFile(target), before);
        QCOMPARE(entries(scratch), QStringList());
        // A pipe as the source is refused at once, as no plain file.
        QVERIFY(::mkfifo(QFile::encodeName(dir.filePath(u"pipe.jpg"_s)).constData(), 0600) == 0);
        QVERIFY(core::copyFileSafely(dir.filePath(u"pipe.jpg"_s), target).contains(QStringLiteral("не обычный файл")));
#endif
        writeFile(src, "second");
        QCOMPARE(core::copyFileSafely(src, target), QString());
        QCOMPARE(readFile(target), QByteArray("second"));
        // A missing source and an unwritable folder are told, the old file stays.
        QVERIFY(core::copyFileSafely(dir.filePath(u"none.jpg"_s), target).contains(QStringLiteral("не найден")));
        QVERIFY(QFile(QFileInfo(target).absolutePath()).setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        if (::geteuid() != 0) // root writes anywhere
            QVERIFY(!core::copyFileSafely(src, dir.filePath(u"files/st/other.jpg"_s)).isEmpty());
        QVERIFY(QFile(QFileInfo(target).absolutePath())
                    .setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
        QCOMPARE(readFile(target), QByteArray("second"));
    }

    void attachAndDelete()
    {
        testdb::SharedFixture d;
        SharedDb &s = d.s;
        const QString &path = d.path;
        const QTemporaryDir &dir = d.dir;
        const core::CardRecord r = blankCard();
        const qint64 id = core::CardStore(s.access).insert(r, 1, QStringLiteral("1_02032026_040506"), nullptr);
        const QString folder = dir.filePath(QStringLiteral("files"));
        core::PhotoStore photos(s.access, folder);
        QCOMPARE(photos.stamp(id), QStringLiteral("1_02032026_040506"));
        QCOMPARE(photos.storedPath(id), std::optional<QString>(QString()));
        QCOMPARE(photos.storedPath(id + 1), std::nullopt);

        const QString chosen = dir.filePath(QStringLiteral("Моё фото.jpg"));
        writeFile(chosen, "JPEGDATA");
        const QString fpath = photos.attach(id, photos.stamp(id), chosen);
        QCOMPARE(fpath, QStringLiteral("1_02032026_040506\\Моё фото.jpg"));
        QCOMPARE(testdb::Peek(path).value(QStringLiteral("SELECT fpath FROM base")), fpath);
        QCOMPARE(readFile(folder + QStringLiteral("/1_02032026_040506/Моё фото.jpg")), QByteArray("JPEGDATA"));

        // A failed copy changes nothing in the database.
        QVERIFY_THROWS_EXCEPTION(db::DbError, photos.attach(id, photos.stamp(id), dir.filePath(u"gone.jpg"_s)));
        QCOMPARE(testdb::Peek(path).value(QStringLiteral("SELECT fpath FROM base")), fpath);

        QCOMPARE(photos.deleteFile(id), core::PhotoStore::Deleted::Deleted);
        QVERIFY(!QFile::exists(folder + QStringLiteral("/1_02032026_040506/Моё фото.jpg")));
        QVERIFY(QDir(folder + QStringLiteral("/1_02032026_040506")).exists()); // the folder stays
        QCOMPARE(testdb::Peek(path).value(QStringLiteral("SELECT fpath FROM base")), QString());
        // A file already gone: fpath is emptied all the same, and that is told.
        photos.setStoredPath(id, QStringLiteral("1_02032026_040506\\gone.jpg"));
        QCOMPARE(photos.deleteFile(id), core::PhotoStore::Deleted::FileWasMissing);
        QCOMPARE(testdb::Peek(path).value(QStringLiteral("SELECT fpath FROM base")), QString());
        // A path that leads outside the folder is never deleted.
        const QString outside = dir.filePath(QStringLiteral("outside.jpg"));
        writeFile(outside, "keep");
        photos.setStoredPath(id, QStringLiteral("..\\outside.jpg"));
        QCOMPARE(photos.deleteFile(id), core::PhotoStore::Deleted::Outside);
        QCOMPARE(readFile(outside), QByteArray("keep"));
        QCOMPARE(photos.deleteFile(id + 1), core::PhotoStore::Deleted::NoCard);

        // A name the database cannot hold is refused before anything is copied.
        const QString longName = dir.filePath(QString(250, QLatin1Char('x')) + QStringLiteral(".jpg"));
        writeFile(longName, "x");
        try {
            photos.attach(id, photos.stamp(id), longName);
            QFAIL("a path longer than the column was stored");
        } catch (const db::DbError &e) {
            QVERIFY2(e.text().startsWith(QStringLiteral("Имя файла фотографии слишком длинное")), qPrintable(e.text()));
        }
        QVERIFY(!QDir(folder + QStringLiteral("/1_02032026_040506"))
                     .entryList(QDir::Files)
                     .contains(QFileInfo(longName).fileName()));

        // The card lets go of its photo before the file goes: a colleague holding
        // the row makes the deletion fail with the file and its path both kept.
        const QString kept = folder + QStringLiteral("/1_02032026_040506/kept.jpg");
        writeFile(kept, "KEPT");
        photos.setStoredPath(id, QStringLiteral("1_02032026_040506\\kept.jpg"));
        testdb::Peek colleague(path);
        colleague.q.setSql(QStringLiteral("UPDATE base SET other = 'x'"));
        colleague.q.execute(); // the row stays locked until the colleague commits
        try {
            photos.deleteFile(id);
            QFAIL("the deletion went through a locked row");
        } catch (const db::DbError &e) {
            QVERIFY(e.conflict());
        }
        QCOMPARE(readFile(kept), QByteArray("KEPT"));
        colleague.t.rollback();
        QCOMPARE(testdb::Peek(path).value(QStringLiteral("SELECT fpath FROM base")),
                 QStringLiteral("1_02032026_040506\\kept.jpg"));
    }

    // Two cards saved by one login in the same second share their stamp: each
    // photo still gets a folder no other card names, and deleting one card's
    // photo never takes a file another card names.
    void cardsSharingAStamp()
    {
        testdb::SharedFixture d;
        SharedDb &s = d.s;
        const QTemporaryDir &dir = d.dir;
        const core::CardRecord r = blankCard();
        const QString stamp = QStringLiteral("1_02032026_040506");
        const qint64 a = core::CardStore(s.access).insert(r, 1, stamp, nullptr);
        const qint64 b = core::CardStore(s.access).insert(r, 1, stamp, nullptr);
        const QString folder = dir.filePath(QStringLiteral("files"));
        core::PhotoStore photos(s.access, folder);
        const QString chosen = dir.filePath(QStringLiteral("фото.jpg"));
        QHash<qint64, QString> fpaths;
        for (qint64 id : {a, b}) {
            writeFile(chosen, "PHOTO " + QByteArray::number(id));
            fpaths[id] = photos.attach(id, stamp, chosen);
        }
        // A second photo keeps the card's own folder.
        writeFile(chosen, "PHOTO " + QByteArray::number(b));
        QCOMPARE(photos.attach(b, stamp, chosen), fpaths[b]);
        QVERIFY(fpaths[a] != fpaths[b]);
        for (qint64 id : {a, b}) {
            QCOMPARE(photos.storedPath(id), std::optional<QString>(fpaths[id]));
            QVERIFY(fpaths[id].startsWith(stamp) && fpaths[id].endsWith(QStringLiteral("\\фото.jpg")));
            QCOMPARE(readFile(core::photoFile(folder, fpaths[id])), "PHOTO " + QByteArray::number(id));
#ifdef Q_OS_UNIX
            // The card's folder is the program's group's only, and what is made inside takes its group.
            struct stat st;
            QVERIFY(::stat(QFile::encodeName(QFileInfo(core::photoFile(folder, fpaths[id])).path()).constData(), &st) ==
                    0);
            QCOMPARE(st.st_mode & 07777, mode_t(02770));
#endif
        }
        QCOMPARE(photos.deleteFile(a), core::PhotoStore::Deleted::Deleted);
        QCOMPARE(readFile(core::photoFile(folder, fpaths[b])), "PHOTO " + QByteArray::number(b));
        QCOMPARE(photos.storedPath(b), std::optional<QString>(fpaths[b]));

        // Two cards that already name one file (stored so by an older version):
        // the file stays for the other card, only this card's fpath is emptied.
        photos.setStoredPath(a, fpaths[b]);
        QCOMPARE(photos.deleteFile(a), core::PhotoStore::Deleted::KeptForOtherCard);
        QCOMPARE(photos.storedPath(a), std::optional<QString>(QString()));
        QCOMPARE(readFile(core::photoFile(folder, fpaths[b])), "PHOTO " + QByteArray::number(b));
    }

    // Two copies storing cards with one stamp at once, the first one's unit
    // not committed yet (an import's batch): the second never writes over
    // the first's file, and each card keeps its own picture. A unit given up
    // leaves no claim behind.
    void namesClaimedBeforeTheCommit()
    {
        testdb::SharedFixture d;
        const QString stamp = QStringLiteral("1_02032026_040506");
        const QString folder = d.dir.filePath(QStringLiteral("files"));
        SharedDb other;
        testdb::open(other, d.path);
        core::PhotoStore mine(d.s.access, folder), theirs(other.access, folder);
        const QString chosenA = d.dir.filePath(QStringLiteral("a.png")),
                      chosenB = d.dir.filePath(QStringLiteral("b.png"));
        writeFile(chosenA, "PHOTO A");
        writeFile(chosenB, "PHOTO B");
        std::optional<db::Batch> batch(std::in_place, d.s.access); // as an import holds its cards
        core::StagedPhoto held = mine.stage(chosenA);
        held.name = QStringLiteral("photo.png");
        qint64 a = 0, b = 0;
        batch->unit([&] {
            a = core::CardStore(d.s.access).insert(blankCard(), 1, stamp, nullptr);
            mine.name(held, a, stamp);
        });
        QCOMPARE(theirs.storedPath(a), std::nullopt); // not seen by the other copy yet
        core::StagedPhoto second = theirs.stage(chosenB);
        second.name = QStringLiteral("photo.png");
        other.access.unit([&] {
            b = core::CardStore(other.access).insert(blankCard(), 1, stamp, nullptr);
            theirs.name(second, b, stamp);
        });
        QVERIFY2(second.fpath != held.fpath, qPrintable(second.fpath));
        QCOMPARE(theirs.place(second), QString());
        batch->commit();
        batch.reset();
        QCOMPARE(mine.place(held), QString());
        QCOMPARE(readFile(core::photoFile(folder, held.fpath)), QByteArray("PHOTO A"));
        QCOMPARE(readFile(core::photoFile(folder, second.fpath)), QByteArray("PHOTO B"));

        core::StagedPhoto dropped = mine.stage(chosenA);
        dropped.name = QStringLiteral("other.png");
        {
            db::Batch given(d.s.access);
            given.unit([&] { mine.name(dropped, a, stamp); });
            QVERIFY(QFileInfo(dropped.target).isFile());
        } // rolled back
        core::PhotoStore::discard(dropped);
        QVERIFY(!QFileInfo::exists(dropped.target));
        QCOMPARE(mine.storedPath(a), std::optional<QString>(held.fpath));
    }

    // An import killed before its batch committed leaves the empty files
    // that claimed its photos' names; the clean-up of its scratch folder
    // removes those no card names, and keeps placed photos and the claims
    // of cards that did commit.
    void claimsOfAKilledImport()
    {
        testdb::SharedFixture d;
        const QString folder = d.dir.filePath(QStringLiteral("files"));
        const QString scratch = d.dir.filePath(QStringLiteral("scratch"));
        QVERIFY(QDir().mkpath(scratch));
        core::PhotoStore photos(d.s.access, folder);
        const QString chosen = d.dir.filePath(QStringLiteral("a.png"));
        writeFile(chosen, "PHOTO");
        core::CopyOptions copy;
        copy.scratchFolder = scratch;
        auto stageAs = [&](const QString &name) {
            core::StagedPhoto p = photos.stage(chosen, copy);
            p.name = name;
            return p;
        };
        core::StagedPhoto placed = stageAs(QStringLiteral("placed.png")), named = stageAs(QStringLiteral("named.png")),
                          lost = stageAs(QStringLiteral("lost.png"));
        qint64 a = 0, b = 0;
        {
            db::Batch batch(d.s.access);
            batch.unit([&] {
                a = core::CardStore(d.s.access).insert(blankCard(), 1, QStringLiteral("1_01012026_010101"), nullptr);
                photos.name(placed, a, QStringLiteral("1_01012026_010101"));
                b = core::CardStore(d.s.access).insert(blankCard(), 1, QStringLiteral("1_01012026_020202"), nullptr);
                photos.name(named, b, QStringLiteral("1_01012026_020202"));
            });
            batch.commit();
        }
        QCOMPARE(photos.place(placed), QString()); // `named` is killed before its place
        {
            db::Batch batch(d.s.access);
            batch.unit([&] {
                const qint64 c =
                    core::CardStore(d.s.access).insert(blankCard(), 1, QStringLiteral("1_01012026_030303"), nullptr);
                photos.name(lost, c, QStringLiteral("1_01012026_030303"));
            });
        } // killed: rolled back, never discarded
        const QString lostFile = core::photoFile(folder, lost.fpath);
        QVERIFY(QFileInfo(lostFile).isFile());

        QCOMPARE(photos.releaseClaims(scratch), 1);
        QVERIFY(!QFileInfo::exists(lostFile));
        QCOMPARE(readFile(core::photoFile(folder, placed.fpath)), QByteArray("PHOTO"));
        QVERIFY(QFileInfo(core::photoFile(folder, named.fpath)).isFile()); // a card names it
        QCOMPARE(photos.releaseClaims(d.dir.filePath(QStringLiteral("none"))), 0);

        // The clean-up runs it with the ended copy's folder locked, and
        // keeps the folder when the database cannot answer.
        QString endedPath;
        {
            core::ScratchFolder ended; // the copy ends: its lock goes, its folder stays
            QVERIFY(ended.make(d.dir.filePath(QStringLiteral("temp")), QStringLiteral("desk-1")));
            endedPath = ended.path();
        }
        QCOMPARE(core::removeIfEnded(endedPath, [](const QString &) { return false; }), core::Scratch::InUse);
        QVERIFY(QFileInfo(endedPath).isDir());
        QCOMPARE(core::removeIfEnded(endedPath, [](const QString &) { return true; }), core::Scratch::Removed);
        QVERIFY(!QFileInfo::exists(endedPath));
    }
};

QTEST_GUILESS_MAIN(TestPhotoFiles)
#include "tst_photofiles.moc"
