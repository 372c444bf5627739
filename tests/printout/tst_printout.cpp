// The card printout: the produced workbook read back (libzip, pugixml) and,
// where LibreOffice is installed, converted by it.

#include "app/context.h"
#include "app/filedialog.h"
#include "app/messages.h"
#include "app/shell.h"
#include "app/session.h"
#include "card/cardwindow.h"
#include "printout/workbook.h"
#include "register/mainwindow.h"
#include "uitest.h"

#include <QComboBox>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QToolButton>
#include <QtTest>
#include <pugixml.hpp>
#include <zip.h>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using uitest::find;
using Cols = QList<QPair<QString, QString>>;

namespace {

const QLatin1String kSheet("xl/worksheets/sheet1.xml");
const QString kTemplateType =
    QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.template.main+xml");
constexpr qint64 kEmu = 12700; // per point
const QStringList kMapped = {u"D1"_s,  u"D2"_s,  u"D3"_s,  u"D4"_s,  u"D5"_s,  u"G5"_s,  u"D6"_s,  u"G6"_s,  u"D7"_s,
                             u"G7"_s,  u"D8"_s,  u"G8"_s,  u"D9"_s,  u"H9"_s,  u"D10"_s, u"H10"_s, u"A13"_s, u"A18"_s,
                             u"C18"_s, u"A19"_s, u"C19"_s, u"A20"_s, u"C20"_s, u"A21"_s, u"C21"_s, u"A24"_s};

QByteArray bytesOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// _xHHHH_ in a cell's text stands for that character.
QString decode(QString t)
{
    static const QRegularExpression escaped(QStringLiteral("_x([0-9A-Fa-f]{4})_"));
    for (QRegularExpressionMatch m = escaped.match(t); m.hasMatch(); m = escaped.match(t, m.capturedStart() + 1))
        t.replace(m.capturedStart(), 7, QChar(char16_t(m.captured(1).toUInt(nullptr, 16))));
    return t;
}

// A workbook file, unpacked; XPath ignores prefixes through local-name().
struct Book
{
    explicit Book(const QString &path)
    {
        zip_t *z = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, nullptr);
        for (zip_int64_t i = 0; z && i < zip_get_num_entries(z, 0); ++i) {
            zip_stat_t st;
            zip_stat_index(z, zip_uint64_t(i), 0, &st);
            QByteArray data(qsizetype(st.size), Qt::Uninitialized);
            zip_file_t *f = zip_fopen_index(z, zip_uint64_t(i), 0);
            zip_fread(f, data.data(), st.size);
            zip_fclose(f);
            files.insert(QString::fromUtf8(st.name), data);
        }
        if (z)
            zip_close(z);
    }
    std::shared_ptr<pugi::xml_document> xml(const QString &file) const
    {
        auto doc = std::make_shared<pugi::xml_document>();
        const QByteArray d = files.value(file);
        doc->load_buffer(d.constData(), size_t(d.size()), pugi::parse_default | pugi::parse_ws_pcdata);
        return doc;
    }
    QString query(const QString &file, const QString &xpath) const
    {
        return QString::fromStdString(pugi::xpath_query(xpath.toUtf8().constData()).evaluate_string(*xml(file)));
    }
    QString contentType(const QString &file) const
    {
        const QString o = query(u"[Content_Types].xml"_s, u"/*/*[@PartName='/"_s + file + u"']/@ContentType"_s);
        return o.isEmpty() ? query(u"[Content_Types].xml"_s, u"/*/*[translate(@Extension,'PNGJEG','pngjeg')='"_s +
                                                                 file.section(QLatin1Char('.'), -1).toLower() +
                                                                 u"']/@ContentType"_s)
                           : o;
    }
    // A relationship's target of `file`, by type and maybe id, as a package path.
    QString related(const QString &file, const QString &type, const QString &id = u"*"_s) const
    {
        const QString folder = file.section(QLatin1Char('/'), 0, -2);
        const QString target = query(folder + u"/_rels/"_s + file.section(QLatin1Char('/'), -1) + u".rels"_s,
                                     u"/*/*[contains(@Type,'/"_s + type + u"') and ('"_s + id + u"'='*' or @Id='"_s +
                                         id + u"')]/@Target"_s);
        return target.isEmpty() ? QString() : QDir::cleanPath(folder + QLatin1Char('/') + target);
    }

    struct Cell
    {
        QString text, style;
        bool hasValue = false;
    };
    QMap<QString, Cell> cells() const
    {
        const auto sst = xml(u"xl/sharedStrings.xml"_s);
        QMap<QString, Cell> out;
        const auto sheet = xml(kSheet);
        for (pugi::xpath_node x : sheet->select_nodes("//*[local-name()='c']")) {
            const pugi::xml_node c = x.node();
            Cell cell{{}, QString::fromUtf8(c.attribute("s").value())};
            const std::string t = c.attribute("t").value();
            const std::string texts = t == "inlineStr" ? "./*/*[local-name()='t']"
                                      : t == "s"
                                          ? "(//*[local-name()='si'])[" +
                                                std::to_string(c.child_value("v") ? atoi(c.child_value("v")) + 1 : 0) +
                                                "]//*[local-name()='t']"
                                          : "./*[local-name()='v']";
            for (pugi::xpath_node n : (t == "s" ? sst->select_nodes(texts.c_str()) : c.select_nodes(texts.c_str()))) {
                cell.hasValue = true;
                cell.text += decode(QString::fromUtf8(n.node().text().get()));
            }
            out.insert(QString::fromUtf8(c.attribute("r").value()), cell);
        }
        return out;
    }
    // Sheet elements printed, to compare with the template's.
    QString element(const char *name) const
    {
        std::ostringstream os;
        xml(kSheet)
            ->select_node(("/*/*[local-name()='" + std::string(name) + "']").c_str())
            .node()
            .print(os, "", pugi::format_raw);
        return QString::fromStdString(os.str());
    }

    struct Picture
    {
        qint64 cx, cy;
        QString from; // col,colOff,row,rowOff
        QString media;
        int id;
    };
    QList<Picture> pictures() const
    {
        QList<Picture> out;
        const QString drawing = related(kSheet, u"drawing"_s);
        const auto doc = xml(drawing);
        for (pugi::xpath_node a : doc->select_nodes("/*/*")) {
            auto q = [&a](const char *x) { return pugi::xpath_query(x).evaluate_string(a.node()); };
            // The anchor's size, else the shape's (a two-cell anchor has none of its own).
            const std::string cx = q("./*[local-name()='ext']/@cx"), cy = q("./*[local-name()='ext']/@cy");
            out << Picture{
                std::stoll(cx.empty() ? q(".//*[local-name()='xfrm']/*[local-name()='ext']/@cx") : cx),
                std::stoll(cy.empty() ? q(".//*[local-name()='xfrm']/*[local-name()='ext']/@cy") : cy),
                QString::fromStdString(q("concat(*[local-name()='from']/*[1],',',*[local-name()='from']/*[2],',',"
                                         "*[local-name()='from']/*[3],',',*[local-name()='from']/*[4])")),
                related(drawing, u"image"_s,
                        QString::fromStdString(q(".//*[local-name()='blip']/@*[local-name()='embed']"))),
                std::stoi(q(".//*[local-name()='cNvPr']/@id"))};
        }
        return out;
    }
    QString gridLines() const { return query(kSheet, u"//*[local-name()='sheetView']/@showGridLines"_s); }

    QMap<QString, QByteArray> files;
};

// Records the export's steps and passes them on.
class Recorder : public printout::Workbook
{
public:
    Recorder(std::unique_ptr<printout::Workbook> real, QStringList &log) : m_real(std::move(real)), m_log(log) {}
    void openTemplate(const QString &p) override
    {
        step(u"openTemplate "_s + QDir::fromNativeSeparators(p).section(QLatin1Char('/'), -2)), m_real->openTemplate(p);
    }
    void copyToNewWorkbook() override { step(u"copyToNewWorkbook"_s), m_real->copyToNewWorkbook(); }
    void hideGridLines() override { step(u"hideGridLines"_s), m_real->hideGridLines(); }
    void addPicture(const QString &f, double w, double h) override
    {
        step(QStringLiteral("addPicture %1 %2 %3").arg(QFileInfo(f).fileName()).arg(w).arg(h)),
            m_real->addPicture(f, w, h);
    }
    void setCell(const QString &c, const QString &t) override
    {
        step(u"setCell "_s + c + QLatin1Char('=') + t), m_real->setCell(c, t);
    }
    void show(const QString &folder) override { step(u"show"_s), m_real->show(folder); }

private:
    void step(const QString &s) { m_log << s; }
    std::unique_ptr<printout::Workbook> m_real;
    QStringList &m_log;
};

// A program folder with the built template, a user logged in and a
// temporary folder of its own.
struct Fixture
{
    explicit Fixture(const QString &level = QStringLiteral("full"))
    {
        oldTemp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(temp));
        QDir().mkpath(temp);
        QFile::copy(QStringLiteral(ZENTRAX_PROGRAM_DIR "/Forms/form.xlsx"), form);
        p.addUser(QStringLiteral("Иванов"), QStringLiteral("ivanov"), QStringLiteral("x"), level);
        p.loginDirect(QStringLiteral("ivanov"), level);
        msg::takeShown();
    }
    ~Fixture()
    {
        printout::setWorkbookFactory({});
        qputenv("TMPDIR", oldTemp);
    }

    // A card the list shows (the searched columns at least empty).
    qint64 card(Cols cols)
    {
        for (const char *c : {"fam", "work", "post", "wmail", "wtel", "fpath"})
            if (std::none_of(cols.cbegin(), cols.cend(), [c](const auto &v) { return v.first == QLatin1String(c); }))
                cols << QPair<QString, QString>(QLatin1String(c), u""_s);
        return p.addCard(cols);
    }
    void accounts(qint64 id, const QStringList &networks, const QStringList &addresses)
    {
        p.exec(
            QStringLiteral("INSERT INTO accounts (bs_fk, sn1, sn2, sn3, sn4, adr1, adr2, adr3, adr4) VALUES (%1, '%2')")
                .arg(id)
                .arg((networks + addresses).join(u"', '"_s)));
    }
    // A picture stored as a card's photo; returns its fpath.
    QString photo(const QString &name, QSize size, const char *format = "PNG")
    {
        QImage img(size, QImage::Format_RGB32);
        img.fill(QColor(40, 90, 160));
        QDir().mkpath(p.session->PhotoFolder + u"/st"_s);
        img.save(p.session->PhotoFolder + u"/st/"_s + name, format);
        return u"st\\"_s + name;
    }
    QString file(const QString &fpath) const
    {
        return p.session->PhotoFolder + QLatin1Char('/') + QString(fpath).replace(QLatin1Char('\\'), QLatin1Char('/'));
    }

    // Exports through the main window's button, the card's row selected.
    void exportFromList(qint64 id)
    {
        p.mf->db.IBTrans.commit();
        p.mf->FillList();
        p.mf->selectRow(int(uitest::listColumn(p.mf, 0).indexOf(QString::number(id))));
        QCOMPARE(p.mf->selectedId(), QString::number(id));
        find<QToolButton>(p.mf, QStringLiteral("tb_exp"))->click();
    }
    QString opened()
    {
        const QList<QUrl> urls = shell::takeOpened();
        return urls.size() == 1 ? urls.first().toLocalFile() : QString();
    }
    QStringList messages()
    {
        QStringList out;
        for (const msg::Shown &m : msg::takeShown())
            out << m.caption + u": "_s + m.text;
        return out;
    }
    Book exported(qint64 id)
    {
        exportFromList(id);
        const QStringList shown = messages();
        if (!shown.isEmpty())
            qWarning() << shown;
        return Book(lastFile = opened());
    }
    // What the export left in the scratch folders under the program's temp/
    // (the folders themselves and their lock files aside).
    QStringList tempEntries() const
    {
        QStringList out;
        const QString root = p.folder + u"/temp"_s;
        for (QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                             QDirIterator::Subdirectories);
             it.hasNext();) {
            const QFileInfo entry(it.next());
            if (entry.path() != root && entry.fileName() != u".lock"_s)
                out << entry.filePath();
        }
        return out;
    }

    uitest::Program p;
    QString temp = p.root.filePath(u"tmp"_s);
    QString form = p.folder + u"/Forms/form.xlsx"_s;
    QString lastFile;
    QByteArray oldTemp;
};

Cols fullCard()
{
    return {{u"fam"_s, u"Кузнецова"_s},
            {u"name1"_s, u"Анна"_s},
            {u"name2"_s, u"Сергеевна"_s},
            {u"work"_s, u"ООО «Север & Юг»"_s},
            {u"dep"_s, u"Отдел <продаж>"_s},
            {u"post"_s, u"Главный бухгалтер"_s},
            {u"bdate"_s, u"14.03.1981"_s},
            {u"wtel"_s, u"+7 495 1"_s},
            {u"htel"_s, u"+7 495 2"_s},
            {u"wmob"_s, u"+7 916 3"_s},
            {u"hmob"_s, u"+7 926 4"_s},
            {u"wmail"_s, u"a@sever.ru"_s},
            {u"hmail"_s, u"anna@mail.ru"_s},
            {u"wskype"_s, u"ws"_s},
            {u"hskype"_s, u"hs"_s},
            {u"ps"_s, u"45 06"_s},
            {u"pnum"_s, u"123456"_s},
            {u"pdate1"_s, u"01.04.2006"_s},
            {u"pdate2"_s, u"14.03.2026"_s},
            {u"vs"_s, u"72"_s},
            {u"vnum"_s, u"7654321"_s},
            {u"vdate1"_s, u"10.06.2023"_s},
            {u"vdate2"_s, u"  .  .    "_s},
            {u"smok"_s, u"0"_s},
            {u"alc"_s, u"1"_s},
            {u"art"_s, u"1"_s},
            {u"other"_s, u"шахматы, театр"_s},
            {u"rem"_s, u"Звонить после 10:00.\r\nКод _x0041_ и знак \x01 как есть."_s}};
}
const QMap<QString, QString> kFullCells = {
    {u"D1"_s, u"Кузнецова Анна Сергеевна"_s},
    {u"D2"_s, u"ООО «Север & Юг», Отдел <продаж>"_s},
    {u"D3"_s, u"Главный бухгалтер"_s},
    {u"D4"_s, u"14.03.1981"_s},
    {u"D5"_s, u"+7 495 1"_s},
    {u"G5"_s, u"+7 495 2"_s},
    {u"D6"_s, u"+7 916 3"_s},
    {u"G6"_s, u"+7 926 4"_s},
    {u"D7"_s, u"a@sever.ru"_s},
    {u"G7"_s, u"anna@mail.ru"_s},
    {u"D8"_s, u"ws"_s},
    {u"G8"_s, u"hs"_s},
    {u"D9"_s, u"45 06-123456"_s},
    {u"H9"_s, u"с 01.04.2006 по 14.03.2026"_s},
    {u"D10"_s, u"72-7654321"_s},
    {u"H10"_s, u"с 10.06.2023 по   .  .    "_s},
    {u"A13"_s, u"алкоголь, искусство, шахматы, театр"_s},
    {u"A18"_s, u"VK"_s},
    {u"C18"_s, u"vk.com/k"_s},
    {u"C19"_s, u"адрес 2"_s},
    {u"A20"_s, u"QQ"_s},
    {u"C20"_s, u"адрес 3"_s},
    // Lines break as in a cell typed by hand; odd characters come back as they were.
    {u"A24"_s, u"Звонить после 10:00.\nКод _x0041_ и знак \x01 как есть."_s}};

} // namespace

class TestPrintout : public QObject
{
    Q_OBJECT

private slots:
    // Every cell of the map, the photo at 115 x 86.25 points, no grid lines,
    // a workbook template; all else exactly the template's.
    void fullCard()
    {
        Fixture f(QStringLiteral("read")); // printing needs no rights
        const QString fpath = f.photo(u"фото.png"_s, QSize(400, 300));
        const qint64 id = f.card(::fullCard() << QPair<QString, QString>(u"fpath"_s, fpath));
        f.accounts(id, {u"VK"_s, u"2 ..."_s, u"QQ"_s, u""_s},
                   {u"vk.com/k"_s, u"адрес 2"_s, u"адрес 3"_s, u"адрес 4"_s});
        const Book book = f.exported(id);
        const QMap<QString, Book::Cell> cells = book.cells();
        for (const QString &c : kMapped) {
            QCOMPARE(cells.value(c).hasValue, kFullCells.contains(c));
            QCOMPARE(cells.value(c).text, kFullCells.value(c));
        }
        QCOMPARE(book.contentType(u"xl/workbook.xml"_s), kTemplateType);
        QCOMPARE(book.gridLines(), u"0"_s);
        const QList<Book::Picture> pics = book.pictures();
        QCOMPARE(pics.size(), 1);
        QCOMPARE(pics[0].cx, 115 * kEmu);
        QCOMPARE(pics[0].cy, qint64(86.25 * kEmu));
        QCOMPARE(pics[0].from, u"0,12700,0,12700"_s);
        QCOMPARE(book.files.value(pics[0].media), bytesOf(f.file(fpath)));
        QCOMPARE(book.contentType(pics[0].media), u"image/png"_s);
        QCOMPARE(book.contentType(book.related(kSheet, u"drawing"_s)),
                 u"application/vnd.openxmlformats-officedocument.drawing+xml"_s);

        const Book form(f.form);
        const QMap<QString, Book::Cell> original = form.cells();
        for (auto it = original.cbegin(); it != original.cend(); ++it) {
            QCOMPARE(cells.value(it.key()).style, it.value().style);
            if (!kMapped.contains(it.key()))
                QCOMPARE(cells.value(it.key()).text, it.value().text);
        }
        for (const char *e :
             {"mergeCells", "cols", "sheetFormatPr", "pageMargins", "pageSetup", "printOptions", "headerFooter"})
            QCOMPARE(book.element(e), form.element(e));
        for (auto it = form.files.cbegin(); it != form.files.cend(); ++it)
            if (!QStringList{u"[Content_Types].xml"_s, u"xl/workbook.xml"_s, kSheet}.contains(it.key()))
                QVERIFY2(book.files.value(it.key()) == it.value(), qPrintable(it.key()));
        QCOMPARE(form.gridLines(), QString());
        QCOMPARE(bytesOf(f.form), bytesOf(QStringLiteral(ZENTRAX_PROGRAM_DIR "/Forms/form.xlsx"))); // only read

        // In a folder of its own in the copy's scratch folder, unreadable to
        // others, and gone with the scratch folder's clean-up.
        QCOMPARE(f.tempEntries(), (QStringList{QFileInfo(f.lastFile).path(), f.lastFile}));
        QVERIFY(f.lastFile.endsWith(u".xltx"_s));
        QVERIFY(!(QFileInfo(QFileInfo(f.lastFile).path()).permissions() & (QFile::ReadOther | QFile::ReadGroup)));
        f.p.mf->ClearTemp();
        QVERIFY(!QFileInfo::exists(f.lastFile));
    }

    void habitsLine_data()
    {
        QTest::addColumn<Cols>("columns");
        QTest::addColumn<QString>("a13"); // null: left as the template has it
        Cols all{{u"other"_s, u""_s}};
        for (const char *c : {"paint", "sport", "cook", "trav", "mus", "art", "hunt", "fish", "alc", "smok"})
            all << QPair<QString, QString>(QLatin1String(c), u"1"_s);
        QTest::newRow("all ten flags") << all
                                       << "курение, алкоголь, рыбалка, охота, искусство, музыка, туризм, "
                                          "кулинария, спорт, живопись";
        QTest::newRow("two trailing blanks") << Cols{{u"other"_s, u"рыбалка на Оке  "_s}} << "рыбалка на Оке";
        QTest::newRow("trailing comma") << Cols{{u"other"_s, u"театр,"_s}} << "театр";
        QTest::newRow("comma and blank") << Cols{{u"other"_s, u"театр, "_s}} << "театр";
        QTest::newRow("two commas lose one") << Cols{{u"other"_s, u"театр,,"_s}} << "театр,";
        QTest::newRow("blanks only") << Cols{{u"other"_s, u"    "_s}} << QString();
        QTest::newRow("nothing") << Cols{{u"smok"_s, u"0"_s}} << QString();
    }

    void habitsLine()
    {
        QFETCH(Cols, columns);
        QFETCH(QString, a13);
        Fixture f;
        const Book::Cell cell = f.exported(f.card(columns)).cells().value(u"A13"_s);
        QCOMPARE(cell.hasValue, !a13.isNull());
        QCOMPARE(cell.text, a13.isNull() ? QString() : a13);
        QCOMPARE(cell.style, Book(f.form).cells().value(u"A13"_s).style);
    }

    void accountRows_data()
    {
        QTest::addColumn<QStringList>("networks");
        QTest::addColumn<QStringList>("rows"); // A|C of rows 18..21, "-" for a cell not written
        QTest::newRow("1 and 3 go to rows 18 and 19")
            << QStringList{u"VK"_s, u""_s, u"QQ"_s, u""_s}
            << QStringList{u"VK|адрес 1"_s, u"QQ|адрес 3"_s, u"-|-"_s, u"-|-"_s};
        QTest::newRow("placeholder writes only the address")
            << QStringList{u""_s, u"2 ..."_s, u""_s, u""_s}
            << QStringList{u"-|адрес 2"_s, u"-|-"_s, u"-|-"_s, u"-|-"_s};
        QTest::newRow("another account's placeholder is a name")
            << QStringList{u"2 ..."_s, u""_s, u""_s, u"4 ..."_s}
            << QStringList{u"2 ...|адрес 1"_s, u"-|адрес 4"_s, u"-|-"_s, u"-|-"_s};
        QTest::newRow("no accounts row") << QStringList{} << QStringList{u"-|-"_s, u"-|-"_s, u"-|-"_s, u"-|-"_s};
    }

    void accountRows()
    {
        QFETCH(QStringList, networks);
        QFETCH(QStringList, rows);
        Fixture f;
        const qint64 id = f.card({});
        if (!networks.isEmpty())
            f.accounts(id, networks, {u"адрес 1"_s, u"адрес 2"_s, u"адрес 3"_s, u"адрес 4"_s});
        const QMap<QString, Book::Cell> cells = f.exported(id).cells();
        QStringList got;
        for (int r = 18; r <= 21; ++r) {
            auto at = [&](QChar col) {
                const Book::Cell c = cells.value(col + QString::number(r));
                return c.hasValue ? c.text : QStringLiteral("-");
            };
            got << at(QLatin1Char('A')) + QLatin1Char('|') + at(QLatin1Char('C'));
        }
        QCOMPARE(got, rows);
    }

    // The picture's height keeps its proportions; JPEG and PNG go in as
    // stored, other kinds as PNG; a JPEG's orientation mark is applied.
    void picture_data()
    {
        QTest::addColumn<QSize>("pixels");
        QTest::addColumn<QByteArray>("format"); // empty: no photo, the default picture
        QTest::addColumn<bool>("turned");       // marked "turn 90 degrees"
        QTest::addColumn<qint64>("cy");
        QTest::addColumn<QString>("type");
        QTest::newRow("landscape 400 x 300")
            << QSize(400, 300) << QByteArray("PNG") << false << qint64(1095375) << "image/png";
        QTest::newRow("portrait 300 x 400")
            << QSize(300, 400) << QByteArray("JPEG") << false << qint64(1947333) << "image/jpeg";
        QTest::newRow("default picture") << QSize() << QByteArray() << false << qint64(0) << "image/png";
        QTest::newRow("bitmap as PNG") << QSize(200, 100) << QByteArray("BMP") << false << qint64(57.5 * kEmu)
                                       << "image/png";
        QTest::newRow("turned JPEG") << QSize(200, 100) << QByteArray("JPEG") << true << qint64(230 * kEmu)
                                     << "image/jpeg";
    }

    void picture()
    {
        QFETCH(QSize, pixels);
        QFETCH(QByteArray, format);
        QFETCH(bool, turned);
        QFETCH(qint64, cy);
        QFETCH(QString, type);
        Fixture f;
        const QString fpath = format.isEmpty()
                                  ? QString()
                                  : f.photo(QString::fromUtf8("p." + format.toLower()), pixels, format.constData());
        const QString file = format.isEmpty() ? f.p.folder + u"/Forms/foto.png"_s : f.file(fpath);
        if (format.isEmpty()) {
            const QSize size = QImageReader(file).size();
            cy = qRound64(115.0 * size.height() / size.width() * kEmu);
        }
        if (turned) { // an EXIF block with orientation 6 right after the JPEG's start
            QByteArray jpeg = bytesOf(file);
            jpeg.insert(
                2, QByteArray::fromHex("FFE1002245786966000049492A0008000000010012010300010000000600000000000000"));
            QFile out(file);
            QVERIFY(out.open(QIODevice::WriteOnly) && out.write(jpeg) == jpeg.size());
        }
        const Book book = f.exported(f.card({{u"fpath"_s, fpath}}));
        const QList<Book::Picture> pics = book.pictures();
        QCOMPARE(pics.size(), 1);
        QCOMPARE(pics[0].cx, 115 * kEmu);
        QVERIFY2(qAbs(pics[0].cy - cy) <= 1, qPrintable(QString::number(pics[0].cy)));
        QCOMPARE(book.contentType(pics[0].media), type);
        const QByteArray embedded = book.files.value(pics[0].media);
        if (format == "BMP" || turned)
            QCOMPARE(QImage::fromData(embedded).size(), turned ? pixels.transposed() : pixels);
        else
            QCOMPARE(embedded, bytesOf(file));
    }

    // The steps in order: D1 to H10 always, A13 only with a habits line,
    // A24, then the workbook is shown.
    void steps()
    {
        Fixture f;
        QStringList log;
        printout::setWorkbookFactory([&log](const printout::Opener &open) {
            return std::make_unique<Recorder>(printout::xlsxWorkbook(open), log);
        });
        f.exportFromList(f.card({{u"fam"_s, u"Орлов"_s}, {u"name1"_s, u"Олег"_s}, {u"rem"_s, u"р"_s}}));
        QCOMPARE(f.messages(), QStringList());
        const QSize foto = QImageReader(f.p.folder + u"/Forms/foto.png"_s).size();
        QCOMPARE(log,
                 (QStringList{u"openTemplate Forms/form.xlsx"_s,
                              u"copyToNewWorkbook"_s,
                              u"hideGridLines"_s,
                              u"addPicture foto.png 115 "_s + QString::number(115.0 * foto.height() / foto.width()),
                              u"setCell D1=Орлов Олег "_s,
                              u"setCell D2=, "_s,
                              u"setCell D3="_s,
                              u"setCell D4="_s,
                              u"setCell D5="_s,
                              u"setCell G5="_s,
                              u"setCell D6="_s,
                              u"setCell G6="_s,
                              u"setCell D7="_s,
                              u"setCell G7="_s,
                              u"setCell D8="_s,
                              u"setCell G8="_s,
                              u"setCell D9=-"_s,
                              u"setCell H9=с  по "_s,
                              u"setCell D10=-"_s,
                              u"setCell H10=с  по "_s,
                              u"setCell A24=р"_s,
                              u"show"_s}));
        QVERIFY(!f.opened().isEmpty());
    }

    // A text longer than a cell holds is cut there, and once the printout is
    // open the user is told how much of it was printed.
    void textTooLongForItsCell_data()
    {
        QTest::addColumn<Cols>("columns");
        QTest::addColumn<QString>("a24");
        QTest::addColumn<QString>("told"); // empty: nothing
        const QString fill(32767, QLatin1Char('x'));
        const QString more = u"\nВесь текст сохранён в карточке."_s;
        QTest::newRow("remark that just fits") << Cols{{u"rem"_s, fill}} << fill << QString();
        QTest::newRow("remark one too long")
            << Cols{{u"rem"_s, fill + QLatin1Char('y')}} << fill
            << u"Примечание не поместилось в печатную форму целиком: напечатано 32767 из 32768 знаков."_s + more;
        QTest::newRow("a line break counts once; the habits line too")
            << Cols{{u"rem"_s, u"а\r\n"_s.repeated(20000)}, {u"other"_s, QString(32771, QLatin1Char('y'))}}
            << u"а\n"_s.repeated(20000).left(32767)
            << u"Строка «Привычки и интересы» не поместилась в печатную форму целиком: напечатано 32767 из 32771 "
               "знака.\nПримечание не поместилось в печатную форму целиком: напечатано 32767 из 40000 знаков."_s +
                   more;
    }

    void textTooLongForItsCell()
    {
        QFETCH(Cols, columns);
        QFETCH(QString, a24);
        QFETCH(QString, told);
        Fixture f;
        QList<QUrl> openedBeforeTold;
        msg::setObserver([&openedBeforeTold](const msg::Shown &) { openedBeforeTold = shell::takeOpened(); });
        f.exportFromList(f.card(columns));
        msg::setObserver({});
        QCOMPARE(f.messages(), told.isEmpty() ? QStringList() : QStringList{u"Zentrax: "_s + told});
        const QString file = told.isEmpty() ? f.opened() : openedBeforeTold.value(0).toLocalFile();
        QVERIFY(!file.isEmpty());
        QCOMPARE(Book(file).cells().value(u"A24"_s).text, a24);
    }

    // No row: nothing happens. A record gone meanwhile: its message, no workbook.
    void mainWindowButton()
    {
        Fixture f;
        int made = 0;
        printout::setWorkbookFactory(
            [&made](const printout::Opener &open) { return ++made, printout::xlsxWorkbook(open); });
        f.p.mf->FillList();
        find<QToolButton>(f.p.mf, QStringLiteral("tb_exp"))->click();
        QCOMPARE(f.messages(), QStringList());

        const qint64 id = f.card({});
        f.p.mf->db.IBTrans.commit();
        f.p.mf->FillList();
        QCOMPARE(f.p.mf->selectedId(), QString::number(id));
        f.p.exec(QStringLiteral("DELETE FROM base WHERE pk_id = %1").arg(id));
        f.p.mf->db.IBTrans.commit(); // deleted by another copy of the program
        find<QToolButton>(f.p.mf, QStringLiteral("tb_exp"))->click();
        QCOMPARE(f.messages(), QStringList{u"Ошибка: Запись не обнаружена, рекомендуется тестирование базы данных"_s});
        QCOMPARE(made, 0);
        QCOMPARE(shell::takeOpened(), QList<QUrl>());
        QCOMPARE(f.tempEntries(), QStringList());
    }

    // Each failure is told in Russian; no file is left behind or opened.
    void failures_data()
    {
        QTest::addColumn<QString>("trouble");
        QTest::addColumn<QString>("message"); // file of the text
        QTest::newRow("no template") << "no template"
                                     << "Не найден шаблон печатной формы:\n";
        QTest::newRow("only the old template") << "old template"
                                               << "(.xlsx) под именем Forms/form.xlsx";
        // What to do, then the library's own words.
        QTest::newRow("template not a workbook")
            << "broken template"
            << QDir::toNativeSeparators(u"Forms/form.xlsx"_s) +
                   u"\nЗамените его исправной книгой Excel с тем же расположением ячеек или верните файл, "
                   "поставляемый с программой.\n\nПодробности: Not a zip archive"_s;
        QTest::newRow("template too large unpacked") << "zip bomb"
                                                     << "его части заняли бы больше 100 МБ";
        QTest::newRow("template of too many parts") << "many parts"
                                                    << "в нём больше 1000 частей";
        QTest::newRow("template without its sheet") << "no sheet"
                                                    << "нет части «xl/worksheets/sheet1.xml»";
        QTest::newRow("photo missing") << "photo missing"
                                       << "Не найден файл фотографии:\n";
        QTest::newRow("photo not a picture") << "photo broken"
                                             << "не является изображением или повреждён";
        QTest::newRow("default picture missing") << "no default"
                                                 << "Не найдено изображение по умолчанию";
        QTest::newRow("photo path leads outside") << "outside"
                                                  << "за пределы папки фотографий";
        QTest::newRow("photo folder a link to elsewhere") << "linked folder"
                                                          << "лежит вне папки фотографий";
        QTest::newRow("photo a pipe") << "pipe"
                                      << "не обычный файл";
        QTest::newRow("temporary folder not writable") << "temp"
                                                       << "Не удалось сохранить печатную форму во временную папку";
        QTest::newRow("no spreadsheet program") << "no program"
                                                << "не найдена программа";
    }

    void failures()
    {
        QFETCH(QString, trouble);
        QFETCH(QString, message);
        Fixture f;
        QString fpath;
        auto write = [](const QString &path, const QByteArray &data) {
            QFile file(path);
            return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
        };
        if (trouble == u"no template"_s)
            QFile::remove(f.form);
        if (trouble == u"old template"_s)
            QFile::rename(f.form, f.p.folder + u"/Forms/form.xls"_s);
        if (trouble == u"broken template"_s)
            write(f.form, "PK\x03\x04 not a zip");
        // Parts that the zip's headers claim to unpack to 199 MB each, as in a
        // hostile file; their data could not even be read that far.
        if (trouble == u"zip bomb"_s || trouble == u"many parts"_s) {
            QFile::remove(f.form);
            zip_t *z = zip_open(QFile::encodeName(f.form).constData(), ZIP_CREATE, nullptr);
            for (int i = 0; i < (trouble == u"zip bomb"_s ? 8 : 1001); ++i) {
                const zip_int64_t n =
                    zip_file_add(z, QByteArray::number(i).constData(), zip_source_buffer(z, "x", 1, 0), 0);
                zip_set_file_compression(z, zip_uint64_t(n), ZIP_CM_STORE, 0);
            }
            QCOMPARE(zip_close(z), 0);
            QByteArray zip = bytesOf(f.form);
            if (trouble == u"zip bomb"_s) {
                const quint32 claimed = qToLittleEndian(quint32(199) << 20);
                for (auto [header, at] : {std::pair("PK\1\2", 24), std::pair("PK\3\4", 22)})
                    for (qsizetype i = zip.indexOf(header); i >= 0; i = zip.indexOf(header, i + 1))
                        zip.replace(i + at, 4, reinterpret_cast<const char *>(&claimed), 4);
            }
            write(f.form, zip);
        }
        if (trouble == u"no sheet"_s) {
            zip_t *z = zip_open(QFile::encodeName(f.form).constData(), 0, nullptr);
            zip_delete(z, zip_uint64_t(zip_name_locate(z, kSheet.latin1(), 0)));
            zip_close(z);
        }
        if (trouble == u"photo missing"_s)
            fpath = u"st\\нет.jpg"_s;
        if (trouble == u"photo broken"_s)
            write(f.file(fpath = f.photo(u"p.jpg"_s, QSize(40, 30), "JPEG")), "\xFF\xD8\xFF\xE0 broken");
        if (trouble == u"no default"_s)
            QFile::remove(f.p.folder + u"/Forms/foto.png"_s);
        if (trouble == u"outside"_s)
            QFile::copy(f.p.folder + u"/Forms/foto.png"_s, f.p.folder + u"/secret.png"_s), fpath = u"..\\secret.png"_s;
        if (trouble == u"linked folder"_s) {
            QDir().mkpath(f.p.root.filePath(u"elsewhere"_s));
            QFile::copy(f.p.folder + u"/Forms/foto.png"_s, f.p.root.filePath(u"elsewhere/p.png"_s));
            QFile::link(f.p.root.filePath(u"elsewhere"_s), f.p.session->PhotoFolder + u"/st"_s);
            fpath = u"st\\p.png"_s;
        }
        if (trouble == u"pipe"_s) {
            QDir().mkpath(f.p.session->PhotoFolder + u"/st"_s);
            ::mkfifo(QFile::encodeName(f.file(fpath = u"st\\p.png"_s)).constData(), 0600);
        }
        if (trouble == u"temp"_s)
            write(f.p.folder + u"/temp"_s, "x"); // no scratch folder can be made
        if (trouble == u"no program"_s)
            printout::setWorkbookFactory(
                [](const printout::Opener &) { return printout::xlsxWorkbook([](const QString &) { return false; }); });
        f.exportFromList(f.card({{u"fpath"_s, fpath}}));
        const QList<msg::Shown> shown = msg::takeShown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].caption, u"Ошибка"_s);
        QVERIFY2(shown[0].text.contains(message), qPrintable(shown[0].text));
        QCOMPARE(shell::takeOpened(), QList<QUrl>());
        if (trouble == u"no program"_s) // kept, and the message says where
            QVERIFY(shown[0].text.contains(f.tempEntries().value(1)));
        else
            QCOMPARE(f.tempEntries(), QStringList());
    }

    // From a card being edited: the stored values; the card's unsaved
    // fields and its shown, not yet saved picture stay.
    void fromCardWithUnsavedChanges()
    {
        Fixture f;
        const qint64 id = f.card({{u"fam"_s, u"Сохранённый"_s}, {u"post"_s, u"Инженер"_s}});
        f.p.mf->db.IBTrans.commit();
        f.p.mf->FillList();
        f.p.mf->selectRow(int(uitest::listColumn(f.p.mf, 0).indexOf(QString::number(id))));
        TRF *rf = uitest::forms(f.p.mf).RF;
        rf->setOpening(CardMode::Edit, id);
        rf->FormActivate();
        rf->show();
        find<QLineEdit>(rf, u"ed_fam"_s)->setText(u"Новый"_s);
        find<QComboBox>(rf, u"ed_post"_s)->setEditText(u"Директор"_s);
        const QString chosen = f.p.root.filePath(u"chosen.png"_s);
        QImage(50, 100, QImage::Format_RGB32).save(chosen);
        filedlg::script({chosen});
        find<QToolButton>(rf, u"sb_load"_s)->click();
        const qint64 shownPhoto = find<QLabel>(rf, u"im_foto"_s)->pixmap().cacheKey();

        find<QToolButton>(rf, u"tb_exp"_s)->click();
        QCOMPARE(f.messages(), QStringList());
        const Book book(f.opened());
        QCOMPARE(book.cells().value(u"D1"_s).text, u"Сохранённый  "_s);
        QCOMPARE(book.cells().value(u"D3"_s).text, u"Инженер"_s);
        QCOMPARE(book.files.value(book.pictures().value(0).media), bytesOf(f.p.folder + u"/Forms/foto.png"_s));
        QCOMPARE(find<QLineEdit>(rf, u"ed_fam"_s)->text(), u"Новый"_s);
        QCOMPARE(find<QLabel>(rf, u"im_foto"_s)->pixmap().cacheKey(), shownPhoto);
        QCOMPARE(rf->PendingPhoto, chosen);
        msg::script({msg::Answer::No});
        rf->close();
    }

    // A template from another program: prefixed names, rows and cells
    // without addresses, a formula listed in the calculation chain where D1
    // goes, a logo already drawn, the second sheet active.
    void foreignTemplate()
    {
        Fixture f;
        const QByteArray ns = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
        const QByteArray r = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
        const QByteArray rels =
            "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
        auto rel = [&r](const char *id, const char *type, const char *target) {
            return "<Relationship Id=\"" + QByteArray(id) + "\" Type=\"" + r + "/" + type + "\" Target=\"" + target +
                   "\"/>";
        };
        auto type = [](const char *file, const char *kind) {
            return "<Override PartName=\"" + QByteArray(file) +
                   "\" ContentType=\"application/vnd.openxmlformats-officedocument." + kind + "+xml\"/>";
        };
        const QMap<QString, QByteArray> files = {
            {u"[Content_Types].xml"_s, "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                                       "<Default Extension=\"PNG\" ContentType=\"image/png\"/>" +
                                           type("/xl/workbook.xml", "spreadsheetml.sheet.main") +
                                           type("/xl/calcChain.xml", "spreadsheetml.calcChain") +
                                           type("/xl/drawings/drawing1.xml", "drawing") + "</Types>"},
            {u"_rels/.rels"_s, rels + rel("rId1", "officeDocument", "xl/workbook.xml") + "</Relationships>"},
            {u"xl/workbook.xml"_s,
             "<x:workbook xmlns:x=\"" + ns + "\" xmlns:r=\"" + r +
                 "\"><x:bookViews><x:workbookView activeTab=\"1\"/>"
                 "</x:bookViews><x:sheets><x:sheet name=\"А\" sheetId=\"1\" r:id=\"rId1\"/><x:sheet name=\"Б\" "
                 "sheetId=\"2\" r:id=\"rId2\"/></x:sheets></x:workbook>"},
            {u"xl/_rels/workbook.xml.rels"_s, rels + rel("rId1", "worksheet", "worksheets/sheet1.xml") +
                                                  rel("rId2", "worksheet", "/xl/worksheets/sheet2.xml") +
                                                  rel("rId3", "calcChain", "calcChain.xml") + "</Relationships>"},
            {kSheet,
             "<x:worksheet xmlns:x=\"" + ns + "\" xmlns:r=\"" + r +
                 "\"><x:sheetData><x:row><x:c t=\"inlineStr\"><x:is>"
                 "<x:t>Лого</x:t></x:is></x:c><x:c/><x:c/><x:c><x:f>1+1</x:f><x:v>2</x:v></x:c></x:row><x:row r=\"30\">"
                 "<x:c r=\"B30\" t=\"inlineStr\"><x:is><x:t>Подпись</x:t></x:is></x:c></x:row></x:sheetData>"
                 "<x:drawing r:id=\"rId1\"/></x:worksheet>"},
            {u"xl/worksheets/_rels/sheet1.xml.rels"_s,
             rels + rel("rId1", "drawing", "../drawings/drawing1.xml") + "</Relationships>"},
            {u"xl/worksheets/sheet2.xml"_s, "<worksheet xmlns=\"" + ns +
                                                "\"><sheetViews><sheetView tabSelected=\"1\" "
                                                "workbookViewId=\"0\"/></sheetViews><sheetData/></worksheet>"},
            {u"xl/calcChain.xml"_s, "<calcChain xmlns=\"" + ns + "\"><c r=\"D1\" i=\"1\"/></calcChain>"},
            {u"xl/drawings/drawing1.xml"_s,
             "<xdr:wsDr xmlns:xdr=\"http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing\" "
             "xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\"><xdr:absoluteAnchor>"
             "<xdr:pos x=\"0\" y=\"0\"/><xdr:ext cx=\"100\" cy=\"100\"/><xdr:pic><xdr:nvPicPr>"
             "<xdr:cNvPr id=\"7\" name=\"Лого\"/></xdr:nvPicPr><xdr:blipFill><a:blip xmlns:r=\"" +
                 r + "\" r:embed=\"rId1\"/></xdr:blipFill></xdr:pic><xdr:clientData/></xdr:absoluteAnchor></xdr:wsDr>"},
            {u"xl/drawings/_rels/drawing1.xml.rels"_s,
             rels + rel("rId1", "image", "../media/image1.PNG") + "</Relationships>"},
            {u"xl/media/image1.PNG"_s, bytesOf(f.p.folder + u"/Forms/foto.png"_s)},
        };
        QFile::remove(f.form);
        zip_t *z = zip_open(QFile::encodeName(f.form).constData(), ZIP_CREATE, nullptr);
        for (auto it = files.cbegin(); it != files.cend(); ++it)
            zip_file_add(z, it.key().toUtf8().constData(),
                         zip_source_buffer(z, it.value().constData(), zip_uint64_t(it.value().size()), 0), 0);
        QCOMPARE(zip_close(z), 0);

        const Book book = f.exported(f.card({{u"fam"_s, u"Орлов"_s}, {u"work"_s, u"Завод"_s}, {u"dep"_s, u"Цех"_s}}));
        const QMap<QString, Book::Cell> cells = book.cells();
        QCOMPARE(cells.value(u"A1"_s).text, u"Лого"_s);
        QCOMPARE(cells.value(u"B30"_s).text, u"Подпись"_s);
        QCOMPARE(cells.value(u"D1"_s).text, u"Орлов  "_s);
        QCOMPARE(cells.value(u"D2"_s).text, u"Завод, Цех"_s);
        QVERIFY(!book.files.value(kSheet).contains("<x:f>"));
        QStringList order; // rows and cells in sheet order
        const auto sheet = book.xml(kSheet);
        for (pugi::xpath_node c : sheet->select_nodes("//*[local-name()='c']"))
            order << QString::fromUtf8(c.node().attribute("r").value());
        QCOMPARE(order.mid(0, 5), (QStringList{u"A1"_s, u"B1"_s, u"C1"_s, u"D1"_s, u"D2"_s}));
        QCOMPARE(order.last(2), (QStringList{u"A24"_s, u"B30"_s}));
        // The calculation chain goes with the formula.
        QVERIFY(!book.files.contains(u"xl/calcChain.xml"_s));
        QVERIFY(!book.files.value(u"[Content_Types].xml"_s).contains("calcChain"));
        QVERIFY(!book.files.value(u"xl/_rels/workbook.xml.rels"_s).contains("calcChain"));
        // The logo stays; the photo joins it as a picture of its own.
        const QList<Book::Picture> pics = book.pictures();
        QCOMPARE(pics.size(), 2);
        QCOMPARE(pics[0].media, u"xl/media/image1.PNG"_s);
        QVERIFY(pics[1].media != pics[0].media && book.files.contains(pics[1].media));
        QCOMPARE(pics[1].cx, 115 * kEmu);
        QVERIFY(pics[1].id > 7);
        // Opens on the filled sheet, alone selected, without grid lines.
        QVERIFY(!book.files.value(u"xl/workbook.xml"_s).contains("activeTab"));
        QVERIFY(!book.files.value(u"xl/worksheets/sheet2.xml"_s).contains("tabSelected"));
        QCOMPARE(book.gridLines(), u"0"_s);
        QCOMPARE(book.contentType(u"xl/workbook.xml"_s), kTemplateType);
    }

    // LibreOffice reads the values and keeps the photo.
    void openedByLibreOffice()
    {
        const QString soffice = QStandardPaths::findExecutable(u"soffice"_s);
        if (soffice.isEmpty())
            QSKIP("LibreOffice (soffice) is not installed");
        Fixture f;
        const qint64 id =
            f.card(::fullCard() << QPair<QString, QString>(u"fpath"_s, f.photo(u"p.jpg"_s, QSize(300, 400), "JPEG")));
        f.accounts(id, {u"VK"_s, u"2 ..."_s, u"QQ"_s, u""_s}, {u"vk.com/k"_s, u"адрес 2"_s, u"адрес 3"_s, u""_s});
        const QString file = f.exported(id).files.isEmpty() ? QString() : f.lastFile;
        QVERIFY(!file.isEmpty());
        auto convert = [&](const QString &format) {
            QProcess::execute(soffice,
                              {u"-env:UserInstallation="_s + QUrl::fromLocalFile(f.p.root.filePath(u"lo"_s)).toString(),
                               u"--headless"_s, u"--norestore"_s, u"--convert-to"_s, format, u"--outdir"_s,
                               f.p.root.filePath(u"out"_s), file});
            return f.p.root.filePath(u"out/"_s + QFileInfo(file).completeBaseName() + QLatin1Char('.') +
                                     format.section(QLatin1Char(':'), 0, 0));
        };
        // CSV rows (comma, double quotes, line breaks inside quotes).
        const QString csv = QString::fromUtf8(bytesOf(convert(u"csv:Text - txt - csv (StarCalc):44,34,76"_s)));
        QList<QStringList> rows{{u""_s}};
        bool quoted = false;
        for (qsizetype i = 0; i < csv.size(); ++i) {
            const QChar c = csv.at(i);
            if (c == QLatin1Char('"') && quoted && csv.mid(i + 1, 1) == u"\""_s)
                rows.last().last() += csv.at(++i);
            else if (c == QLatin1Char('"'))
                quoted = !quoted;
            else if (c == QLatin1Char(',') && !quoted)
                rows.last() << QString();
            else if (c == QLatin1Char('\n') && !quoted)
                rows << QStringList{u""_s};
            else
                rows.last().last() += c;
        }
        for (const QString &cell : kMapped)
            QCOMPARE(rows.value(cell.mid(1).toInt() - 1).value(cell.at(0).unicode() - 'A'), kFullCells.value(cell));
        QCOMPARE(rows.value(0).value(2), u"Ф.И.О."_s);

        const Book again(convert(u"xlsx:Calc MS Excel 2007 XML"_s));
        const QList<Book::Picture> pics = again.pictures();
        QCOMPARE(pics.size(), 1);
        QVERIFY2(qAbs(pics[0].cx - 115 * kEmu) < 2 * kEmu && qAbs(pics[0].cy - 1947333) < 2 * kEmu,
                 qPrintable(QStringLiteral("%1 x %2").arg(pics[0].cx).arg(pics[0].cy)));
        QVERIFY(again.files.contains(pics[0].media));
    }
};

QTEST_MAIN(TestPrintout)
#include "tst_printout.moc"
