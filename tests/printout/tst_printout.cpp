// The card printout: the workbook it produces is read back (libzip, pugixml)
// and, where LibreOffice is installed, opened by it.

#include "app/application.h"
#include "app/context.h"
#include "app/filedialog.h"
#include "app/messages.h"
#include "app/shell.h"
#include "app/state.h"
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
#include <sstream>
#include <zip.h>

using uitest::find;
using uitest::Program;
using Cols = QList<QPair<QString, QString>>;

namespace {

const QString kNotFound = QStringLiteral("Запись не обнаружена, рекомендуется тестирование базы данных");
const QString kSheet = QStringLiteral("xl/worksheets/sheet1.xml");
constexpr qint64 kEmu = 12700; // per point

// The cells the export may write; every other cell is the template's.
const QStringList kMapped = {"D1", "D2", "D3", "D4", "D5", "G5", "D6", "G6", "D7", "G7", "D8", "G8", "D9", "H9",
                             "D10", "H10", "A13", "A18", "C18", "A19", "C19", "A20", "C20", "A21", "C21", "A24"};

std::string s(const QString &t)
{
    return t.toStdString();
}

// A cell's text as spreadsheet programs read it: _xHHHH_ stands for that character.
QString decode(const QString &text)
{
    static const QRegularExpression escaped(QStringLiteral("_x([0-9A-Fa-f]{4})_"));
    QString out;
    qsizetype at = 0;
    for (auto it = escaped.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        out += text.mid(at, m.capturedStart() - at);
        out += QChar(char16_t(m.captured(1).toUInt(nullptr, 16)));
        at = m.capturedEnd();
    }
    return out + text.mid(at);
}

// A workbook file, unpacked.
struct Book
{
    explicit Book(const QString &path)
    {
        int error = 0;
        zip_t *z = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &error);
        if (!z)
            return;
        for (zip_int64_t i = 0; i < zip_get_num_entries(z, 0); ++i) {
            zip_stat_t st;
            zip_stat_index(z, zip_uint64_t(i), 0, &st);
            QByteArray data(qsizetype(st.size), Qt::Uninitialized);
            zip_file_t *f = zip_fopen_index(z, zip_uint64_t(i), 0);
            zip_fread(f, data.data(), st.size);
            zip_fclose(f);
            parts.insert(QString::fromUtf8(st.name), data);
        }
        zip_close(z);
    }
    bool valid() const { return !parts.isEmpty(); }

    std::unique_ptr<pugi::xml_document> xml(const QString &part) const
    {
        auto doc = std::make_unique<pugi::xml_document>();
        const QByteArray data = parts.value(part);
        doc->load_buffer(data.constData(), size_t(data.size()), pugi::parse_default | pugi::parse_ws_pcdata);
        return doc;
    }

    struct Cell
    {
        QString text;
        QString style;
        bool hasValue = false;
    };
    // The cells of a sheet by address, shared strings resolved.
    QMap<QString, Cell> cells(const QString &sheet = kSheet) const
    {
        QStringList shared;
        const auto sst = xml(QStringLiteral("xl/sharedStrings.xml"));
        for (pugi::xpath_node si : sst->select_nodes("//*[local-name()='si']")) {
            QString t;
            for (pugi::xpath_node n : si.node().select_nodes(".//*[local-name()='t']"))
                t += QString::fromUtf8(n.node().text().get());
            shared << decode(t);
        }
        QMap<QString, Cell> out;
        const auto doc = xml(sheet);
        for (pugi::xpath_node x : doc->select_nodes("//*[local-name()='sheetData']/*/*[local-name()='c']")) {
            const pugi::xml_node c = x.node();
            Cell cell;
            cell.style = QString::fromUtf8(c.attribute("s").value());
            const std::string type = c.attribute("t").value();
            if (type == "inlineStr") {
                cell.hasValue = true;
                for (pugi::xpath_node n : c.select_nodes("./*[local-name()='is']/*[local-name()='t']"))
                    cell.text += decode(QString::fromUtf8(n.node().text().get()));
            } else if (type == "s") {
                cell.hasValue = true;
                cell.text = shared.value(c.first_element_by_path("v").text().as_int());
            } else if (pugi::xml_node v = c.first_element_by_path("v")) {
                cell.hasValue = true;
                cell.text = QString::fromUtf8(v.text().get());
            }
            out.insert(QString::fromUtf8(c.attribute("r").value()), cell);
        }
        return out;
    }
    QString text(const QString &cell) const { return cells().value(cell).text; }

    // An element of the sheet, printed, for comparing with the template's.
    QString element(const char *localName) const
    {
        const auto doc = xml(kSheet);
        const pugi::xpath_node n =
            doc->select_node(("/*/*[local-name()='" + std::string(localName) + "']").c_str());
        std::ostringstream os;
        n.node().print(os, "", pugi::format_raw);
        return QString::fromStdString(os.str());
    }

    // A relationship target of `part` by type, as a package path.
    QString related(const QString &part, const char *typeEnd, const QString &id = {}) const
    {
        const QString folder = part.left(part.lastIndexOf(QLatin1Char('/')));
        const QString rels = folder + QStringLiteral("/_rels/") + part.mid(folder.size() + 1) + QStringLiteral(".rels");
        const auto doc = xml(rels);
        for (pugi::xml_node r : doc->document_element().children()) {
            const QString type = QString::fromUtf8(r.attribute("Type").value());
            if (!type.endsWith(QLatin1String(typeEnd)) || (!id.isEmpty() && id != QString::fromUtf8(r.attribute("Id").value())))
                continue;
            return QDir::cleanPath(folder + QLatin1Char('/') + QString::fromUtf8(r.attribute("Target").value()));
        }
        return {};
    }

    QString contentType(const QString &part) const
    {
        const auto doc = xml(QStringLiteral("[Content_Types].xml"));
        for (pugi::xml_node o : doc->document_element().children("Override"))
            if (QString::fromUtf8(o.attribute("PartName").value()) == QLatin1Char('/') + part)
                return QString::fromUtf8(o.attribute("ContentType").value());
        const QString ext = part.mid(part.lastIndexOf(QLatin1Char('.')) + 1);
        for (pugi::xml_node d : doc->document_element().children("Default"))
            if (QString::fromUtf8(d.attribute("Extension").value()).compare(ext, Qt::CaseInsensitive) == 0)
                return QString::fromUtf8(d.attribute("ContentType").value());
        return {};
    }

    struct Picture
    {
        qint64 cx = 0, cy = 0, colOff = -1, rowOff = -1;
        int col = -1, row = -1;
        QString media;
        int shapeId = 0;
    };
    QList<Picture> pictures() const
    {
        QList<Picture> out;
        const QString drawing = related(kSheet, "/drawing");
        const auto doc = xml(drawing);
        for (pugi::xpath_node a : doc->select_nodes("/*/*[contains(local-name(), 'Anchor')]")) {
            const pugi::xml_node n = a.node();
            Picture p;
            // The anchor's own size, else the shape's (a two-cell anchor has none of its own).
            pugi::xml_node ext = n.select_node("./*[local-name()='ext']").node();
            if (!ext)
                ext = n.select_node(".//*[local-name()='xfrm']/*[local-name()='ext']").node();
            p.cx = ext.attribute("cx").as_llong();
            p.cy = ext.attribute("cy").as_llong();
            auto num = [&n](const char *name) {
                return n.select_node(("./*[local-name()='from']/*[local-name()='" + std::string(name) + "']").c_str())
                    .node().text().as_llong(-1);
            };
            p.col = int(num("col"));
            p.row = int(num("row"));
            p.colOff = num("colOff");
            p.rowOff = num("rowOff");
            p.shapeId = n.select_node(".//*[local-name()='cNvPr']").node().attribute("id").as_int();
            const pugi::xml_node blip = n.select_node(".//*[local-name()='blip']").node();
            p.media = related(drawing, "/image", QString::fromUtf8(blip.attribute("r:embed").value()));
            out << p;
        }
        return out;
    }

    QString gridLines() const
    {
        const auto doc = xml(kSheet);
        return QString::fromUtf8(doc->select_node("//*[local-name()='sheetView']").node().attribute("showGridLines").value());
    }

    QMap<QString, QByteArray> parts;
};

QByteArray bytesOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Records the steps of the export and passes them on to the real workbook.
class Recorder : public printout::Workbook
{
public:
    Recorder(std::unique_ptr<printout::Workbook> real, QStringList &log) : m_real(std::move(real)), m_log(log) {}
    void openTemplate(const QString &path) override
    {
        m_log << QStringLiteral("openTemplate ") + QDir::fromNativeSeparators(path).section(QLatin1Char('/'), -2);
        m_real->openTemplate(path);
    }
    void copyToNewWorkbook() override
    {
        m_log << QStringLiteral("copyToNewWorkbook");
        m_real->copyToNewWorkbook();
    }
    void hideGridLines() override
    {
        m_log << QStringLiteral("hideGridLines");
        m_real->hideGridLines();
    }
    void addPicture(const QString &file, double w, double h) override
    {
        m_log << QStringLiteral("addPicture %1 %2 %3").arg(QFileInfo(file).fileName()).arg(w).arg(h);
        m_real->addPicture(file, w, h);
    }
    void setCell(const QString &cell, const QString &text) override
    {
        m_log << QStringLiteral("setCell %1=%2").arg(cell, text);
        m_real->setCell(cell, text);
    }
    void show() override
    {
        m_log << QStringLiteral("show");
        m_real->show();
    }

private:
    std::unique_ptr<printout::Workbook> m_real;
    QStringList &m_log;
};

// A program folder with the built template, its database open, a user logged
// in, and a temporary folder of its own for the produced files.
struct Fixture
{
    explicit Fixture(const QString &level = QStringLiteral("full"))
    {
        oldTemp = qgetenv("TMPDIR");
        temp = p.root.filePath(QStringLiteral("tmp"));
        QDir().mkpath(temp);
        qputenv("TMPDIR", QFile::encodeName(temp));
        QFile::copy(QStringLiteral(ZENTRAX_PROGRAM_DIR "/Forms/form.xlsx"), templateFile());
        p.addUser(QStringLiteral("Иванов"), QStringLiteral("ivanov"), QStringLiteral("x"), level);
        p.createWindows();
        p.loginDirect(QStringLiteral("ivanov"), level);
        mf = p.mf;
        rf = mf->context().forms.RF;
        msg::takeShown();
        shell::takeOpened();
    }
    ~Fixture()
    {
        printout::setWorkbookFactory({});
        qputenv("TMPDIR", oldTemp);
    }
    QString templateFile() const { return p.folder + QStringLiteral("/Forms/form.xlsx"); }

    // Adds a card; the columns the list searches are at least empty, so it is listed.
    qint64 card(const Cols &cols)
    {
        Cols all = cols;
        const Cols defaults{{"sysinfo", "1_01012026_101010"}, {"fpath", ""}, {"fam", ""}, {"work", ""},
                            {"post", ""}, {"wmail", ""}, {"wtel", ""}};
        for (const auto &d : defaults)
            if (std::none_of(cols.cbegin(), cols.cend(), [&d](const auto &v) { return v.first == d.first; }))
                all << d;
        return p.addCard(all);
    }
    void accounts(qint64 id, const QStringList &networks, const QStringList &addresses)
    {
        QStringList values;
        for (const QString &v : networks + addresses)
            values << QLatin1Char('\'') + v + QLatin1Char('\'');
        p.exec(QStringLiteral("INSERT INTO accounts (bs_fk, sn1, sn2, sn3, sn4, adr1, adr2, adr3, adr4) VALUES (%1, %2)")
                   .arg(id)
                   .arg(values.join(QStringLiteral(", "))));
    }
    // A picture stored in the photo folder as the card's photo would be; returns its fpath.
    QString photo(const QString &name, QSize size, const char *format = "PNG")
    {
        QImage img(size, QImage::Format_RGB32);
        img.fill(QColor(40, 90, 160));
        const QString stamp = QStringLiteral("1_01012026_101010");
        QDir().mkpath(PhotoFolder + QLatin1Char('/') + stamp);
        img.save(PhotoFolder + QLatin1Char('/') + stamp + QLatin1Char('/') + name, format);
        return stamp + QLatin1Char('\\') + name;
    }
    QString photoFile(const QString &fpath) const
    {
        return PhotoFolder + QLatin1Char('/') + QString(fpath).replace(QLatin1Char('\\'), QLatin1Char('/'));
    }

    // Exports the card through the main window's button, its row selected.
    void exportFromList(qint64 id)
    {
        mf->db.IBTrans.commit();
        mf->FillList();
        mf->selectRow(int(uitest::listColumn(mf, 0).indexOf(QString::number(id))));
        QCOMPARE(mf->selectedId(), QString::number(id));
        find<QToolButton>(mf, QStringLiteral("tb_exp"))->click();
    }
    // The file the export opened; the test fails unless exactly one was opened.
    QString opened()
    {
        const QList<QUrl> urls = shell::takeOpened();
        return urls.size() == 1 ? urls.first().toLocalFile() : QString();
    }
    QStringList messages()
    {
        QStringList out;
        for (const msg::Shown &m : msg::takeShown())
            out << m.caption + QStringLiteral(": ") + m.text;
        return out;
    }
    // Exports and reads the produced workbook back; no message may be shown.
    Book exported(qint64 id)
    {
        exportFromList(id);
        const QStringList shown = messages();
        if (!shown.isEmpty())
            qWarning() << shown;
        lastFile = opened();
        return Book(lastFile);
    }
    QStringList tempFiles() const
    {
        QStringList out;
        QDirIterator it(temp, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            out << it.next().mid(temp.size() + 1);
        return out;
    }

    Program p;
    QString lastFile; // what exported() opened
    QByteArray oldTemp;
    QString temp;
    TMF *mf = nullptr;
    TRF *rf = nullptr;
};

Cols fullCardColumns()
{
    return Cols{{"fam", "Кузнецова"}, {"name1", "Анна"}, {"name2", "Сергеевна"}, {"work", "ООО «Север & Юг»"},
                {"dep", "Отдел <продаж>"}, {"post", "Главный бухгалтер"}, {"bdate", "14.03.1981"},
                {"wtel", "+7 495 123-45-67"}, {"htel", "+7 495 765-43-21"}, {"wmob", "+7 916 000-11-22"},
                {"hmob", "+7 926 333-44-55"}, {"wmail", "a.kuznetsova@sever-yug.ru"}, {"hmail", "anna81@mail.ru"},
                {"wskype", "kuznetsova.work"}, {"hskype", "anna.k"}, {"ps", "45 06"}, {"pnum", "123456"},
                {"pdate1", "01.04.2006"}, {"pdate2", "14.03.2026"}, {"vs", "72"}, {"vnum", "7654321"},
                {"vdate1", "10.06.2023"}, {"vdate2", "09.06.2028"}, {"smok", "0"}, {"alc", "1"}, {"fish", "0"},
                {"hunt", "0"}, {"art", "1"}, {"mus", "1"}, {"trav", "1"}, {"cook", "0"}, {"sport", "0"},
                {"paint", "0"}, {"other", "шахматы, театр"},
                {"rem", "Звонить после 10:00.\r\nПодарок ко дню рождения — книги.\r\nКод _x0041_ и знак \x01 как есть."}};
}

// A program that converts `file` with LibreOffice into `format` in `outDir`;
// the converted file's path, or empty when it failed.
QString convertWithLibreOffice(const QString &soffice, const QString &file, const QString &format,
                               const QString &outDir, const QString &profile)
{
    QProcess proc;
    proc.setProcessChannelMode(QProcess::MergedChannels);
    proc.start(soffice, {QStringLiteral("-env:UserInstallation=") + QUrl::fromLocalFile(profile).toString(),
                         QStringLiteral("--headless"), QStringLiteral("--norestore"), QStringLiteral("--convert-to"),
                         format, QStringLiteral("--outdir"), outDir, file});
    proc.waitForFinished(-1);
    const QString out = outDir + QLatin1Char('/') + QFileInfo(file).completeBaseName() + QLatin1Char('.') +
                        format.section(QLatin1Char(':'), 0, 0);
    if (!QFileInfo::exists(out))
        qWarning() << proc.readAll();
    return QFileInfo::exists(out) ? out : QString();
}

// Rows of a CSV text (comma, double quotes, line breaks inside quotes).
QList<QStringList> parseCsv(const QString &text)
{
    QList<QStringList> rows{{}};
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"'))
                field += text.at(++i);
            else if (c == QLatin1Char('"'))
                quoted = false;
            else
                field += c;
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            rows.last() << std::exchange(field, QString());
        } else if (c == QLatin1Char('\n')) {
            rows.last() << std::exchange(field, QString());
            rows << QStringList();
        } else if (c != QLatin1Char('\r')) {
            field += c;
        }
    }
    rows.last() << field;
    return rows;
}

} // namespace

class TestPrintout : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { printout::setWorkbookFactory({}); }

    // A full card: every cell of the map, the photo, no grid lines, a
    // template workbook; everything else exactly as the template has it.
    void fullCard()
    {
        Fixture f(QStringLiteral("read")); // printing needs no rights
        const QString fpath = f.photo(QStringLiteral("фото.png"), QSize(400, 300));
        const qint64 id = f.card(fullCardColumns() + Cols{{"fpath", fpath}});
        f.accounts(id, {"VK", "Telegram", "2 ...", "4 ..."}, {"vk.com/kuznetsova", "t.me/anna", "x.com/a", "ig/anna"});
        const Book book = f.exported(id);
        QVERIFY(book.valid());

        const QMap<QString, Book::Cell> cells = book.cells();
        const QMap<QString, QString> expected = {
            {"D1", "Кузнецова Анна Сергеевна"}, {"D2", "ООО «Север & Юг», Отдел <продаж>"},
            {"D3", "Главный бухгалтер"}, {"D4", "14.03.1981"}, {"D5", "+7 495 123-45-67"},
            {"G5", "+7 495 765-43-21"}, {"D6", "+7 916 000-11-22"}, {"G6", "+7 926 333-44-55"},
            {"D7", "a.kuznetsova@sever-yug.ru"}, {"G7", "anna81@mail.ru"}, {"D8", "kuznetsova.work"},
            {"G8", "anna.k"}, {"D9", "45 06-123456"}, {"H9", "с 01.04.2006 по 14.03.2026"}, {"D10", "72-7654321"},
            {"H10", "с 10.06.2023 по 09.06.2028"},
            {"A13", "алкоголь, искусство, музыка, туризм, шахматы, театр"},
            {"A18", "VK"}, {"C18", "vk.com/kuznetsova"}, {"A19", "Telegram"}, {"C19", "t.me/anna"},
            {"A20", "2 ..."}, {"C20", "x.com/a"}, {"C21", "ig/anna"},
            // Lines break as in a cell typed by hand (LF); odd characters come back as they were.
            {"A24", "Звонить после 10:00.\nПодарок ко дню рождения — книги.\nКод _x0041_ и знак \x01 как есть."}};
        for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
            QVERIFY2(cells.value(it.key()).hasValue, qPrintable(it.key()));
            QCOMPARE(cells.value(it.key()).text, it.value());
        }
        QVERIFY(!cells.value(QStringLiteral("A21")).hasValue); // account 4's own placeholder "4 ..."

        // A new workbook when opened: a template, nothing to save over.
        QCOMPARE(book.contentType(QStringLiteral("xl/workbook.xml")),
                 QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.template.main+xml"));
        QCOMPARE(book.gridLines(), QStringLiteral("0"));

        // The photo, as stored, at the top-left corner, 115 x 86.25 points.
        const QList<Book::Picture> pictures = book.pictures();
        QCOMPARE(pictures.size(), 1);
        QCOMPARE(pictures[0].cx, 115 * kEmu);
        QCOMPARE(pictures[0].cy, qint64(86.25 * kEmu));
        QCOMPARE(pictures[0].col, 0);
        QCOMPARE(pictures[0].row, 0);
        QVERIFY(pictures[0].colOff >= 0 && pictures[0].colOff <= 2 * kEmu);
        QVERIFY(pictures[0].rowOff >= 0 && pictures[0].rowOff <= 2 * kEmu);
        QCOMPARE(book.parts.value(pictures[0].media), bytesOf(f.photoFile(fpath)));
        QCOMPARE(book.contentType(pictures[0].media), QStringLiteral("image/png"));
        QCOMPARE(book.contentType(book.related(kSheet, "/drawing")),
                 QStringLiteral("application/vnd.openxmlformats-officedocument.drawing+xml"));

        // The template: its other cells, their formats, the mapped cells'
        // formats, its merges, columns, page set-up and every other part unchanged.
        const Book form(f.templateFile());
        const QMap<QString, Book::Cell> original = form.cells();
        for (auto it = original.cbegin(); it != original.cend(); ++it) {
            QVERIFY2(cells.contains(it.key()), qPrintable(it.key()));
            QCOMPARE(cells.value(it.key()).style, it.value().style);
            if (!kMapped.contains(it.key()))
                QCOMPARE(cells.value(it.key()).text, it.value().text);
        }
        for (const char *e : {"mergeCells", "cols", "pageMargins", "pageSetup", "printOptions", "headerFooter", "sheetFormatPr"})
            QCOMPARE(book.element(e), form.element(e));
        const QStringList mayChange = {"[Content_Types].xml", "xl/workbook.xml", "xl/worksheets/sheet1.xml",
                                       "xl/worksheets/_rels/sheet1.xml.rels"};
        for (auto it = form.parts.cbegin(); it != form.parts.cend(); ++it)
            if (!mayChange.contains(it.key()))
                QVERIFY2(book.parts.value(it.key()) == it.value(), qPrintable(it.key()));
        QCOMPARE(form.gridLines(), QString()); // the template itself shows them
        QCOMPARE(bytesOf(f.templateFile()), bytesOf(QStringLiteral(ZENTRAX_PROGRAM_DIR "/Forms/form.xlsx")));

        // Saved in a folder of its own in the temporary folder, for nobody but the user.
        QCOMPARE(f.tempFiles().size(), 2);
        QVERIFY(f.lastFile.startsWith(f.temp + QLatin1Char('/')));
        QVERIFY(f.lastFile.endsWith(QLatin1String(".xltx")));
        QVERIFY(!(QFileInfo(QFileInfo(f.lastFile).path()).permissions() & (QFile::ReadOther | QFile::ReadGroup)));
    }

    void habitsLine_data()
    {
        QTest::addColumn<Cols>("columns");
        QTest::addColumn<QString>("a13"); // no text: left as the template has it
        QTest::newRow("all ten flags, empty other")
            << Cols{{"smok", "1"}, {"alc", "1"}, {"fish", "1"}, {"hunt", "1"}, {"art", "1"}, {"mus", "1"},
                    {"trav", "1"}, {"cook", "1"}, {"sport", "1"}, {"paint", "1"}, {"other", ""}}
            << "курение, алкоголь, рыбалка, охота, искусство, музыка, туризм, кулинария, спорт, живопись";
        QTest::newRow("two trailing blanks") << Cols{{"other", "рыбалка на Оке  "}} << "рыбалка на Оке";
        QTest::newRow("trailing comma") << Cols{{"other", "театр,"}} << "театр";
        QTest::newRow("comma and blank") << Cols{{"other", "театр, "}} << "театр";
        QTest::newRow("two commas") << Cols{{"other", "театр,,"}} << "театр,";
        QTest::newRow("blanks only") << Cols{{"other", "    "}} << QString();
        QTest::newRow("nothing") << Cols{{"other", ""}} << QString();
    }

    void habitsLine()
    {
        QFETCH(Cols, columns);
        QFETCH(QString, a13);
        Fixture f;
        const Book book = f.exported(f.card(Cols{{"fam", "Орлов"}} + columns));
        const Book::Cell cell = book.cells().value(QStringLiteral("A13"));
        QCOMPARE(cell.hasValue, !a13.isNull());
        QCOMPARE(cell.text, a13.isNull() ? QString() : a13);
        QCOMPARE(cell.style, Book(f.templateFile()).cells().value(QStringLiteral("A13")).style);
    }

    void accountRows_data()
    {
        QTest::addColumn<QStringList>("networks");
        QTest::addColumn<QStringList>("rows"); // A18:C21 as "A|C", "-" for a cell not written
        const QStringList none{"-|-", "-|-", "-|-", "-|-"};
        QTest::newRow("1 and 3 go to rows 18 and 19")
            << QStringList{"VK", "", "QQ", ""} << QStringList{"VK|адрес 1", "QQ|адрес 3", "-|-", "-|-"};
        QTest::newRow("placeholder writes only the address")
            << QStringList{"", "2 ...", "", ""} << QStringList{"-|адрес 2", "-|-", "-|-", "-|-"};
        QTest::newRow("no accounts row") << QStringList{} << none;
    }

    void accountRows()
    {
        QFETCH(QStringList, networks);
        QFETCH(QStringList, rows);
        Fixture f;
        const qint64 id = f.card({{"fam", "Орлов"}});
        if (!networks.isEmpty())
            f.accounts(id, networks, {"адрес 1", "адрес 2", "адрес 3", "адрес 4"});
        const QMap<QString, Book::Cell> cells = f.exported(id).cells();
        QStringList got;
        for (int r = 18; r <= 21; ++r) {
            auto at = [&](const char *col) {
                const Book::Cell c = cells.value(QStringLiteral("%1%2").arg(QLatin1String(col)).arg(r));
                return c.hasValue ? c.text : QStringLiteral("-");
            };
            got << at("A") + QLatin1Char('|') + at("C");
        }
        QCOMPARE(got, rows);
    }

    void pictureSize_data()
    {
        QTest::addColumn<QSize>("pixels");
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<qint64>("cy");
        QTest::addColumn<QString>("type");
        QTest::newRow("landscape 400 x 300") << QSize(400, 300) << QByteArray("PNG") << qint64(1095375) << "image/png";
        QTest::newRow("portrait 300 x 400") << QSize(300, 400) << QByteArray("JPEG") << qint64(1947333) << "image/jpeg";
        QTest::newRow("no photo: the default picture") << QSize() << QByteArray() << qint64(0) << "image/png";
    }

    void pictureSize()
    {
        QFETCH(QSize, pixels);
        QFETCH(QByteArray, format);
        QFETCH(qint64, cy);
        QFETCH(QString, type);
        Fixture f;
        QString fpath, file;
        if (pixels.isValid()) {
            fpath = f.photo(QStringLiteral("p.") + QString::fromLatin1(format).toLower(), pixels, format.constData());
            file = f.photoFile(fpath);
        } else {
            file = f.p.folder + QStringLiteral("/Forms/foto.png");
            const QSize size = QImageReader(file).size();
            cy = qRound64(115.0 * size.height() / size.width() * kEmu);
        }
        const Book book = f.exported(f.card({{"fam", "Орлов"}, {"fpath", fpath}}));
        const QList<Book::Picture> pictures = book.pictures();
        QCOMPARE(pictures.size(), 1);
        QCOMPARE(pictures[0].cx, qint64(1460500));
        QVERIFY2(qAbs(pictures[0].cy - cy) <= 1, qPrintable(QString::number(pictures[0].cy)));
        QCOMPARE(book.parts.value(pictures[0].media), bytesOf(file));
        QCOMPARE(book.contentType(pictures[0].media), type);
    }

    // A picture of another kind is embedded as PNG; one that a JPEG's
    // orientation mark turns is embedded turned, and measured turned.
    void pictureConverted()
    {
        Fixture f;
        const QString bmp = f.photo(QStringLiteral("p.bmp"), QSize(200, 100), "BMP");
        Book book = f.exported(f.card({{"fam", "Орлов"}, {"fpath", bmp}}));
        QCOMPARE(book.pictures().size(), 1);
        Book::Picture pic = book.pictures()[0];
        QCOMPARE(book.contentType(pic.media), QStringLiteral("image/png"));
        QCOMPARE(QImage::fromData(book.parts.value(pic.media)).size(), QSize(200, 100));
        QCOMPARE(pic.cy, qint64(57.5 * kEmu));

        // A 200 x 100 JPEG marked "turn 90 degrees" (EXIF orientation 6) shows upright as 100 x 200.
        const QString jpegPath = f.photo(QStringLiteral("turned.jpg"), QSize(200, 100), "JPEG");
        QByteArray jpeg = bytesOf(f.photoFile(jpegPath));
        const QByteArray exif = QByteArray::fromHex("FFE1002245786966000049492A00080000000100120103000100000006000000"
                                                    "00000000");
        jpeg.insert(2, exif);
        QFile out(f.photoFile(jpegPath));
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(jpeg) == jpeg.size());
        out.close();
        QImageReader check(f.photoFile(jpegPath));
        QCOMPARE(check.transformation(), QImageIOHandler::TransformationRotate90);
        book = f.exported(f.card({{"fam", "Орлов"}, {"fpath", jpegPath}}));
        pic = book.pictures().value(0);
        QCOMPARE(book.contentType(pic.media), QStringLiteral("image/jpeg"));
        QCOMPARE(QImage::fromData(book.parts.value(pic.media)).size(), QSize(100, 200));
        QCOMPARE(pic.cy, qint64(230 * kEmu));
    }

    // The steps in their order: D1 to H10 always, A13 only with a habits
    // line, A24 last, then the workbook is shown.
    void stepsInOrder()
    {
        Fixture f;
        QStringList log;
        printout::setWorkbookFactory([&log](const printout::Opener &open) {
            return std::make_unique<Recorder>(printout::xlsxWorkbook(open), log);
        });
        const qint64 id = f.card({{"fam", "Орлов"}, {"name1", "Олег"}, {"rem", "р"}});
        f.exportFromList(id);
        QCOMPARE(f.messages(), QStringList());
        const QSize foto = QImageReader(f.p.folder + QStringLiteral("/Forms/foto.png")).size();
        QCOMPARE(log, (QStringList{"openTemplate Forms/form.xlsx", "copyToNewWorkbook", "hideGridLines",
                                   "addPicture foto.png 115 " + QString::number(115.0 * foto.height() / foto.width()),
                                   "setCell D1=Орлов Олег ", "setCell D2=, ", "setCell D3=", "setCell D4=",
                                   "setCell D5=", "setCell G5=", "setCell D6=", "setCell G6=", "setCell D7=",
                                   "setCell G7=", "setCell D8=", "setCell G8=", "setCell D9=-", "setCell H9=с  по ",
                                   "setCell D10=-", "setCell H10=с  по ", "setCell A24=р", "show"}));
        QVERIFY(!f.opened().isEmpty());
    }

    // Nothing happens for an empty list; a missing record gets its message.
    void mainWindowButton()
    {
        Fixture f;
        QStringList log;
        printout::setWorkbookFactory([&log](const printout::Opener &open) {
            log << QStringLiteral("made");
            return printout::xlsxWorkbook(open);
        });
        f.mf->FillList();
        QCOMPARE(f.mf->selectedId(), QString());
        find<QToolButton>(f.mf, QStringLiteral("tb_exp"))->click();
        QCOMPARE(f.messages(), QStringList());
        QCOMPARE(shell::takeOpened(), QList<QUrl>());

        const qint64 id = f.card({{"fam", "Орлов"}});
        f.mf->db.IBTrans.commit();
        f.mf->FillList();
        QCOMPARE(f.mf->selectedId(), QString::number(id));
        f.p.exec(QStringLiteral("DELETE FROM base WHERE pk_id = %1").arg(id));
        f.mf->db.IBTrans.commit(); // deleted by another copy of the program meanwhile
        find<QToolButton>(f.mf, QStringLiteral("tb_exp"))->click();
        QCOMPARE(f.messages(), QStringList{QStringLiteral("Ошибка: ") + kNotFound});
        QCOMPARE(shell::takeOpened(), QList<QUrl>());
        QCOMPARE(log, QStringList()); // no workbook was started
        QCOMPARE(f.tempFiles(), QStringList());
    }

    // Each failure is told in Russian; no file is left and nothing is opened.
    void failures_data()
    {
        QTest::addColumn<QString>("trouble");
        QTest::addColumn<QString>("message"); // a part of the message's text
        QTest::newRow("no template") << "no template" << "Не найден шаблон печатной формы:\n";
        QTest::newRow("only the old template")
            << "old template" << "сохраните как книгу Excel (.xlsx) под именем Forms/form.xlsx";
        QTest::newRow("template not a workbook") << "broken template" << "повреждён или не является книгой Excel";
        QTest::newRow("template without its sheet") << "template without sheet" << "повреждён";
        QTest::newRow("photo missing") << "photo missing" << "Не найден файл фотографии:\n";
        QTest::newRow("photo not a picture") << "photo broken" << "не является изображением или повреждён";
        QTest::newRow("default picture missing") << "no default picture" << "Не найдено изображение по умолчанию";
        QTest::newRow("photo path leads outside") << "photo outside" << "за пределы папки фотографий";
        QTest::newRow("temporary folder not writable") << "temp not writable"
                                                       << "Не удалось сохранить печатную форму во временную папку";
    }

    void failures()
    {
        QFETCH(QString, trouble);
        QFETCH(QString, message);
        Fixture f;
        QString fpath;
        auto write = [](const QString &path, const QByteArray &data) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(data) == data.size());
        };
        if (trouble == QLatin1String("no template")) {
            QFile::remove(f.templateFile());
        } else if (trouble == QLatin1String("old template")) {
            QFile::rename(f.templateFile(), f.p.folder + QStringLiteral("/Forms/form.xls"));
        } else if (trouble == QLatin1String("broken template")) {
            write(f.templateFile(), "PK\x03\x04 not really a zip");
        } else if (trouble == QLatin1String("template without sheet")) {
            // The workbook names a sheet the package does not hold.
            zip_t *z = zip_open(QFile::encodeName(f.templateFile()).constData(), 0, nullptr);
            zip_delete(z, zip_name_locate(z, "xl/worksheets/sheet1.xml", 0));
            zip_close(z);
        } else if (trouble == QLatin1String("photo missing")) {
            fpath = QStringLiteral("1_01012026_101010\\нет.jpg");
        } else if (trouble == QLatin1String("photo broken")) {
            fpath = f.photo(QStringLiteral("p.jpg"), QSize(40, 30), "JPEG");
            write(f.photoFile(fpath), "\xFF\xD8\xFF\xE0 broken");
        } else if (trouble == QLatin1String("no default picture")) {
            QFile::remove(f.p.folder + QStringLiteral("/Forms/foto.png"));
        } else if (trouble == QLatin1String("photo outside")) {
            write(f.p.folder + QStringLiteral("/secret.png"), bytesOf(f.p.folder + QStringLiteral("/Forms/foto.png")));
            fpath = QStringLiteral("..\\secret.png");
        } else if (trouble == QLatin1String("temp not writable")) {
            const QString notAFolder = f.p.root.filePath(QStringLiteral("file"));
            write(notAFolder, "x");
            qputenv("TMPDIR", QFile::encodeName(notAFolder));
        }
        f.exportFromList(f.card({{"fam", "Орлов"}, {"fpath", fpath}}));
        const QList<msg::Shown> shown = msg::takeShown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].caption, QStringLiteral("Ошибка"));
        QVERIFY2(shown[0].text.contains(message), qPrintable(shown[0].text));
        QCOMPARE(shell::takeOpened(), QList<QUrl>());
        QCOMPARE(f.tempFiles(), QStringList());
    }

    // With no program to open it, the user is told where the saved form lies.
    void noSpreadsheetProgram()
    {
        Fixture f;
        printout::setWorkbookFactory([](const printout::Opener &) {
            return printout::xlsxWorkbook([](const QString &) { return false; });
        });
        f.exportFromList(f.card({{"fam", "Орлов"}}));
        const QStringList shown = f.messages();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown[0].contains(QStringLiteral("не найдена программа")), qPrintable(shown[0]));
        QVERIFY2(shown[0].contains(QLatin1String(".xltx")), qPrintable(shown[0]));
    }

    // From a card being edited: the stored values are printed, and the
    // card's photo and unsaved fields stay as they are.
    void fromCardWithUnsavedChanges()
    {
        Fixture f;
        const qint64 id = f.card({{"fam", "Сохранённый"}, {"post", "Инженер"}});
        f.mf->db.IBTrans.commit();
        f.mf->FillList();
        f.mf->selectRow(int(uitest::listColumn(f.mf, 0).indexOf(QString::number(id))));
        CardMode = QStringLiteral("edit");
        f.rf->FormActivate(true);
        f.rf->show();
        auto *fam = find<QLineEdit>(f.rf, QStringLiteral("ed_fam"));
        fam->setText(QStringLiteral("Несохранённый"));
        auto *post = find<QComboBox>(f.rf, QStringLiteral("ed_post"));
        post->setEditText(QStringLiteral("Директор"));
        // A chosen, not yet saved picture.
        QImage chosen(50, 100, QImage::Format_RGB32);
        chosen.fill(Qt::red);
        const QString chosenPath = f.p.root.filePath(QStringLiteral("chosen.png"));
        chosen.save(chosenPath);
        filedlg::script({chosenPath});
        find<QToolButton>(f.rf, QStringLiteral("sb_load"))->click();
        const qint64 shownPhoto = find<QLabel>(f.rf, QStringLiteral("im_foto"))->pixmap().cacheKey();
        msg::takeShown();

        find<QToolButton>(f.rf, QStringLiteral("tb_exp"))->click();
        QCOMPARE(f.messages(), QStringList());
        const Book book(f.opened());
        QCOMPARE(book.text(QStringLiteral("D1")), QStringLiteral("Сохранённый  "));
        QCOMPARE(book.text(QStringLiteral("D3")), QStringLiteral("Инженер"));
        QCOMPARE(book.parts.value(book.pictures().value(0).media), bytesOf(f.p.folder + QStringLiteral("/Forms/foto.png")));
        QCOMPARE(fam->text(), QStringLiteral("Несохранённый"));
        QCOMPARE(post->currentText(), QStringLiteral("Директор"));
        QCOMPARE(find<QLabel>(f.rf, QStringLiteral("im_foto"))->pixmap().cacheKey(), shownPhoto);
        QVERIFY(f.rf->CardChanged);
        QCOMPARE(f.rf->PendingPhoto, chosenPath);
        msg::script({msg::Answer::No});
        f.rf->close();
    }

    // A template from another spreadsheet program: prefixed names, rows and
    // cells without addresses, a formula in a mapped cell listed in the
    // calculation chain, a logo already drawn, the second sheet active.
    void foreignTemplate()
    {
        Fixture f;
        const QByteArray ns = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
        const QByteArray rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
        const QMap<QString, QByteArray> parts = {
            {"[Content_Types].xml",
             "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
             "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
             "<Default Extension=\"xml\" ContentType=\"application/xml\"/><Default Extension=\"PNG\" ContentType=\"image/png\"/>"
             "<Override PartName=\"/xl/workbook.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
             "<Override PartName=\"/xl/worksheets/sheet1.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>"
             "<Override PartName=\"/xl/worksheets/sheet2.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>"
             "<Override PartName=\"/xl/calcChain.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.calcChain+xml\"/>"
             "<Override PartName=\"/xl/drawings/drawing1.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.drawing+xml\"/>"
             "</Types>"},
            {"_rels/.rels",
             "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
             "<Relationship Id=\"rId1\" Type=\"" + rel + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"},
            {"xl/workbook.xml",
             "<x:workbook xmlns:x=\"" + ns + "\" xmlns:r=\"" + rel + "\"><x:bookViews><x:workbookView activeTab=\"1\"/></x:bookViews>"
             "<x:sheets><x:sheet name=\"Форма\" sheetId=\"1\" r:id=\"rId1\"/><x:sheet name=\"Два\" sheetId=\"2\" r:id=\"rId2\"/></x:sheets></x:workbook>"},
            {"xl/_rels/workbook.xml.rels",
             "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
             "<Relationship Id=\"rId1\" Type=\"" + rel + "/worksheet\" Target=\"worksheets/sheet1.xml\"/>"
             "<Relationship Id=\"rId2\" Type=\"" + rel + "/worksheet\" Target=\"/xl/worksheets/sheet2.xml\"/>"
             "<Relationship Id=\"rId3\" Type=\"" + rel + "/calcChain\" Target=\"calcChain.xml\"/></Relationships>"},
            {"xl/worksheets/sheet1.xml",
             "<x:worksheet xmlns:x=\"" + ns + "\" xmlns:r=\"" + rel + "\"><x:sheetData>"
             "<x:row><x:c t=\"inlineStr\"><x:is><x:t>Лого</x:t></x:is></x:c><x:c/><x:c/><x:c><x:f>1+1</x:f><x:v>2</x:v></x:c></x:row>"
             "<x:row r=\"30\"><x:c r=\"B30\" t=\"inlineStr\"><x:is><x:t>Подпись</x:t></x:is></x:c></x:row>"
             "</x:sheetData><x:drawing r:id=\"rId1\"/></x:worksheet>"},
            {"xl/worksheets/_rels/sheet1.xml.rels",
             "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
             "<Relationship Id=\"rId1\" Type=\"" + rel + "/drawing\" Target=\"../drawings/drawing1.xml\"/></Relationships>"},
            {"xl/worksheets/sheet2.xml",
             "<worksheet xmlns=\"" + ns + "\"><sheetViews><sheetView tabSelected=\"1\" workbookViewId=\"0\"/></sheetViews><sheetData/></worksheet>"},
            {"xl/calcChain.xml", "<calcChain xmlns=\"" + ns + "\"><c r=\"D1\" i=\"1\"/></calcChain>"},
            {"xl/drawings/drawing1.xml",
             "<xdr:wsDr xmlns:xdr=\"http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing\" "
             "xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\">"
             "<xdr:absoluteAnchor><xdr:pos x=\"5000000\" y=\"0\"/><xdr:ext cx=\"100\" cy=\"100\"/><xdr:pic><xdr:nvPicPr>"
             "<xdr:cNvPr id=\"7\" name=\"Лого\"/><xdr:cNvPicPr/></xdr:nvPicPr><xdr:blipFill><a:blip "
             "xmlns:r=\"" + rel + "\" r:embed=\"rId1\"/></xdr:blipFill><xdr:spPr/></xdr:pic><xdr:clientData/></xdr:absoluteAnchor></xdr:wsDr>"},
            {"xl/drawings/_rels/drawing1.xml.rels",
             "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
             "<Relationship Id=\"rId1\" Type=\"" + rel + "/image\" Target=\"../media/image1.PNG\"/></Relationships>"},
            {"xl/media/image1.PNG", bytesOf(f.p.folder + QStringLiteral("/Forms/foto.png"))},
        };
        QFile::remove(f.templateFile());
        zip_t *z = zip_open(QFile::encodeName(f.templateFile()).constData(), ZIP_CREATE, nullptr);
        for (auto it = parts.cbegin(); it != parts.cend(); ++it)
            zip_file_add(z, s(it.key()).c_str(), zip_source_buffer(z, it.value().constData(), zip_uint64_t(it.value().size()), 0), 0);
        QCOMPARE(zip_close(z), 0);

        const Book book = f.exported(f.card({{"fam", "Орлов"}, {"work", "Завод"}, {"dep", "Цех"}}));
        QVERIFY(book.valid());
        const QMap<QString, Book::Cell> cells = book.cells();
        QCOMPARE(cells.value("A1").text, QStringLiteral("Лого"));
        QCOMPARE(cells.value("B30").text, QStringLiteral("Подпись"));
        QCOMPARE(cells.value("D1").text, QStringLiteral("Орлов  "));
        QCOMPARE(cells.value("D2").text, QStringLiteral("Завод, Цех"));
        QCOMPARE(cells.value("A24").text, QString());
        // Rows and cells in order: A1..D1, then rows 2..10, 24, 30.
        const auto sheet = book.xml(kSheet);
        QStringList order;
        for (pugi::xpath_node c : sheet->select_nodes("//*[local-name()='c']"))
            order << QString::fromUtf8(c.node().attribute("r").value());
        QCOMPARE(order.mid(0, 4), (QStringList{"A1", "B1", "C1", "D1"}));
        QCOMPARE(order.mid(4, 3), (QStringList{"D2", "D3", "D4"}));
        QCOMPARE(order.last(2), (QStringList{"A24", "B30"}));
        QVERIFY(!QString::fromUtf8(book.parts.value(kSheet)).contains(QLatin1String("<x:f>")));
        // The formula's calculation chain is gone with it.
        QVERIFY(!book.parts.contains("xl/calcChain.xml"));
        QVERIFY(!book.parts.value("[Content_Types].xml").contains("calcChain"));
        QVERIFY(!book.parts.value("xl/_rels/workbook.xml.rels").contains("calcChain"));
        // The logo stays; the photo joins it with an id of its own.
        const QList<Book::Picture> pictures = book.pictures();
        QCOMPARE(pictures.size(), 2);
        QCOMPARE(pictures[0].media, QStringLiteral("xl/media/image1.PNG"));
        QVERIFY(pictures[1].media != pictures[0].media);
        QCOMPARE(pictures[1].cx, qint64(1460500));
        QVERIFY(pictures[1].shapeId > 7);
        QVERIFY(book.parts.contains(pictures[1].media));
        // Opens on the filled sheet, no grid lines there.
        QVERIFY(!book.parts.value("xl/workbook.xml").contains("activeTab"));
        QVERIFY(!book.parts.value("xl/worksheets/sheet2.xml").contains("tabSelected"));
        QCOMPARE(book.gridLines(), QStringLiteral("0"));
        QCOMPARE(book.contentType(QStringLiteral("xl/workbook.xml")),
                 QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.template.main+xml"));
    }

    // LibreOffice opens the produced file and reads the values and the photo.
    void openedByLibreOffice()
    {
        const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
        if (soffice.isEmpty())
            QSKIP("LibreOffice (soffice) is not installed");
        Fixture f;
        const QString fpath = f.photo(QStringLiteral("фото.jpg"), QSize(300, 400), "JPEG");
        const qint64 id = f.card(fullCardColumns() + Cols{{"fpath", fpath}});
        f.accounts(id, {"", "2 ...", "QQ", ""}, {"", "адрес два", "адрес три", ""});
        f.exportFromList(id);
        QCOMPARE(f.messages(), QStringList());
        const QString file = f.opened();
        QVERIFY(!file.isEmpty());

        const QString out = f.p.root.filePath(QStringLiteral("converted"));
        const QString profile = f.p.root.filePath(QStringLiteral("lo-profile"));
        const QString csv = convertWithLibreOffice(soffice, file, QStringLiteral("csv:Text - txt - csv (StarCalc):44,34,76"),
                                                   out, profile);
        QVERIFY(!csv.isEmpty());
        QFile csvFile(csv);
        QVERIFY(csvFile.open(QIODevice::ReadOnly));
        const QList<QStringList> rows = parseCsv(QString::fromUtf8(csvFile.readAll()));
        auto at = [&rows](const char *cell) {
            const QString c = QString::fromLatin1(cell);
            const int col = c.at(0).unicode() - 'A';
            const int row = c.mid(1).toInt() - 1;
            return rows.value(row).value(col);
        };
        QCOMPARE(at("D1"), QStringLiteral("Кузнецова Анна Сергеевна"));
        QCOMPARE(at("C1"), QStringLiteral("Ф.И.О."));
        QCOMPARE(at("D2"), QStringLiteral("ООО «Север & Юг», Отдел <продаж>"));
        QCOMPARE(at("G7"), QStringLiteral("anna81@mail.ru"));
        QCOMPARE(at("H9"), QStringLiteral("с 01.04.2006 по 14.03.2026"));
        QCOMPARE(at("D10"), QStringLiteral("72-7654321"));
        QCOMPARE(at("A13"), QStringLiteral("алкоголь, искусство, музыка, туризм, шахматы, театр"));
        QCOMPARE(at("A18"), QString());
        QCOMPARE(at("C18"), QStringLiteral("адрес два"));
        QCOMPARE(at("A19"), QStringLiteral("QQ"));
        QCOMPARE(at("C19"), QStringLiteral("адрес три"));
        QCOMPARE(at("A24"), QStringLiteral("Звонить после 10:00.\nПодарок ко дню рождения — книги.\nКод _x0041_ и знак \x01 как есть."));

        // Saved again by LibreOffice, the photo is still there at its size.
        const QString xlsx = convertWithLibreOffice(soffice, file, QStringLiteral("xlsx:Calc MS Excel 2007 XML"), out, profile);
        QVERIFY(!xlsx.isEmpty());
        const Book again(xlsx);
        const QList<Book::Picture> pictures = again.pictures();
        QCOMPARE(pictures.size(), 1);
        QVERIFY2(qAbs(pictures[0].cx - 1460500) < 2 * kEmu, qPrintable(QString::number(pictures[0].cx)));
        QVERIFY2(qAbs(pictures[0].cy - 1947333) < 2 * kEmu, qPrintable(QString::number(pictures[0].cy)));
        QVERIFY(again.parts.contains(pictures[0].media));
        // (Grid lines are a view setting, which LibreOffice drops when it runs without a window.)
    }
};

QTEST_MAIN(TestPrintout)
#include "tst_printout.moc"
