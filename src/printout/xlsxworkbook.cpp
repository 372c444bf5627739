// The workbook of the printout as an Office Open XML package: the template is
// read into memory, its first sheet edited with pugixml, and the result saved
// as a workbook template (.xltx), which spreadsheet programs open as a new
// workbook without a file name.

#include "core/safefiles.h"
#include "package.h"
#include "workbook.h"
#include "xmldoc.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <cctype>
#include <cmath>

namespace printout {
namespace {

using xml::qstr;
using xml::str;

const char *const kWorkbookMain = "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml";
const char *const kTemplateMain = "application/vnd.openxmlformats-officedocument.spreadsheetml.template.main+xml";
const char *const kDrawingType = "application/vnd.openxmlformats-officedocument.drawing+xml";
const char *const kRelDrawing = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/drawing";
const char *const kRelImage = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/image";
const char *const kDrawingNs = "http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing";
const char *const kMainDrawingNs = "http://schemas.openxmlformats.org/drawingml/2006/main";
const QString kContentTypes = QStringLiteral("[Content_Types].xml");

constexpr qint64 kEmuPerPoint = 12700;
constexpr int kMaxColumn = 16384;
constexpr int kMaxRow = 1048576;

// The children of a worksheet in the order the schema requires.
const std::initializer_list<const char *> kSheetOrder = {"sheetPr",
                                                         "dimension",
                                                         "sheetViews",
                                                         "sheetFormatPr",
                                                         "cols",
                                                         "sheetData",
                                                         "sheetCalcPr",
                                                         "sheetProtection",
                                                         "protectedRanges",
                                                         "scenarios",
                                                         "autoFilter",
                                                         "sortState",
                                                         "dataConsolidate",
                                                         "customSheetViews",
                                                         "mergeCells",
                                                         "phoneticPr",
                                                         "conditionalFormatting",
                                                         "dataValidations",
                                                         "hyperlinks",
                                                         "printOptions",
                                                         "pageMargins",
                                                         "pageSetup",
                                                         "headerFooter",
                                                         "rowBreaks",
                                                         "colBreaks",
                                                         "customProperties",
                                                         "cellWatches",
                                                         "ignoredErrors",
                                                         "smartTags",
                                                         "drawing",
                                                         "legacyDrawing",
                                                         "legacyDrawingHF",
                                                         "drawingHF",
                                                         "picture",
                                                         "oleObjects",
                                                         "controls",
                                                         "webPublishItems",
                                                         "tableParts",
                                                         "extLst"};

bool parseCell(const std::string &ref, int &col, int &row)
{
    size_t i = 0;
    col = 0;
    while (i < ref.size() && std::isalpha(static_cast<unsigned char>(ref[i]))) {
        col = col * 26 + (std::toupper(static_cast<unsigned char>(ref[i])) - 'A' + 1);
        if (col > kMaxColumn)
            return false;
        ++i;
    }
    if (i == 0 || i == ref.size())
        return false;
    row = 0;
    for (; i < ref.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(ref[i])))
            return false;
        row = row * 10 + (ref[i] - '0');
        if (row > kMaxRow)
            return false;
    }
    return row > 0;
}

std::string cellName(int col, int row)
{
    std::string letters;
    for (int c = col; c > 0; c = (c - 1) / 26)
        letters.insert(letters.begin(), char('A' + (c - 1) % 26));
    return letters + std::to_string(row);
}

bool endsWith(const char *text, const char *tail)
{
    const std::string t = text, e = tail;
    return t.size() >= e.size() && t.compare(t.size() - e.size(), e.size(), e) == 0;
}

// A cell's text as the sheet's XML holds it: the cell's value, characters
// XML cannot carry (and text that would read as such an escape) written as _xHHHH_.
std::string cellText(const QString &text)
{
    const QString t = cellValue(text);
    static const QRegularExpression escapeLike(QStringLiteral("^_x[0-9A-Fa-f]{4}_"));
    QString out;
    for (qsizetype i = 0; i < t.size(); ++i) {
        const QChar c = t.at(i);
        const char16_t u = c.unicode();
        const bool pairStart = c.isHighSurrogate() && i + 1 < t.size() && t.at(i + 1).isLowSurrogate();
        if (pairStart) {
            out += c;
            out += t.at(++i);
        } else if (u == '_' && escapeLike.match(t.mid(i, 7)).hasMatch()) {
            out += QStringLiteral("_x005F_");
        } else if ((u < 0x20 && u != '\t' && u != '\n') || c.isSurrogate() || u == 0xFFFE || u == 0xFFFF) {
            out +=
                QStringLiteral("_x%1_").arg(QString::number(uint(u), 16).toUpper().rightJustified(4, QLatin1Char('0')));
        } else {
            out += c;
        }
    }
    return str(out);
}

struct Picture
{
    QByteArray data;
    QString extension;
    const char *contentType;
};

// The picture as it goes into the package: a JPEG or PNG file as it is;
// a JPEG that is turned only by its orientation mark, and any other kind of
// picture, re-encoded, so that every spreadsheet program shows it as the card does.
Picture pictureOf(const QString &file)
{
    QFile f;
    QString why;
    if (!core::openRegularFile(f, file, &why))
        throw Error(
            QStringLiteral("Не удалось прочитать файл изображения:\r%1\r%2").arg(QDir::toNativeSeparators(file), why));
    QByteArray data = f.readAll();
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QByteArray format = reader.format();
    if (format == "png")
        return {data, QStringLiteral("png"), "image/png"};
    if (format == "jpeg" && reader.transformation() == QImageIOHandler::TransformationNone)
        return {data, QStringLiteral("jpeg"), "image/jpeg"};
    reader.setAutoTransform(true);
    const QImage image = reader.read();
    if (image.isNull())
        throw Error(QStringLiteral("Файл не является изображением или повреждён:\r%1\r%2")
                        .arg(QDir::toNativeSeparators(file), reader.errorString()));
    QByteArray encoded;
    QBuffer out(&encoded);
    out.open(QIODevice::WriteOnly);
    const bool jpeg = format == "jpeg";
    QImageWriter writer(&out, jpeg ? "jpeg" : "png");
    if (jpeg)
        writer.setQuality(92);
    if (!writer.write(image))
        throw Error(QStringLiteral("Не удалось подготовить изображение для печатной формы:\r%1\r%2")
                        .arg(QDir::toNativeSeparators(file), writer.errorString()));
    return jpeg ? Picture{encoded, QStringLiteral("jpeg"), "image/jpeg"}
                : Picture{encoded, QStringLiteral("png"), "image/png"};
}

struct Relationship
{
    std::string id, type, target;
    bool external = false;
};

class XlsxWorkbook : public Workbook
{
public:
    explicit XlsxWorkbook(Opener open) : m_open(std::move(open)) {}

    void openTemplate(const QString &path) override;
    void copyToNewWorkbook() override;
    void hideGridLines() override;
    void addPicture(const QString &file, double widthPt, double heightPt) override;
    void setCell(const QString &cell, const QString &text) override;
    void show(const QString &folder) override;

private:
    [[noreturn]] void broken(const QString &why) const;
    xml::XmlDoc load(const QString &file) const;
    void store(const QString &file, const xml::XmlDoc &doc) { m_pkg.setFile(file, doc.bytes()); }
    QList<Relationship> relationships(const QString &file) const;
    // Adds a relationship of `source` to `target`; returns its id.
    std::string addRelationship(const QString &source, const char *type, const QString &target);
    void setContentType(const QString &file, const char *type);
    void addDefaultType(const QString &extension, const char *type);
    QString freePartName(const QString &stem, const QString &extension) const;
    pugi::xml_node sheetData();
    pugi::xml_node row(int r);
    pugi::xml_node cell(pugi::xml_node row, int col, int r);
    const char *columnStyle(int col);
    void updateDimension();

    Opener m_open;
    Package m_pkg;
    QString m_what;         // the template, for messages
    QString m_workbookFile; // xl/workbook.xml
    QString m_sheetFile;    // xl/worksheets/sheet1.xml
    xml::XmlDoc m_sheet;    // the first sheet, written back on show()
};

void XlsxWorkbook::broken(const QString &why) const
{
    throw brokenTemplate(m_what, why);
}

xml::XmlDoc XlsxWorkbook::load(const QString &file) const
{
    xml::XmlDoc p;
    if (!m_pkg.contains(file))
        broken(QStringLiteral("нет части «%1»").arg(file));
    if (!p.parse(m_pkg.file(file)))
        broken(QStringLiteral("часть «%1» не читается как XML").arg(file));
    return p;
}

QList<Relationship> XlsxWorkbook::relationships(const QString &file) const
{
    QList<Relationship> out;
    const QString rels = xml::relsFileOf(file);
    if (!m_pkg.contains(rels))
        return out;
    const xml::XmlDoc doc = load(rels);
    for (pugi::xml_node r : doc.root().children(doc.q("Relationship")))
        out.append({r.attribute("Id").value(), r.attribute("Type").value(), r.attribute("Target").value(),
                    QString::fromUtf8(r.attribute("TargetMode").value())
                            .compare(QLatin1String("External"), Qt::CaseInsensitive) == 0});
    return out;
}

std::string XlsxWorkbook::addRelationship(const QString &source, const char *type, const QString &target)
{
    const QString rels = xml::relsFileOf(source);
    xml::XmlDoc doc;
    if (m_pkg.contains(rels))
        doc = load(rels);
    else
        doc.create("Relationships", xml::kPackageRelNs);
    std::string id;
    for (int n = 1; id.empty(); ++n) {
        const std::string candidate = "rId" + std::to_string(n);
        if (!doc.root().find_child_by_attribute(doc.q("Relationship"), "Id", candidate.c_str()))
            id = candidate;
    }
    pugi::xml_node r = doc.root().append_child(doc.q("Relationship"));
    r.append_attribute("Id") = id.c_str();
    r.append_attribute("Type") = type;
    r.append_attribute("Target") = str(xml::relativeTarget(source, target)).c_str();
    store(rels, doc);
    return id;
}

void XlsxWorkbook::setContentType(const QString &file, const char *type)
{
    xml::XmlDoc doc = load(kContentTypes);
    const QString name = QLatin1Char('/') + file;
    pugi::xml_node found;
    for (pugi::xml_node o : doc.root().children(doc.q("Override")))
        if (qstr(o.attribute("PartName").value()).compare(name, Qt::CaseInsensitive) == 0)
            found = o;
    if (!found) {
        found = doc.root().append_child(doc.q("Override"));
        found.append_attribute("PartName") = str(name).c_str();
        found.append_attribute("ContentType");
    }
    found.attribute("ContentType").set_value(type);
    store(kContentTypes, doc);
}

void XlsxWorkbook::addDefaultType(const QString &extension, const char *type)
{
    xml::XmlDoc doc = load(kContentTypes);
    for (pugi::xml_node d : doc.root().children(doc.q("Default")))
        if (qstr(d.attribute("Extension").value()).compare(extension, Qt::CaseInsensitive) == 0)
            return;
    // Defaults come before the overrides.
    pugi::xml_node d = doc.root().prepend_child(doc.q("Default"));
    d.append_attribute("Extension") = str(extension).c_str();
    d.append_attribute("ContentType") = type;
    store(kContentTypes, doc);
}

QString XlsxWorkbook::freePartName(const QString &stem, const QString &extension) const
{
    for (int n = 1;; ++n) {
        const QString name = QStringLiteral("%1%2.%3").arg(stem).arg(n).arg(extension);
        if (!m_pkg.contains(name))
            return name;
    }
}

void XlsxWorkbook::openTemplate(const QString &path)
{
    m_what = QDir::toNativeSeparators(path);
    m_pkg.load(path);
    if (!m_pkg.contains(kContentTypes))
        broken(QStringLiteral("нет описания типов содержимого"));

    for (const Relationship &r : relationships(QString()))
        if (!r.external && endsWith(r.type.c_str(), "/officeDocument"))
            m_workbookFile = xml::resolveTarget(QString(), qstr(r.target.c_str()));
    if (m_workbookFile.isEmpty() || !m_pkg.contains(m_workbookFile))
        broken(QStringLiteral("нет книги"));

    const xml::XmlDoc workbook = load(m_workbookFile);
    const pugi::xml_node sheets = workbook.root().child(workbook.q("sheets"));
    const pugi::xml_node first = sheets.child(workbook.q("sheet"));
    std::string relPrefix;
    for (pugi::xml_attribute a : workbook.root().attributes())
        if (std::string(a.name()).rfind("xmlns:", 0) == 0 && std::string(a.value()) == xml::kRelNs)
            relPrefix = std::string(a.name()).substr(6);
    const std::string rid = first.attribute((relPrefix + ":id").c_str()).value();
    if (!first || rid.empty())
        broken(QStringLiteral("в книге нет листов"));
    for (const Relationship &r : relationships(m_workbookFile))
        if (r.id == rid && !r.external)
            m_sheetFile = xml::resolveTarget(m_workbookFile, qstr(r.target.c_str()));
    if (m_sheetFile.isEmpty())
        broken(QStringLiteral("первый лист не найден"));
    m_sheet = load(m_sheetFile);
    if (xml::localName(m_sheet.root()) != "worksheet")
        broken(QStringLiteral("первый лист книги не является листом с ячейками"));

    // Rows and cells may leave out their address (then they follow the one
    // before); give every one its address so cells can be found by it.
    int lastRow = 0;
    for (pugi::xml_node r : sheetData().children(m_sheet.q("row"))) {
        pugi::xml_attribute ra = r.attribute("r");
        if (!ra)
            (ra = r.append_attribute("r")) = lastRow + 1;
        lastRow = ra.as_int();
        int lastCol = 0;
        for (pugi::xml_node c : r.children(m_sheet.q("c"))) {
            pugi::xml_attribute ca = c.attribute("r");
            if (!ca)
                (ca = c.append_attribute("r")) = cellName(lastCol + 1, lastRow).c_str();
            int col = 0, rowNo = 0;
            if (!parseCell(ca.value(), col, rowNo))
                broken(QStringLiteral("неверный адрес ячейки «%1»").arg(qstr(ca.value())));
            lastCol = col;
        }
    }
}

void XlsxWorkbook::copyToNewWorkbook()
{
    // The package becomes a workbook template: opened, it gives a new workbook.
    const xml::XmlDoc types = load(kContentTypes);
    const QString name = QLatin1Char('/') + m_workbookFile;
    QString current;
    for (pugi::xml_node o : types.root().children(types.q("Override")))
        if (qstr(o.attribute("PartName").value()).compare(name, Qt::CaseInsensitive) == 0)
            current = qstr(o.attribute("ContentType").value());
    if (current.contains(QLatin1String("macroEnabled"), Qt::CaseInsensitive))
        throw Error(QStringLiteral("Шаблон печатной формы содержит макросы:\r%1\rСохраните его как книгу Excel без "
                                   "макросов (.xlsx).")
                        .arg(m_what));
    if (current != QLatin1String(kWorkbookMain) && current != QLatin1String(kTemplateMain))
        broken(QStringLiteral("книга имеет тип «%1»").arg(current));
    setContentType(m_workbookFile, kTemplateMain);

    // The calculation chain lists formula cells; a spreadsheet program rebuilds
    // it, and one that names a cell now holding text makes the file "damaged".
    const QString wbRels = xml::relsFileOf(m_workbookFile);
    xml::XmlDoc workbookRels = load(wbRels);
    bool chainRemoved = false;
    for (pugi::xml_node r = workbookRels.root().first_child(); r;) {
        pugi::xml_node next = r.next_sibling();
        if (endsWith(r.attribute("Type").value(), "/calcChain")) {
            const QString file = xml::resolveTarget(m_workbookFile, qstr(r.attribute("Target").value()));
            m_pkg.removeFile(file);
            xml::XmlDoc t = load(kContentTypes);
            for (pugi::xml_node o : t.root().children(t.q("Override")))
                if (qstr(o.attribute("PartName").value()).compare(QLatin1Char('/') + file, Qt::CaseInsensitive) == 0) {
                    t.root().remove_child(o);
                    break;
                }
            store(kContentTypes, t);
            workbookRels.root().remove_child(r);
            chainRemoved = true;
        }
        r = next;
    }
    if (chainRemoved)
        store(wbRels, workbookRels);

    // The new workbook opens on the filled sheet, shown and selected alone.
    xml::XmlDoc workbook = load(m_workbookFile);
    for (pugi::xml_node v : workbook.root().child(workbook.q("bookViews")).children()) {
        v.remove_attribute("activeTab");
        v.remove_attribute("firstSheet");
    }
    workbook.root().child(workbook.q("sheets")).child(workbook.q("sheet")).remove_attribute("state");
    store(m_workbookFile, workbook);
    for (const Relationship &r : relationships(m_workbookFile)) {
        const QString file = xml::resolveTarget(m_workbookFile, qstr(r.target.c_str()));
        if (r.external || file.compare(m_sheetFile, Qt::CaseInsensitive) == 0 ||
            !endsWith(r.type.c_str(), "/worksheet") || !m_pkg.contains(file) ||
            !m_pkg.file(file).contains("tabSelected"))
            continue;
        xml::XmlDoc other = load(file);
        for (pugi::xml_node v : other.root().child(other.q("sheetViews")).children())
            v.remove_attribute("tabSelected");
        store(file, other);
    }
    for (pugi::xml_node v : m_sheet.root().child(m_sheet.q("sheetViews")).children(m_sheet.q("sheetView"))) {
        v.remove_attribute("tabSelected");
        v.append_attribute("tabSelected") = "1";
    }
}

void XlsxWorkbook::hideGridLines()
{
    pugi::xml_node views = m_sheet.root().child(m_sheet.q("sheetViews"));
    if (!views)
        views = xml::insertInOrder(m_sheet.root(), m_sheet.prefix, "sheetViews", kSheetOrder);
    if (!views.child(m_sheet.q("sheetView"))) {
        pugi::xml_node v = views.append_child(m_sheet.q("sheetView"));
        v.append_attribute("workbookViewId") = "0";
    }
    for (pugi::xml_node v : views.children(m_sheet.q("sheetView"))) {
        v.remove_attribute("showGridLines");
        v.append_attribute("showGridLines") = "0";
    }
}

void XlsxWorkbook::addPicture(const QString &file, double widthPt, double heightPt)
{
    const Picture picture = pictureOf(file);
    const QString media =
        freePartName(xml::folderOf(m_workbookFile) + QStringLiteral("/media/image"), picture.extension);
    m_pkg.setFile(media, picture.data);
    addDefaultType(picture.extension, picture.contentType);

    // The sheet's drawing: the template's own (a logo, say), or a new one.
    const std::string relPrefix = m_sheet.nsPrefix(xml::kRelNs, "r");
    pugi::xml_node drawingRef = m_sheet.root().child(m_sheet.q("drawing"));
    QString drawing;
    if (drawingRef) {
        const std::string rid = drawingRef.attribute((relPrefix + ":id").c_str()).value();
        for (const Relationship &r : relationships(m_sheetFile))
            if (r.id == rid && !r.external)
                drawing = xml::resolveTarget(m_sheetFile, qstr(r.target.c_str()));
        if (drawing.isEmpty() || !m_pkg.contains(drawing))
            broken(QStringLiteral("рисунки листа не найдены"));
    } else {
        drawing =
            freePartName(xml::folderOf(m_workbookFile) + QStringLiteral("/drawings/drawing"), QStringLiteral("xml"));
        xml::XmlDoc fresh;
        fresh.create("xdr:wsDr", kDrawingNs);
        fresh.root().append_attribute("xmlns:a") = kMainDrawingNs;
        fresh.root().append_attribute("xmlns:r") = xml::kRelNs;
        store(drawing, fresh);
        setContentType(drawing, kDrawingType);
        const std::string rid = addRelationship(m_sheetFile, kRelDrawing, drawing);
        drawingRef = xml::insertInOrder(m_sheet.root(), m_sheet.prefix, "drawing", kSheetOrder);
        drawingRef.append_attribute((relPrefix + ":id").c_str()) = rid.c_str();
    }
    const std::string imageId = addRelationship(drawing, kRelImage, media);

    xml::XmlDoc doc = load(drawing);
    int shapeId = 1;
    for (pugi::xpath_node n : doc.doc.select_nodes("//*[local-name()='cNvPr']"))
        shapeId = std::max(shapeId, n.node().attribute("id").as_int());
    ++shapeId;

    const std::string off = std::to_string(kEmuPerPoint); // one point in from the corner
    const std::string cx = std::to_string(std::llround(widthPt * kEmuPerPoint));
    const std::string cy = std::to_string(std::llround(heightPt * kEmuPerPoint));
    const std::string anchor = "<xdr:oneCellAnchor xmlns:xdr=\"" + std::string(kDrawingNs) + "\" xmlns:a=\"" +
                               kMainDrawingNs + "\" xmlns:r=\"" + xml::kRelNs +
                               "\">"
                               "<xdr:from><xdr:col>0</xdr:col><xdr:colOff>" +
                               off + "</xdr:colOff><xdr:row>0</xdr:row><xdr:rowOff>" + off +
                               "</xdr:rowOff></xdr:from>"
                               "<xdr:ext cx=\"" +
                               cx + "\" cy=\"" + cy +
                               "\"/>"
                               "<xdr:pic><xdr:nvPicPr><xdr:cNvPr id=\"" +
                               std::to_string(shapeId) +
                               "\" name=\"Фотография\"/>"
                               "<xdr:cNvPicPr><a:picLocks noChangeAspect=\"1\"/></xdr:cNvPicPr></xdr:nvPicPr>"
                               "<xdr:blipFill><a:blip r:embed=\"" +
                               imageId +
                               "\"/><a:stretch><a:fillRect/></a:stretch></xdr:blipFill>"
                               "<xdr:spPr><a:xfrm><a:off x=\"" +
                               off + "\" y=\"" + off + "\"/><a:ext cx=\"" + cx + "\" cy=\"" + cy +
                               "\"/></a:xfrm><a:prstGeom prst=\"rect\"><a:avLst/></a:prstGeom></xdr:spPr></xdr:pic>"
                               "<xdr:clientData/></xdr:oneCellAnchor>";
    pugi::xml_document fragment;
    fragment.load_string(anchor.c_str());
    pugi::xml_node copied = doc.root().append_copy(fragment.document_element());
    // In the drawing made here the root already declares them.
    if (doc.root().attribute("xmlns:xdr").value() == std::string(kDrawingNs) &&
        doc.root().attribute("xmlns:a").value() == std::string(kMainDrawingNs) &&
        doc.root().attribute("xmlns:r").value() == std::string(xml::kRelNs)) {
        copied.remove_attribute("xmlns:xdr");
        copied.remove_attribute("xmlns:a");
        copied.remove_attribute("xmlns:r");
    }
    store(drawing, doc);
}

pugi::xml_node XlsxWorkbook::sheetData()
{
    pugi::xml_node data = m_sheet.root().child(m_sheet.q("sheetData"));
    if (!data)
        data = xml::insertInOrder(m_sheet.root(), m_sheet.prefix, "sheetData", kSheetOrder);
    return data;
}

pugi::xml_node XlsxWorkbook::row(int r)
{
    pugi::xml_node data = sheetData();
    const std::string name = m_sheet.q("row");
    for (pugi::xml_node n : data.children(name.c_str())) {
        const int at = n.attribute("r").as_int();
        if (at == r)
            return n;
        if (at > r) {
            pugi::xml_node fresh = data.insert_child_before(name.c_str(), n);
            fresh.append_attribute("r") = r;
            return fresh;
        }
    }
    pugi::xml_node fresh = data.append_child(name.c_str());
    fresh.append_attribute("r") = r;
    return fresh;
}

const char *XlsxWorkbook::columnStyle(int col)
{
    for (pugi::xml_node c : m_sheet.root().child(m_sheet.q("cols")).children(m_sheet.q("col")))
        if (c.attribute("min").as_int() <= col && col <= c.attribute("max").as_int())
            return c.attribute("style").value();
    return "";
}

pugi::xml_node XlsxWorkbook::cell(pugi::xml_node rowNode, int col, int r)
{
    const std::string name = m_sheet.q("c");
    // Spans only speed up reading; a new cell may fall outside them.
    rowNode.remove_attribute("spans");
    pugi::xml_node before;
    for (pugi::xml_node n : rowNode.children(name.c_str())) {
        int at = 0, atRow = 0;
        parseCell(n.attribute("r").value(), at, atRow);
        if (at == col)
            return n;
        if (at > col) {
            before = n;
            break;
        }
    }
    pugi::xml_node fresh =
        before ? rowNode.insert_child_before(name.c_str(), before) : rowNode.append_child(name.c_str());
    fresh.append_attribute("r") = cellName(col, r).c_str();
    // A new cell takes the format of its row, or else of its column, as it would when typed in.
    const char *style = rowNode.attribute("customFormat").as_bool() ? rowNode.attribute("s").value() : columnStyle(col);
    if (*style && std::string(style) != "0")
        fresh.append_attribute("s") = style;
    return fresh;
}

void XlsxWorkbook::setCell(const QString &address, const QString &text)
{
    int col = 0, r = 0;
    if (!parseCell(str(address), col, r))
        throw Error(QStringLiteral("Неверный адрес ячейки «%1».").arg(address));
    pugi::xml_node c = cell(row(r), col, r);
    while (pugi::xml_node child = c.first_child())
        c.remove_child(child);
    for (const char *a : {"t", "cm", "vm", "ph"})
        c.remove_attribute(a);
    if (text.isEmpty())
        return; // an empty cell that keeps its format
    c.append_attribute("t") = "inlineStr";
    pugi::xml_node t = c.append_child(m_sheet.q("is")).append_child(m_sheet.q("t"));
    t.append_attribute("xml:space") = "preserve";
    t.text().set(cellText(text).c_str());
}

void XlsxWorkbook::updateDimension()
{
    pugi::xml_node dim = m_sheet.root().child(m_sheet.q("dimension"));
    if (!dim)
        return;
    int minCol = kMaxColumn, minRow = kMaxRow, maxCol = 0, maxRow = 0;
    for (pugi::xml_node r : sheetData().children(m_sheet.q("row")))
        for (pugi::xml_node c : r.children(m_sheet.q("c"))) {
            int col = 0, row = 0;
            if (!parseCell(c.attribute("r").value(), col, row))
                continue;
            minCol = std::min(minCol, col);
            maxCol = std::max(maxCol, col);
            minRow = std::min(minRow, row);
            maxRow = std::max(maxRow, row);
        }
    std::string ref = "A1";
    if (maxCol > 0) {
        ref = cellName(minCol, minRow);
        if (maxCol != minCol || maxRow != minRow)
            ref += ":" + cellName(maxCol, maxRow);
    }
    dim.remove_attribute("ref");
    dim.append_attribute("ref") = ref.c_str();
}

void XlsxWorkbook::show(const QString &folder)
{
    updateDimension();
    store(m_sheetFile, m_sheet);
    const QByteArray zip = m_pkg.save();

    // A folder of its own in the copy's scratch folder: the file keeps the
    // plain name the new workbook is named after, nobody else may read the
    // card's data in it, and it goes with the scratch folder's clean-up.
    auto cannotSave = [&folder](const QString &why) {
        return Error(QStringLiteral("Не удалось сохранить печатную форму во временную папку:\r%1\r%2")
                         .arg(QDir::toNativeSeparators(folder), why));
    };
    if (folder.isEmpty())
        throw cannotSave(QStringLiteral("личная временная папка программы (temp рядом с программой) не создаётся; "
                                        "проверьте права на неё"));
    QTemporaryDir dir(QDir(folder).filePath(QStringLiteral("print-XXXXXX")));
    if (!dir.isValid())
        throw cannotSave(dir.errorString());
    const QString path = dir.filePath(QStringLiteral("Карточка.xltx"));
    QString error;
    if (!core::writeWholeFile(path, zip, {}, &error))
        throw cannotSave(error);
    dir.setAutoRemove(false);
    if (!m_open(path))
        throw Error(QStringLiteral("Печатная форма сохранена, но открыть её не удалось: не найдена программа для "
                                   "работы с таблицами.\r%1")
                        .arg(QDir::toNativeSeparators(path)));
}

WorkbookFactory &factory()
{
    static WorkbookFactory f;
    return f;
}

} // namespace

QString cellValue(const QString &text)
{
    QString t = text;
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (t.size() > kCellCapacity) {
        t.truncate(kCellCapacity);
        if (t.back().isHighSurrogate())
            t.chop(1);
    }
    return t;
}

std::unique_ptr<Workbook> xlsxWorkbook(const Opener &open)
{
    return std::make_unique<XlsxWorkbook>(open);
}

std::unique_ptr<Workbook> newWorkbook(const Opener &open)
{
    return factory() ? factory()(open) : xlsxWorkbook(open);
}

void setWorkbookFactory(WorkbookFactory f)
{
    factory() = std::move(f);
}

} // namespace printout
