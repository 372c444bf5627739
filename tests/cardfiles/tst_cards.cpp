// Cards out to vCard and CSV files and back in: the demo cards and odd ones
// make the round trip whole, files as other address books write them are
// read field by field, what the database cannot hold is refused and told,
// duplicates are found, a cancel keeps every stored card whole, a card
// refused amid the cards that share its commit goes alone, the program's
// other work runs in units of its own meanwhile, and a peer library reads
// what the program writes.

#include "cardfiles/cardfile.h"
#include "cardfiles/cardimport.h"
#include "cardfiles/csvtext.h"
#include "cardfiles/exportcards.h"
#include "core/cardediting.h"
#include "core/cardfields.h"
#include "core/cardmerge.h"
#include "db/access.h"
#include "core/duplicates.h"
#include "core/cardstore.h"
#include "core/contactlist.h"
#include "core/photos.h"
#include "core/refvalues.h"
#include "db/cp1251.h"
#include "demo.h"
#include "hostilecards.h"
#include "testdb.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringDecoder>
#include <QtTest>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

const QString kData = QStringLiteral(ZENTRAX_TEST_DATA "/cards/");

// A database with its photo folder and scratch folder.
struct Db : testdb::SharedFixture
{
    QString photos = dir.filePath(QStringLiteral("files"));
    QString scratch = dir.filePath(QStringLiteral("temp"));
    Db()
    {
        QDir().mkpath(photos);
        QDir().mkpath(scratch);
    }
    core::CardImport importer() { return core::CardImport(s.access, photos, scratch); }
};

// A stored card, read as the card window reads it, with its photo's bytes.
struct Stored
{
    core::CardRecord card;
    std::optional<core::Accounts> accounts;
    QByteArray photo;
    QString photoName;
};

Stored stored(Db &d, qint64 id)
{
    core::CardStore store(d.s.access);
    Stored out;
    out.card = store.load(id).value();
    out.accounts = store.loadAccounts(id);
    if (!out.card.fpath.isEmpty()) {
        QFile f(core::photoFile(d.photos, out.card.fpath));
        if (f.open(QIODevice::ReadOnly))
            out.photo = f.readAll();
        out.photoName = out.card.fpath.section(QLatin1Char('\\'), -1);
    }
    return out;
}

QList<qint64> ids(Db &d)
{
    QList<qint64> out;
    testdb::Peek peek(d.path);
    peek.q.setSql(QStringLiteral("SELECT pk_id FROM base ORDER BY pk_id"));
    peek.q.open();
    for (; !peek.q.eof(); peek.q.next())
        out << peek.q.asInt(0);
    peek.t.commit();
    return out;
}

QByteArray jpegBytes(int size)
{
    QByteArray b("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00", 11);
    for (int i = 0; b.size() < size; ++i)
        b += char((i * 37 + i / 7) & 0xFF);
    return b;
}

void attach(Db &d, qint64 id, const QByteArray &bytes, const QString &name)
{
    const QString file = QDir(d.dir.path()).filePath(name);
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    f.close();
    core::PhotoStore(d.s.access, d.photos).attach(id, core::PhotoStore(d.s.access, d.photos).stamp(id), file);
}

// The demo cards and a few that test every escape, form and limit.
void fillSource(Db &d)
{
    demo::addCards(d.s.IBDbase, d.s.IBTrans, 40, 1);
    core::CardStore store(d.s.access);
    core::CardRecord odd = core::emptyCard();
    auto set = [&odd](const char *c, const QString &v) { odd.values[QLatin1String(c)] = v; };
    set("fam", QStringLiteral("О'Брайен; \"Тест\", \\слэш"));
    set("name1", QStringLiteral("Анна-Мария"));
    set("work", QStringLiteral("ООО «Рога, копыта; и Ко»"));
    set("dep", QStringLiteral("Отдел\\Сектор"));
    set("post", QStringLiteral("Зам. директора, по науке"));
    set("bdate", QStringLiteral("29.02.    "));
    set("wtel", QStringLiteral("+7 (495) 000-00-00 доб. 1;2"));
    set("hmail", QStringLiteral("anna,maria@example.ru"));
    set("hskype", QStringLiteral("live:.cid.12ab"));
    set("ps", QStringLiteral("45 01"));
    set("vdate2", QStringLiteral("01.01.2030"));
    set("smok", QStringLiteral("1"));
    set("sport", QStringLiteral("1"));
    set("rem", QStringLiteral("Строка 1\r\nСтрока 2, с запятой; и точкой с запятой\r\n\\конец\r\n"));
    set("other", QStringLiteral("Прочее: «ёлка» \u2116 5\r\nещё\u00A0строка\tс табуляцией"));
    core::Accounts acc;
    const QString nets[] = {QStringLiteral("2 ..."), QStringLiteral("VK"), QStringLiteral("Linkedln"),
                            QStringLiteral("Сайт, личный")};
    const QString addresses[] = {QString(), QStringLiteral("https://vk.com/x?a=1,b=2;c"), QString(),
                                 QStringLiteral("https://a.b/c d")};
    for (int k = 0; k < 4; ++k) {
        acc.network[k] = nets[k];
        acc.address[k] = addresses[k];
    }
    const qint64 oddId = store.insert(odd, 1, QStringLiteral("1_01012026_100000"), &acc);
    attach(d, oddId, jpegBytes(3000), QStringLiteral("фото Анны.jpg"));

    core::CardRecord raw = core::emptyCard();
    raw.values[QStringLiteral("fam")] = QStringLiteral("Сырцов");
    raw.values[QStringLiteral("bdate")] = QStringLiteral("весна 1970");
    raw.values[QStringLiteral("pdate1")] = QStringLiteral("1 .03.2001");
    // A byte Windows-1251 leaves unassigned, written by another program, goes back as it came.
    raw.values[QStringLiteral("rem")] = QStringLiteral("байт \uF798 другой программы");
    raw.values[QStringLiteral("work")] = QString(250, QChar(u'Ж'));
    raw.values[QStringLiteral("other")] = QString(9000, QChar(u'ю'));
    const qint64 rawId = store.insert(raw, 1, QStringLiteral("1_01012026_100001"), nullptr);
    attach(d, rawId,
           QByteArray::fromBase64("iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNkYPhfDwAChwGA"
                                  "60e6kgAAAABJRU5ErkJggg=="),
           QStringLiteral("снимок.png"));
}

// `count` vCards, card i named "Карточка<i>", with the work place "Фирма <i>"
// (`org` for card `orgAt`) and a photo of 2000 + i bytes.
QByteArray photoCards(int count, int orgAt = -1, const QString &org = QString())
{
    QByteArray file;
    for (int i = 0; i < count; ++i)
        file += QStringLiteral("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Карточка%1;Имя;;;\r\nORG:%2\r\n"
                               "PHOTO;ENCODING=b;TYPE=JPEG:%3\r\nEND:VCARD\r\n")
                    .arg(i)
                    .arg(i == orgAt ? org : QStringLiteral("Фирма %1").arg(i))
                    .arg(QString::fromLatin1(jpegBytes(2000 + i).toBase64()))
                    .toUtf8();
    return file;
}

// The files under the photo folder.
int photoFiles(Db &d)
{
    int n = 0;
    for (QDirIterator it(d.photos, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext(); it.next())
        ++n;
    return n;
}

core::CardFormat formatOf(const QString &name)
{
    return name == QLatin1String("csv")      ? core::CardFormat::Csv
           : name == QLatin1String("vcard3") ? core::CardFormat::VCard3
                                             : core::CardFormat::VCard4;
}

QString describe(const Stored &s)
{
    QStringList parts;
    for (const QString &c : core::cardColumns())
        parts << c + QLatin1Char('=') + s.card.value(c);
    return parts.join(QLatin1Char('|'));
}

// A vCard reader of another make (Python's vobject) reads the exported file:
// every card's name, phones, e-mails and photo as stored.
void checkPeerReads(const QString &file, Db &src, const QList<qint64> &order)
{
    const QString python = QFile::exists(QStringLiteral("/usr/bin/python3")) ? QStringLiteral("/usr/bin/python3")
                                                                             : QStringLiteral("python3");
    QProcess peer;
    peer.start(python, {kData + QStringLiteral("peer_read.py"), file});
    QVERIFY(peer.waitForFinished(60000));
    if (peer.exitCode() == 77 || peer.error() == QProcess::FailedToStart)
        return qInfo(
            "Python's vobject library (Debian package python3-vobject) is not installed: the peer check is skipped.");
    QVERIFY2(peer.exitCode() == 0, peer.readAllStandardError().constData());
    const QJsonArray cards = QJsonDocument::fromJson(peer.readAllStandardOutput()).array();
    QCOMPARE(cards.size(), order.size());
    for (int i = 0; i < order.size(); ++i) {
        const Stored s = stored(src, order[i]);
        const QJsonObject c = cards[i].toObject();
        const auto v = [&s](const char *col) { return s.card.value(QLatin1String(col)); };
        QCOMPARE(c.value(QStringLiteral("n")).toArray(), (QJsonArray{v("fam"), v("name1"), v("name2")}));
        QStringList tels, mails;
        for (const char *col : {"wtel", "htel", "wmob", "hmob"})
            if (!v(col).isEmpty())
                tels << v(col);
        for (const char *col : {"wmail", "hmail"})
            if (!v(col).isEmpty())
                mails << v(col);
        tels.sort();
        mails.sort();
        QCOMPARE(c.value(QStringLiteral("tel")).toVariant().toStringList(), tels);
        QCOMPARE(c.value(QStringLiteral("email")).toVariant().toStringList(), mails);
        QCOMPARE(c.value(QStringLiteral("photo")).toInt(), int(s.photo.size()));
    }
}

} // namespace

class TestCards : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { testdb::init(); }

    // Every card exported and imported into an empty database comes back
    // equal, field by field, accounts and photos byte for byte; the new
    // work places, departments and posts are in their books. A vCard reader
    // of another make reads the vCard files too.
    void roundTrip_data()
    {
        QTest::addColumn<QString>("format");
        QTest::newRow("vCard 4.0") << QStringLiteral("vcard");
        QTest::newRow("vCard 3.0") << QStringLiteral("vcard3");
        QTest::newRow("CSV") << QStringLiteral("csv");
    }
    void roundTrip()
    {
        QFETCH(QString, format);
        Db src;
        fillSource(src);
        const QList<qint64> order = core::listIds(src.s.access, ListFilter{}, ListSort::Name);
        QCOMPARE(order.size(), 42);
        const QString file = src.dir.filePath(QStringLiteral("cards.out"));
        const core::ExportReport out = core::exportCards(src.s.access, src.photos, order, formatOf(format), file);
        QVERIFY2(out.complete(), qPrintable(out.text(file)));
        QCOMPARE(out.written, 42);

        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        if (format == QLatin1String("csv")) {
            QVERIFY(bytes.startsWith("\xEF\xBB\xBF\xD0\xA4"));
            // No photo in a CSV file (a spreadsheet's cell cannot hold one), and the report says so.
            QVERIFY(!bytes.contains("base64") && !bytes.contains(jpegBytes(3000).toBase64().left(40)));
            QVERIFY2(out.text(file).contains(u"Фотографии в CSV не сохраняются"_s), qPrintable(out.text(file)));
            QVERIFY(out.photosLeftOut > 0);
        } else {
            QCOMPARE(out.photosLeftOut, 0);
            // Folded at 75 octets, never inside a character.
            for (const QByteArray &line : bytes.split('\n')) {
                QVERIFY2(line.size() <= 76, line.constData());
                QStringDecoder utf8(QStringDecoder::Utf8);
                const QString decoded = utf8.decode(line);
                QVERIFY2(!utf8.hasError(), line.constData());
            }
            checkPeerReads(file, src, order);
            if (QTest::currentTestFailed())
                return;
        }

        Db dst;
        core::CardImport in = dst.importer();
        QVERIFY2(in.readBytes(bytes), qPrintable(in.error()));
        QCOMPARE(in.total(), 42);
        QCOMPARE(in.duplicates(), 2); // the demo set's two planted duplicates, found inside the file
        QCOMPARE(in.refusals(), 0);
        const core::ImportReport report = in.store(true, 5);
        QVERIFY2(report.complete(), qPrintable(report.text()));
        QCOMPARE(report.stored, 42);

        const QList<qint64> copies = ids(dst);
        QCOMPARE(copies.size(), 42);
        QSet<QString> works;
        for (int i = 0; i < 42; ++i) {
            const Stored a = stored(src, order[i]), b = stored(dst, copies[i]);
            QCOMPARE(describe(b), describe(a));
            QCOMPARE(b.accounts.has_value(), a.accounts.has_value());
            if (a.accounts)
                QVERIFY(*b.accounts == *a.accounts);
            if (format == QLatin1String("csv")) {
                QVERIFY(b.photo.isEmpty());
            } else {
                QCOMPARE(b.photo, a.photo);
                QCOMPARE(b.photoName, a.photoName);
            }
            if (!a.card.value(QStringLiteral("work")).isEmpty())
                works.insert(cp1251::upper(a.card.value(QStringLiteral("work"))));
        }
        QSet<QString> book;
        for (const QString &w : core::RefValues(dst.s.access).list(sql::Ref::Organization))
            book.insert(cp1251::upper(w));
        QCOMPARE(book, works);
    }

    // CSV files as other programs leave them: a UTF-8 file with one stray
    // Windows byte stays UTF-8 (the byte named), UTF-16 without a mark is
    // read as such, a field with a NUL is left out with a note, and a first
    // row that names no known column is refused instead of giving nameless cards.
    void csvEncodings()
    {
        const QByteArray header = "Фамилия,Имя,Прочее\r\n";
        core::CardFile f = core::readCards(header + "Иванов,Пётр,O\x92"
                                                    "Brien\r\n");
        QVERIFY2(f.error.isEmpty(), qPrintable(f.error));
        QCOMPARE(f.cards.size(), 1);
        QCOMPARE(f.cards[0].card.value(u"fam"_s), u"Иванов"_s);
        QVERIFY(f.cards[0].card.value(u"other"_s).contains(u"O\u2019Brien"_s));
        QVERIFY2(f.problems.join(QLatin1Char('\n')).contains(u"Строка 2"_s), qPrintable(f.problems.join(u"; "_s)));

        const QString text = QString::fromUtf8(header + "Петрова,Анна,\r\n");
        QByteArray utf16(reinterpret_cast<const char *>(text.utf16()), text.size() * 2); // little-endian, no mark
        f = core::readCards(utf16);
        QVERIFY2(f.error.isEmpty(), qPrintable(f.error));
        QCOMPARE(f.cards.size(), 1);
        QCOMPARE(f.cards[0].card.value(u"fam"_s), u"Петрова"_s);

        f = core::readCards(header + QByteArray("Сидоров,Ив\0ан,\r\n", 21));
        QCOMPARE(f.cards.size(), 1);
        QCOMPARE(f.cards[0].card.value(u"fam"_s), u"Сидоров"_s);
        QCOMPARE(f.cards[0].card.value(u"name1"_s), QString());
        QVERIFY2(f.problems.join(QLatin1Char('\n')).contains(u"управляющий символ"_s),
                 qPrintable(f.problems.join(u"; "_s)));

        f = core::readCards("Столбец А,Столбец Б\r\nx,y\r\n");
        QVERIFY(f.cards.isEmpty());
        QVERIFY2(f.error.contains(u"нет ни одного известного названия"_s), qPrintable(f.error));
    }

    // A CSV file written before photos were left out still gives its photos.
    void olderCsvPhoto()
    {
        const QByteArray photo = jpegBytes(2500);
        const core::CardFile f = core::readCards("Фамилия,Имя,Файл фотографии,Фотография\r\nИванов,Иван,лицо.jpg,\""
                                                 "data:image/jpeg;base64," +
                                                 photo.toBase64() + "\"\r\n");
        QVERIFY2(f.error.isEmpty(), qPrintable(f.error));
        QCOMPARE(f.cards.size(), 1);
        QCOMPARE(f.cards[0].photo, photo);
        QCOMPARE(f.cards[0].photoName, u"лицо.jpg"_s);
    }

    // A CSV export never hands a spreadsheet a formula to run, yet reads
    // back as typed; phones stay as they are. An export onto a pipe or a
    // device is refused and leaves it be.
    void csvFormulasStayText_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("written");
        QTest::newRow("formula") << u"=HYPERLINK(\"http://x\";\"1\")"_s << u"'=HYPERLINK(\"http://x\";\"1\")"_s;
        QTest::newRow("at") << u"@SUM(A1)"_s << u"'@SUM(A1)"_s;
        QTest::newRow("sum") << u"+1+1"_s << u"'+1+1"_s;
        QTest::newRow("dde") << u"-2+3+cmd|' /C calc'!A0"_s << u"'-2+3+cmd|' /C calc'!A0"_s;
        QTest::newRow("tab first") << u"\tx"_s << u"'\tx"_s;
        QTest::newRow("phone") << u"+7 (495) 123-45-67"_s << u"+7 (495) 123-45-67"_s;
        QTest::newRow("number") << u"-5"_s << u"-5"_s;
        QTest::newRow("apostrophe kept") << u"'=x"_s << u"''=x"_s;
        QTest::newRow("apostrophe, phone") << u"'+7 495"_s << u"'+7 495"_s;
        QTest::newRow("plain") << u"O'Brien"_s << u"O'Brien"_s;
    }
    void csvFormulasStayText()
    {
        QFETCH(QString, typed);
        QFETCH(QString, written);
        QCOMPARE(csv::neutralized(typed), written);
        QCOMPARE(csv::asTyped(written), typed);

        Db src;
        const qint64 id = testdb::addCard(src.path, {{u"fam"_s, u"Формулов"_s},
                                                     {u"name1"_s, typed},
                                                     {u"wtel"_s, u"+7 (495) 000-00-01"_s},
                                                     {u"post"_s, u"П"_s},
                                                     {u"work"_s, u"Р"_s},
                                                     {u"wmail"_s, u"m"_s}});
        const QString file = src.dir.filePath(QStringLiteral("cards.csv"));
        const core::ExportReport out = core::exportCards(src.s.access, src.photos, {id}, core::CardFormat::Csv, file);
        QVERIFY2(out.complete(), qPrintable(out.text(file)));
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        QVERIFY(bytes.contains(csv::field(written).toUtf8()));
        QVERIFY(bytes.contains("+7 (495) 000-00-01"));
        Db dst;
        core::CardImport in = dst.importer();
        QVERIFY2(in.readBytes(bytes), qPrintable(in.error()));
        QVERIFY(in.store(true, 5).complete());
        const QList<qint64> copies = ids(dst);
        QCOMPARE(copies.size(), 1);
        QCOMPARE(stored(dst, copies.first()).card.value(u"name1"_s), typed);

        const QString fifo = src.dir.filePath(QStringLiteral("pipe.csv"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const core::ExportReport refused =
            core::exportCards(src.s.access, src.photos, {id}, core::CardFormat::Csv, fifo);
        QVERIFY(!refused.complete());
        QVERIFY2(refused.error.contains(u"не обычный файл"_s), qPrintable(refused.error));
        QVERIFY(QFileInfo(fifo).exists() && !QFileInfo(fifo).isFile());
    }

    // Files as address books write them, read into the database field by
    // field; the cards a database cannot hold are refused with the card,
    // the field and the character or length named, and nothing of them stored.
    void handWritten_data()
    {
        QTest::addColumn<QString>("name");
        for (const char *n :
             {"v21_phone.vcf", "v30_address_book.vcf", "v40_folded.vcf", "csv_english_pairs.csv",
              "csv_russian_1251.csv", "csv_birth_parts.csv", "refused.vcf", "photo_names.vcf", "v30_client_saved.vcf"})
            QTest::newRow(n) << QString::fromLatin1(n);
    }
    void handWritten()
    {
        QFETCH(QString, name);
        QFile expectedFile(kData + name.section(QLatin1Char('.'), 0, 0) + QStringLiteral(".json"));
        QVERIFY(expectedFile.open(QIODevice::ReadOnly));
        const QJsonObject expected = QJsonDocument::fromJson(expectedFile.readAll()).object();
        const QJsonArray cards = expected.value(QStringLiteral("cards")).toArray();
        const QJsonArray refused = expected.value(QStringLiteral("refused")).toArray();

        Db d;
        core::CardImport in = d.importer();
        QVERIFY2(in.read(kData + name), qPrintable(in.error()));
        QCOMPARE(in.kind(), expected.value(QStringLiteral("kind")).toString());
        const core::ImportReport report = in.store(true, 1);
        QCOMPARE(report.stored, cards.size());
        QCOMPARE(report.refused.size(), refused.size());
        for (int i = 0; i < refused.size(); ++i)
            QVERIFY2(report.refused[i].startsWith(refused[i].toString()), qPrintable(report.refused[i]));

        const QList<qint64> stored_ = ids(d);
        QCOMPARE(stored_.size(), cards.size());
        const core::CardRecord blank = core::emptyCard();
        for (int i = 0; i < cards.size(); ++i) {
            const QJsonObject want = cards[i].toObject();
            const Stored got = stored(d, stored_[i]);
            for (const QString &c : core::cardColumns())
                QCOMPARE(c + QLatin1Char('=') + got.card.value(c),
                         c + QLatin1Char('=') + want.value(c).toString(blank.value(c)));
            const QJsonArray acc = want.value(QStringLiteral("accounts")).toArray();
            QCOMPARE(got.accounts.has_value(), !acc.isEmpty());
            for (int k = 0; k < acc.size(); ++k) {
                QCOMPARE(got.accounts->network[k], acc[k].toArray()[0].toString());
                QCOMPARE(got.accounts->address[k], acc[k].toArray()[1].toString());
            }
            QCOMPARE(QString::fromLatin1(QCryptographicHash::hash(got.photo, QCryptographicHash::Md5).toHex()),
                     want.value(QStringLiteral("photo"))
                         .toString(QString::fromLatin1(QCryptographicHash::hash({}, QCryptographicHash::Md5).toHex())));
            QCOMPARE(got.photoName, want.value(QStringLiteral("photoName")).toString());
        }
        // Nothing was ever stored with a "?" standing for a character.
        QCOMPARE(d.count(QStringLiteral("SELECT pk_id FROM base WHERE fam || name1 || work CONTAINING '?'")), 0);
    }

    // A card looks stored when the full name matches (letter case aside)
    // with the same birthday or a common e-mail; it is skipped or added as asked.
    void duplicates_data()
    {
        QTest::addColumn<QString>("card");
        QTest::addColumn<bool>("duplicate");
        const QString head = QStringLiteral("BEGIN:VCARD\r\nVERSION:3.0\r\n");
        QTest::newRow("same birthday") << head + QStringLiteral("N:ИВАНОВ;иван;Иванович\r\nBDAY:1970-02-01\r\n")
                                       << true;
        QTest::newRow("common e-mail") << head + QStringLiteral(
                                                     "N:Иванов;Иван;Иванович\r\nEMAIL:x@y.ru\r\nEMAIL:IVAN@corp.RU\r\n")
                                       << true;
        QTest::newRow("another birthday")
            << head + QStringLiteral("N:Иванов;Иван;Иванович\r\nBDAY:1971-02-01\r\n") << false;
        QTest::newRow("another patronymic")
            << head + QStringLiteral("N:Иванов;Иван;Петрович\r\nBDAY:1970-02-01\r\n") << false;
        QTest::newRow("name alone") << head + QStringLiteral("N:Иванов;Иван;Иванович\r\n") << false;
    }
    void duplicates()
    {
        QFETCH(QString, card);
        QFETCH(bool, duplicate);
        Db d;
        core::CardRecord r = core::emptyCard();
        r.values[QStringLiteral("fam")] = QStringLiteral("Иванов");
        r.values[QStringLiteral("name1")] = QStringLiteral("Иван");
        r.values[QStringLiteral("name2")] = QStringLiteral("Иванович");
        r.values[QStringLiteral("bdate")] = QStringLiteral("01.02.1970");
        r.values[QStringLiteral("wmail")] = QStringLiteral("ivan@corp.ru");
        core::CardStore(d.s.access).insert(r, 1, QStringLiteral("1_1"), nullptr);
        const QByteArray file = (card + QStringLiteral("END:VCARD\r\n")).toUtf8();
        core::CardImport in = d.importer();
        QVERIFY(in.readBytes(file));
        QCOMPARE(in.duplicates(), duplicate ? 1 : 0);
        const core::ImportReport skipping = in.store(false, 1);
        QCOMPARE(skipping.skipped, duplicate ? 1 : 0);
        QCOMPARE(skipping.stored, duplicate ? 0 : 1);
        if (duplicate) {
            core::CardImport again = d.importer();
            QVERIFY(again.readBytes(file));
            QCOMPARE(again.store(true, 1).stored, 1);
        }
        QCOMPARE(d.count(QStringLiteral("SELECT pk_id FROM base")), 2);
    }

    // Files far longer than an address book writes read to the same card as
    // short ones: a quoted-printable note of thousands of soft line breaks
    // after a long parameter, a card of thousands of e-mails or web
    // addresses, a CSV field of thousands of quotes.
    void longInputs_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("column");
        QTest::addColumn<QString>("begins");
        QTest::addColumn<QString>("ends");
        QTest::addColumn<int>("lines");
        const int n = 3000;
        QTest::newRow("soft line breaks")
            << hostile::softBreaks(n) << u"rem"_s << u"АБ 0АБ 1АБ 2"_s << u"АБ 2999В"_s << 1;
        // The first two in the card's fields, the rest in "Прочее", each once.
        QTest::newRow("e-mails") << hostile::manyMails(n) << u"other"_s << u"E-mail: p2@example.ru"_s
                                 << u"E-mail: p2999@example.ru"_s << n - 2;
        QTest::newRow("web addresses") << hostile::manyUrls(n) << u"other"_s << u"Сайт: https://example.ru/4"_s
                                       << u"Сайт: https://example.ru/2999"_s << n - 4;
        QTest::newRow("CSV quotes") << hostile::csvQuotes(n) << u"other"_s << u"a\"\"\""_s << u"\"z"_s << 1;
    }
    void longInputs()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, column);
        QFETCH(QString, begins);
        QFETCH(QString, ends);
        QFETCH(int, lines);
        const core::CardFile f = core::readCards(file);
        QVERIFY2(f.error.isEmpty(), qPrintable(f.error));
        QCOMPARE(f.cards.size(), 1);
        const core::CardRecord &c = f.cards[0].card;
        QCOMPARE(c.value(u"fam"_s), u"Иванов"_s);
        QCOMPARE(c.value(u"name1"_s), u"Иван"_s);
        const QString value = c.value(column);
        QVERIFY2(value.startsWith(begins), qPrintable(value.left(80)));
        QVERIFY2(value.endsWith(ends), qPrintable(value.right(80)));
        QCOMPARE(value.count(u"\r\n"_s) + 1, lines);
    }

    // A reading cancelled from another thread stops with no cards, and the
    // import then neither checks nor stores anything; one not cancelled reads all.
    void cancelledReading_data()
    {
        QTest::addColumn<QByteArray>("file");
        QByteArray vcard, csv = "Фамилия,Имя\r\n";
        for (int i = 0; i < 50; ++i) {
            vcard += "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Карточка" + QByteArray::number(i) + ";Имя\r\nEND:VCARD\r\n";
            csv += "Карточка" + QByteArray::number(i) + ",Имя\r\n";
        }
        QTest::newRow("vCard") << vcard;
        QTest::newRow("CSV") << csv;
    }
    void cancelledReading()
    {
        QFETCH(QByteArray, file);
        const std::atomic_bool goOn = false, stop = true;
        QCOMPARE(core::readCards(file, &goOn).cards.size(), 50);
        core::CardFile f = core::readCards(file, &stop);
        QVERIFY(f.cancelled);
        QVERIFY(f.cards.isEmpty());
        Db d;
        core::CardImport in = d.importer();
        QVERIFY(!in.check(f));
        QCOMPARE(in.error(), QString());
        QCOMPARE(in.total(), 0);
        QVERIFY(in.check(core::readCards(file, &goOn)));
        QCOMPARE(in.total(), 50);
    }

    // A card whose note or "Прочее" is longer than a megabyte of text, or
    // whose photo is larger than the program takes, is refused with its
    // name and why; the card after it is stored all the same.
    void limits_data()
    {
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<QString>("refusal");
        const auto text = [](const char *name, qsizetype length) {
            return QByteArray(name) + ':' + QString(length, QChar(u'м')).toUtf8() + "\r\n";
        };
        const auto photo = [](qsizetype size) {
            return "PHOTO;ENCODING=b;TYPE=JPEG:" + jpegBytes(size).toBase64() + "\r\n";
        };
        const QLocale ru(QLocale::Russian);
        const QString over = ru.toString(core::kLongestMemo + 1);
        const QString memo = u"текст в поле «Примечания» слишком длинный: %1 знаков"_s.arg(over);
        const QString other = u"текст в поле «Прочее» слишком длинный: %1 знаков"_s.arg(over);
        const QString large = u"фотография слишком большая: %1 байт"_s.arg(ru.toString(core::kLargestPhoto + 1));
        QTest::newRow("note at the cap") << text("NOTE", core::kLongestMemo) << QString();
        QTest::newRow("note over it") << text("NOTE", core::kLongestMemo + 1) << memo;
        QTest::newRow("other at the cap") << text("X-ZENTRAX-OTHER", core::kLongestMemo) << QString();
        QTest::newRow("other over it") << text("X-ZENTRAX-OTHER", core::kLongestMemo + 1) << other;
        QTest::newRow("photo at the cap") << photo(core::kLargestPhoto) << QString();
        QTest::newRow("photo over it") << photo(core::kLargestPhoto + 1) << large;
    }
    void limits()
    {
        QFETCH(QByteArray, property);
        QFETCH(QString, refusal);
        const QByteArray file = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Большой;Борис\r\n" + property +
                                "END:VCARD\r\nBEGIN:VCARD\r\nVERSION:3.0\r\nN:Следующий;Карл\r\nEND:VCARD\r\n";
        Db d;
        core::CardImport in = d.importer();
        QVERIFY2(in.readBytes(file), qPrintable(in.error()));
        const core::ImportReport report = in.store(false, 1);
        QCOMPARE(report.stored, refusal.isEmpty() ? 2 : 1);
        QCOMPARE(report.refused.size(), refusal.isEmpty() ? 0 : 1);
        if (!refusal.isEmpty())
            QVERIFY2(report.refused[0].startsWith(u"карточка № 1 «Большой Борис» (строка 1): "_s + refusal),
                     qPrintable(report.refused[0]));
        const QList<qint64> stored_ = ids(d);
        QCOMPARE(stored(d, stored_.last()).card.value(u"fam"_s), u"Следующий"_s);
    }

    // A second import of the same file finds every card stored by the first.
    void secondImportFindsAll()
    {
        Db d;
        for (int pass = 0; pass < 2; ++pass) {
            core::CardImport in = d.importer();
            QVERIFY(in.read(kData + QStringLiteral("v30_address_book.vcf")));
            QCOMPARE(in.duplicates(), pass == 0 ? 0 : 2);
            in.store(false, 1);
        }
        QCOMPARE(d.count(QStringLiteral("SELECT pk_id FROM base")), 2);
    }

    // Cancelled in the middle: the cards stored before stay, each with its
    // photo; the rest are not touched.
    void cancelKeepsCardsWhole()
    {
        Db d;
        core::CardImport in = d.importer();
        QVERIFY(in.readBytes(photoCards(10)));
        const core::ImportReport report = in.store(false, 1, [](int done, int) { return done < 4; });
        QVERIFY(report.cancelled);
        QCOMPARE(report.stored, 4);
        QCOMPARE(report.notReached, 6);
        const QList<qint64> stored_ = ids(d);
        QCOMPARE(stored_.size(), 4);
        for (int i = 0; i < 4; ++i) {
            const Stored s = stored(d, stored_[i]);
            QCOMPARE(s.card.value(QStringLiteral("fam")), QStringLiteral("Карточка%1").arg(i));
            QCOMPARE(s.photo, jpegBytes(2000 + i));
        }
        QCOMPARE(core::RefValues(d.s.access).list(sql::Ref::Organization).size(), 4);
        QCOMPARE(photoFiles(d), 4);
        QVERIFY(QDir(d.scratch).entryList(QDir::Files | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());
    }

    // Cards share commits: one the database refuses in the middle (here its
    // work place, the last thing stored of a card) is undone alone, with its
    // photo file and its row; the cards around it stay whole.
    void refusedCardAloneInItsBatch()
    {
        Db d;
        testdb::exec(d.path, QStringLiteral("CREATE EXCEPTION no_such_org 'Нет такой организации';\n"
                                            "CREATE TRIGGER refuse_org FOR organization BEFORE INSERT AS BEGIN "
                                            "IF (NEW.org = 'Отказ') THEN EXCEPTION no_such_org; END"));
        core::CardImport in = d.importer();
        QVERIFY(in.readBytes(photoCards(5, 2, QStringLiteral("Отказ"))));
        const core::ImportReport report = in.store(false, 1);
        QCOMPARE(report.stored, 4);
        QCOMPARE(report.refused.size(), 1);
        QVERIFY2(report.refused[0].startsWith(QStringLiteral("карточка № 3 «Карточка2 Имя»")) &&
                     report.refused[0].contains(QStringLiteral("Нет такой организации")),
                 qPrintable(report.refused[0]));
        const QList<qint64> stored_ = ids(d);
        QCOMPARE(stored_.size(), 4);
        for (int k = 0; k < 4; ++k) {
            const int i = k < 2 ? k : k + 1;
            const Stored s = stored(d, stored_[k]);
            QCOMPARE(s.card.value(QStringLiteral("fam")), QStringLiteral("Карточка%1").arg(i));
            QCOMPARE(s.photo, jpegBytes(2000 + i));
        }
        QCOMPARE(photoFiles(d), 4);
        QCOMPARE(core::RefValues(d.s.access).list(sql::Ref::Organization).size(), 4);
    }

    // While the import shows its progress the program's other work goes on
    // in units of its own: a save after a colleague's change sees that
    // change (no false conflict) and is committed at once, with the cards
    // stored before it. A connection lost later stops the import: the
    // cards not committed yet are told as not reached, their photo files
    // removed.
    // The merge of a save with what is stored, field by field: rows of
    // (baseline, this edit, stored now) for the surname, the first account's
    // address and the photo.
    void mergeFieldByField_data()
    {
        QTest::addColumn<QStringList>("base");
        QTest::addColumn<QStringList>("mine");
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QString>("written");
        QTest::addColumn<QStringList>("clashes");
        const QString acc = core::kAccountsField, photo = core::kPhotoField;
        // fam, adr1 (empty: no accounts row / accounts not edited), fpath (mine: the chosen photo)
        QTest::newRow("only mine") << QStringList{u"А"_s, u""_s, u"p"_s} << QStringList{u"Б"_s, u""_s, u""_s}
                                   << QStringList{u"А"_s, u""_s, u"p"_s} << u"Б/"_s << QStringList{};
        QTest::newRow("only the colleague's") << QStringList{u"А"_s, u""_s, u"p"_s} << QStringList{u"А"_s, u""_s, u""_s}
                                              << QStringList{u"В"_s, u""_s, u"q"_s} << u"В/"_s << QStringList{};
        QTest::newRow("both, the same value") << QStringList{u"А"_s, u""_s, u""_s} << QStringList{u"Б"_s, u""_s, u""_s}
                                              << QStringList{u"Б"_s, u""_s, u""_s} << u"Б/"_s << QStringList{};
        QTest::newRow("both, different values")
            << QStringList{u"А"_s, u""_s, u""_s} << QStringList{u"Б"_s, u""_s, u""_s}
            << QStringList{u"В"_s, u""_s, u""_s} << u"Б/"_s << QStringList{u"fam"_s};
        QTest::newRow("an account a colleague added first")
            << QStringList{u"А"_s, u""_s, u""_s} << QStringList{u"А"_s, u"vk/me"_s, u""_s}
            << QStringList{u"А"_s, u"vk/him"_s, u""_s} << u"А/vk/me"_s << QStringList{acc};
        QTest::newRow("a photo over a colleague's")
            << QStringList{u"А"_s, u""_s, u"p"_s} << QStringList{u"А"_s, u""_s, u"new.png"_s}
            << QStringList{u"А"_s, u""_s, u"q"_s} << u"А/"_s << QStringList{photo};
        QTest::newRow("a photo, none stored meanwhile")
            << QStringList{u"А"_s, u""_s, u"p"_s} << QStringList{u"А"_s, u""_s, u"new.png"_s}
            << QStringList{u"А"_s, u""_s, u"p"_s} << u"А/"_s << QStringList{};
    }
    void mergeFieldByField()
    {
        QFETCH(QStringList, base);
        QFETCH(QStringList, mine);
        QFETCH(QStringList, stored);
        QFETCH(QString, written);
        QFETCH(QStringList, clashes);
        auto baseline = [](const QStringList &v) {
            core::CardBaseline b;
            b.card.values[QStringLiteral("fam")] = v[0];
            if (!v[1].isEmpty()) {
                b.accounts = core::shownAccounts(std::nullopt);
                b.accounts->address[0] = v[1];
            }
            b.card.fpath = v[2];
            return b;
        };
        core::CardChange change;
        change.card.values[QStringLiteral("fam")] = mine[0];
        if (!mine[1].isEmpty()) {
            change.accounts = core::shownAccounts(std::nullopt);
            change.accounts->address[0] = mine[1];
        }
        change.photo = mine[2];
        const core::CardMerge m = core::mergeCard(change, baseline(base), baseline(stored));
        QCOMPARE(m.written.value(QStringLiteral("fam")) + QLatin1Char('/') +
                     (m.accounts ? m.accounts->address[0] : QString()),
                 written);
        QCOMPARE(m.clashes, clashes);
        // After "Нет" to the clash the same edit merges without one, and
        // writes this edit's values there.
        const core::CardMerge again =
            core::mergeCard(change, core::acceptClashes(change, baseline(base), baseline(stored)), baseline(stored));
        QCOMPARE(again.clashes, QStringList());
        QCOMPARE(again.written.value(QStringLiteral("fam")),
                 clashes.contains(QStringLiteral("fam")) ? mine[0] : m.written.value(QStringLiteral("fam")));
    }

    // The rule of probable duplicates as a table: two cards written as
    // "surname|name|patronymic|birthday|work phone|mobile|e-mail".
    void duplicateRule_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<QString>("why"); // empty: not duplicates
        const auto row = [](const char *name, const char *a, const char *b, const char *why) {
            QTest::newRow(name) << QString::fromUtf8(a) << QString::fromUtf8(b) << QString::fromUtf8(why);
        };
        row("case, ё and е", "Иванов|Пётр|Сергеевич|||+7 916 111-22-33|", "ИВАНОВ|ПЕТР|СЕРГЕЕВИЧ||||", "");
        row("case, ё and е, the same mobile", "Иванов|Пётр|Сергеевич|||+7 (916) 111-22-33|",
            "ИВАНОВ|ПЕТР|сергеевич|||89161112233|", "тот же мобильный телефон");
        row("swapped order, no patronymic", "Smith|John||||+79161112233|", "John|Smith|Petrovich|||9161112233|",
            "тот же мобильный телефон");
        row("a mobile and a work phone", "Петров-Водкин|Кузьма||15.03.1980|8 916 111 22 33||",
            "Петров Водкин|Кузьма||||+7 916 111-22-33|", "тот же телефон");
        row("birthday without a year on one side", "Сидорова|Анна||05.11.1975|||", "Сидорова|Анна||05.11.    |||",
            "та же дата рождения");
        row("birthday, different years", "Сидорова|Анна||05.11.1975|||", "Сидорова|Анна||05.11.1976|||", "");
        row("e-mail in another letter case", "Ким|Ли|||||Li.Kim@Corp.ru", "Ким|Ли|||||li.kim@corp.ru", "тот же e-mail");
        row("namesakes with nothing in common", "Иванов|Иван|Иванович|01.01.1970|111-22-33||a@x",
            "Иванов|Иван|Иванович|02.02.1970|111-22-44||b@x", "");
        row("different patronymics", "Иванов|Иван|Петрович|||+79161112233|", "Иванов|Иван|Павлович|||+79161112233|",
            "");
        row("a phone too short to tell", "Ли|Ан||||12-34|", "Ли|Ан||||12-34|", "");
        row("no name at all", "||||||x@y", "||||||x@y", "");
    }
    void duplicateRule()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(QString, why);
        auto card = [](const QString &text) {
            const QStringList v = text.split(QLatin1Char('|'));
            core::CardRecord r;
            const char *cols[] = {"fam", "name1", "name2", "bdate", "wtel", "wmob", "wmail"};
            for (int i = 0; i < 7; ++i)
                r.values[QLatin1String(cols[i])] = v.value(i);
            return core::personKeys(r);
        };
        QCOMPARE(core::duplicateReasonText(core::duplicateReasons(card(a), card(b))), why);
        QCOMPARE(core::duplicateReasons(card(b), card(a)), core::duplicateReasons(card(a), card(b)));
        // The index finds exactly what the rule finds.
        core::DuplicateIndex index;
        index.add(7, card(a));
        QCOMPARE(index.like(card(b)).size(), why.isEmpty() ? 0 : 1);
    }

    // Groups across the stored cards are transitive (A like B by phone, B
    // like C by e-mail: one group), namesakes apart; an import of the same
    // cards again adds nothing, and two alike cards inside one file count
    // as duplicates of each other.
    void duplicateGroups()
    {
        Db d;
        const auto add = [&](const QString &fam, const QString &name, const QString &mob, const QString &mail) {
            return testdb::addCard(d.path, {{u"fam"_s, fam}, {u"name1"_s, name}, {u"hmob"_s, mob}, {u"hmail"_s, mail}});
        };
        const qint64 a = add(u"Орлов"_s, u"Олег"_s, u"+7 903 000-00-01"_s, QString());
        const qint64 b = add(u"ОРЛОВ"_s, u"ОЛЕГ"_s, u"89030000001"_s, u"oleg@orlov.ru"_s);
        const qint64 c = add(u"Олег"_s, u"Орлов"_s, QString(), u"OLEG@orlov.ru"_s);
        add(u"Орлов"_s, u"Олег"_s, u"+7 903 999-99-99"_s, u"other@orlov.ru"_s); // a namesake
        const qint64 e = add(u"Smith"_s, u"John"_s, u"+44 7700 900123"_s, QString());
        const qint64 f = add(u"Smith"_s, u"John"_s, u"07700900123"_s, QString());
        const QList<core::DuplicateGroup> groups = core::storedDuplicates(d.s.access);
        QCOMPARE(groups.size(), 2);
        QCOMPARE(groups[0].ids, (QList<qint64>{a, b, c}));
        QCOMPARE(core::duplicateReasonText(groups[0].reasons), u"тот же мобильный телефон, тот же e-mail"_s);
        QCOMPARE(groups[1].ids, (QList<qint64>{e, f}));

        const QByteArray file = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Smith;John;;;\r\nFN:John Smith\r\n"
                                "TEL;TYPE=CELL:+447700900123\r\nEND:VCARD\r\n"
                                "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Doe;Jane;;;\r\nFN:Jane Doe\r\n"
                                "TEL;TYPE=CELL:+1 202 555 0100\r\nEND:VCARD\r\n"
                                "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Doe;Jane;;;\r\nFN:Jane Doe\r\n"
                                "TEL;TYPE=WORK:12025550100\r\nEND:VCARD\r\n";
        core::CardImport in = d.importer();
        QVERIFY(in.readBytes(file));
        QCOMPARE(in.total(), 3);
        QCOMPARE(in.duplicates(), 2); // Smith as stored, the second Jane Doe as the first
        const core::ImportReport report = in.store(false, 1);
        QCOMPARE(report.stored, 1);
        QCOMPARE(report.skipped, 2);
        core::CardImport again = d.importer();
        QVERIFY(again.readBytes(file));
        QCOMPARE(again.duplicates(), 3); // a second run adds nothing
    }

    void otherWorkDuringImport_data()
    {
        QTest::addColumn<bool>("lose");
        QTest::addColumn<bool>("atCommit");
        QTest::newRow("a save between two cards") << false << false;
        QTest::newRow("then the connection lost") << true << false;
        // The batch is due when the loss is met: its commit fails, and the
        // photos staged for its cards must go all the same.
        QTest::newRow("then the connection lost at a commit") << true << true;
    }
    void otherWorkDuringImport()
    {
        QFETCH(bool, lose);
        QFETCH(bool, atCommit);
        Db d;
        const qint64 own = testdb::addCard(d.path, {{QStringLiteral("fam"), QStringLiteral("Свой")}});
        d.s.iRead.setSql(QStringLiteral("SELECT CURRENT_CONNECTION AS id FROM rdb$database"));
        d.s.iRead.open();
        const qint64 connection = d.s.iRead.asInt(QStringLiteral("id"));
        d.s.iRead.close();
        core::CardImport in = d.importer();
        QVERIFY(in.readBytes(photoCards(10)));
        core::CardStore store(d.s.access);
        QString saveError;
        int seenAtSave = -1;
        const core::ImportReport report = in.store(false, 1, [&](int done, int) {
            if (done == 3) {
                testdb::exec(d.path, QStringLiteral("UPDATE base SET fam = 'Коллега' WHERE pk_id = %1").arg(own));
                const core::CardRecord loaded = store.load(own).value();
                core::CardRecord edited = loaded;
                edited.values[QStringLiteral("fam")] = QStringLiteral("Своя правка");
                try {
                    store.update(own, edited, 1, nullptr, loaded, std::nullopt);
                } catch (const db::DbError &e) {
                    saveError = e.text();
                }
                seenAtSave = d.count(QStringLiteral("SELECT pk_id FROM base"));
            }
            if (lose && done == 6) {
                testdb::exec(
                    d.path, QStringLiteral("DELETE FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID = %1").arg(connection));
                if (atCommit)
                    QTest::qSleep(int(db::Batch::kLongestMs) + 100);
            }
            return true;
        });
        QVERIFY2(saveError.isEmpty(), qPrintable(saveError));
        QCOMPARE(seenAtSave, 1 + 3);
        QCOMPARE(d.value(QStringLiteral("SELECT fam FROM base WHERE pk_id = %1").arg(own)),
                 QStringLiteral("Своя правка"));
        const int stored_ = lose ? 3 : 10;
        QCOMPARE(report.stored, stored_);
        QCOMPARE(report.notReached, 10 - stored_);
        QCOMPARE(report.stopped.isEmpty(), !lose);
        QCOMPARE(ids(d).size(), 1 + stored_);
        QCOMPARE(photoFiles(d), stored_);
    }

    // The database file replaced under a running import (a copy put back
    // by an administrator): the import stops at the first card it cannot
    // store, rather than refusing every card left one by one.
    void databaseReplacedDuringImport()
    {
        Db d;
        core::CardImport in = d.importer();
        QVERIFY(in.readBytes(photoCards(10)));
        bool replaced = false;
        const core::ImportReport report = in.store(false, 1, [&](int done, int) {
            if (done == 4) {
                const QString copy = d.path + QStringLiteral(".copy");
                replaced = QFile::copy(d.path, copy) &&
                           ::rename(QFile::encodeName(copy).constData(), QFile::encodeName(d.path).constData()) == 0;
            }
            return true;
        });
        QVERIFY(replaced);
        QVERIFY2(report.stopped.contains(QStringLiteral("заменён")), qPrintable(report.text()));
        QVERIFY2(report.refused.isEmpty(), qPrintable(report.text()));
        QVERIFY(report.stored < 10 && report.notReached == 10 - report.stored);
        // Nothing is told as stored that the file now in place lacks.
        testdb::Peek now(d.path);
        QCOMPARE(now.count(QStringLiteral("SELECT pk_id FROM base")), report.stored);
    }

    // zentrax-cards: a user with full rights exports and imports, photos
    // into the program folder's stamp folders; the exit status tells whether
    // every card was stored, or some skipped as asked.
    void commandLine()
    {
        Db d;
        // A copy of the tool in a program folder of its own, which it finds by its path.
        const QDir program(d.dir.filePath(QStringLiteral("program")));
        QVERIFY(QDir().mkpath(program.path()));
        QVERIFY(QFile::copy(QStringLiteral(ZENTRAX_PROGRAM_DIR "/zentrax-cards"),
                            program.filePath(QStringLiteral("zentrax-cards"))));
        QVERIFY(
            QFile::link(QStringLiteral(ZENTRAX_PROGRAM_DIR "/firebird"), program.filePath(QStringLiteral("firebird"))));
        testdb::addUser(d.path, QStringLiteral("Админ"), QStringLiteral("admin"), QStringLiteral("pw"),
                        QStringLiteral("full"));
        testdb::addUser(d.path, QStringLiteral("Чтец"), QStringLiteral("reader"), QStringLiteral("pw"),
                        QStringLiteral("read"));
        const auto run = [&](const QString &password, const QStringList &args, QString *out = nullptr,
                             QString *err = nullptr) {
            QProcess p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("ZENTRAX_PASSWORD"), password);
            p.setProcessEnvironment(env);
            p.start(program.filePath(QStringLiteral("zentrax-cards")),
                    args + QStringList{QStringLiteral("--database"), d.path});
            p.waitForFinished(120000);
            if (out)
                *out = QString::fromUtf8(p.readAllStandardOutput());
            if (err)
                *err = QString::fromUtf8(p.readAllStandardError());
            return p.exitCode();
        };
        const QString file = kData + QStringLiteral("v30_address_book.vcf");
        const QStringList asAdmin = {QStringLiteral("--user"), QStringLiteral("admin")};
        QString out;
        QCOMPARE(run(QStringLiteral("pw"), QStringList{QStringLiteral("import")} + asAdmin + QStringList{file}, &out),
                 0);
        QVERIFY2(out.contains(QStringLiteral("Сохранено: 2.")), qPrintable(out));
        const QString fpath = d.value(QStringLiteral("SELECT fpath FROM base WHERE fpath <> ''"));
        QCOMPARE(fpath.section(QLatin1Char('\\'), -1), QStringLiteral("photo.png"));
        QVERIFY(QFile::exists(core::photoFile(program.filePath(QStringLiteral("files")), fpath)));
        QCOMPARE(run(QStringLiteral("pw"), QStringList{QStringLiteral("import")} + asAdmin + QStringList{file}, &out),
                 3);
        QVERIFY2(out.contains(QStringLiteral("Пропущено как уже сохранённые: 2.")), qPrintable(out));
        QCOMPARE(run(QStringLiteral("pw"), {QStringLiteral("import"), QStringLiteral("--add-duplicates"),
                                            QStringLiteral("--user"), QStringLiteral("admin"), file}),
                 0);
        QCOMPARE(run(QStringLiteral("wrong"), QStringList{QStringLiteral("import")} + asAdmin + QStringList{file}), 1);
        QCOMPARE(run(QStringLiteral("pw"),
                     {QStringLiteral("import"), QStringLiteral("--user"), QStringLiteral("reader"), file}),
                 1);
        QCOMPARE(d.count(QStringLiteral("SELECT pk_id FROM base")), 4);
        const QString csv = d.dir.filePath(QStringLiteral("out.csv"));
        QCOMPARE(run(QStringLiteral("pw"),
                     QStringList{QStringLiteral("export"), QStringLiteral("--format"), QStringLiteral("csv"),
                                 QStringLiteral("--search"), QStringLiteral("кузн")} +
                         asAdmin + QStringList{csv},
                     &out),
                 0);
        QVERIFY2(out.startsWith(QStringLiteral("Выгружено карточек: 2.")), qPrintable(out));
        // Without a search, every card: also one the list cannot show (made
        // by another tool with its searched columns left NULL).
        testdb::exec(d.path, QStringLiteral("INSERT INTO base (fam) VALUES ('Неполный')"));
        QCOMPARE(run(QStringLiteral("pw"), QStringList{QStringLiteral("export")} + asAdmin + QStringList{csv}, &out),
                 0);
        QVERIFY2(out.startsWith(QStringLiteral("Выгружено карточек: 5.")), qPrintable(out));
        testdb::exec(d.path, QStringLiteral("DELETE FROM base WHERE fam = 'Неполный'"));
        // A mistake in the call is named in Russian, and nothing is written.
        QFile::remove(csv);
        QString err;
        QCOMPARE(run(QStringLiteral("pw"),
                     {QStringLiteral("export"), QStringLiteral("--format"), QStringLiteral("pdf"),
                      QStringLiteral("--user"), QStringLiteral("admin"), csv},
                     nullptr, &err),
                 2);
        QVERIFY2(err.contains(QStringLiteral("неизвестный формат «pdf»")), qPrintable(err));
        QVERIFY(!QFile::exists(csv));

        // The file imported twice: two groups of duplicates, a reason line
        // and then "number<tab>name" lines, a blank line between groups.
        QCOMPARE(run(QStringLiteral("pw"), QStringList{QStringLiteral("duplicates")} + asAdmin, &out), 0);
        const QStringList groups = out.trimmed().split(QStringLiteral("\n\n"));
        QCOMPARE(groups.size(), 2);
        QList<qint64> first;
        for (const QString &line : groups[0].split(QLatin1Char('\n')).mid(1))
            first << line.section(QLatin1Char('\t'), 0, 0).toLongLong();
        QVERIFY2(!groups[0].section(QLatin1Char('\n'), 0, 0).contains(QLatin1Char('\t')), qPrintable(out));
        QCOMPARE(first.size(), 2);
        QVERIFY(groups[0].section(QLatin1Char('\n'), 1, 1).section(QLatin1Char('\t'), 1).size() > 1);
        // Merged into the first: the other is gone; unknown numbers refuse and change nothing.
        QCOMPARE(run(QStringLiteral("pw"),
                     QStringList{QStringLiteral("merge")} + asAdmin +
                         QStringList{QString::number(first[0]), QString::number(first[1])},
                     &out),
                 0);
        QCOMPARE(d.count(QStringLiteral("SELECT pk_id FROM base")), 3);
        QCOMPARE(d.count(QStringLiteral("SELECT pk_id FROM base WHERE pk_id = %1").arg(first[0])), 1);
        QCOMPARE(run(QStringLiteral("pw"),
                     QStringList{QStringLiteral("merge")} + asAdmin + QStringList{u"1"_s, u"999"_s}, nullptr, &err),
                 1);
        QVERIFY2(err.contains(QStringLiteral("карточки № 999 нет")), qPrintable(err));
        QCOMPARE(run(QStringLiteral("pw"), QStringList{QStringLiteral("merge")} + asAdmin + QStringList{u"1"_s}), 2);
        QCOMPARE(run(QStringLiteral("pw"),
                     QStringList{QStringLiteral("duplicates"), QStringLiteral("--user"), QStringLiteral("reader")}),
                 1);
        QCOMPARE(d.count(QStringLiteral("SELECT pk_id FROM base")), 3);
    }

    // A merge loses nothing: every value of every card is in the result or
    // in "Прочее"; accounts beyond four slots too. Stored in one unit, and
    // refused whole when a colleague changed a card of the group meanwhile;
    // a merged-away card's photo goes unless the result names it.
    void mergeLosesNothing()
    {
        Db d;
        const qint64 a = testdb::addCard(d.path, {{u"fam"_s, u"Орлов"_s},
                                                  {u"name1"_s, u"Олег"_s},
                                                  {u"wtel"_s, u"111"_s},
                                                  {u"other"_s, u"старое"_s},
                                                  {u"smok"_s, u"0"_s}});
        const qint64 b = testdb::addCard(d.path, {{u"fam"_s, u"Орлов"_s},
                                                  {u"name1"_s, u"Олег"_s},
                                                  {u"name2"_s, u"Ильич"_s},
                                                  {u"wtel"_s, u"222"_s},
                                                  {u"hmail"_s, u"o@x"_s},
                                                  {u"rem"_s, u"заметка"_s},
                                                  {u"smok"_s, u"1"_s},
                                                  {u"fpath"_s, u"s\\b.png"_s}});
        const qint64 c = testdb::addCard(d.path, {{u"fam"_s, u"Орлов"_s}, {u"fpath"_s, u"s\\c.png"_s}});
        testdb::exec(d.path,
                     QStringLiteral("INSERT INTO accounts (bs_fk, sn1, adr1, sn2, adr2, sn3, adr3, sn4, adr4) VALUES "
                                    "(%1, 'VK', 'vk/1', 'QQ', 'qq/1', 'X', 'x/1', 'Y', 'y/1');\n"
                                    "INSERT INTO accounts (bs_fk, sn1, adr1, sn2, adr2) VALUES "
                                    "(%2, 'VK', 'vk/1', 'FB', 'fb/2')")
                         .arg(b)
                         .arg(c));
        QDir().mkpath(d.photos + u"/s"_s);
        for (const char *f : {"/s/b.png", "/s/c.png"}) {
            QFile file(d.photos + QLatin1String(f));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("x") == 1);
        }
        core::CardEditor editor(d.s.access, d.photos);
        QList<QPair<qint64, core::CardBaseline>> loaded;
        for (qint64 id : {a, b, c})
            loaded.append({id, editor.load(id).value()});
        const core::CardBaseline merged = core::mergeInto(loaded[0].second, {loaded[1].second, loaded[2].second});
        const auto v = [&](const char *c) { return merged.card.value(QLatin1String(c)); };
        QCOMPARE(v("wtel"), u"111"_s);
        QCOMPARE(v("name2"), u"Ильич"_s);
        QCOMPARE(v("hmail"), u"o@x"_s);
        QCOMPARE(v("smok"), u"1"_s);
        QCOMPARE(v("other"), u"старое\r\nТелефон (рабочий): 222\r\nАккаунт: FB fb/2"_s);
        QCOMPARE(v("rem"), u"заметка"_s);
        QCOMPARE(merged.card.fpath, u"s\\b.png"_s);
        QCOMPARE(merged.accounts->address[0] + merged.accounts->address[1] + merged.accounts->address[2] +
                     merged.accounts->address[3],
                 u"vk/1qq/1x/1y/1"_s);

        // A colleague's change to one card of the group: nothing is stored.
        testdb::exec(d.path, QStringLiteral("UPDATE base SET wmail = 'new@x' WHERE pk_id = %1").arg(c));
        const core::SaveResult refused = editor.mergeGroup(a, merged, loaded, 1);
        QCOMPARE(int(refused.outcome), int(core::SaveResult::Outcome::Clash));
        QCOMPARE(refused.id, c);
        QCOMPARE(d.count(QStringLiteral("SELECT pk_id FROM base")), 3);
        QCOMPARE(d.value(QStringLiteral("SELECT wtel FROM base WHERE pk_id = %1").arg(a)), u"111"_s);
        loaded[2].second = editor.load(c).value();
        const core::CardBaseline again = core::mergeInto(loaded[0].second, {loaded[1].second, loaded[2].second});
        QCOMPARE(int(editor.mergeGroup(a, again, loaded, 1).outcome), int(core::SaveResult::Outcome::Stored));
        QCOMPARE(d.count(QStringLiteral("SELECT pk_id FROM base")), 1);
        QCOMPARE(d.count(QStringLiteral("SELECT pk_id FROM accounts")), 1);
        QCOMPARE(d.value(QStringLiteral("SELECT wmail || '/' || fpath FROM base")), u"new@x/s\\b.png"_s);
        QVERIFY(QFile::exists(d.photos + u"/s/b.png"_s));  // the merged card's photo
        QVERIFY(!QFile::exists(d.photos + u"/s/c.png"_s)); // named by no card any more
    }
};

QTEST_MAIN(TestCards)
#include "tst_cards.moc"
