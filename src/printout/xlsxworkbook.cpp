// The workbook of the printout as an Office Open XML package: the template is
// read into memory, its first sheet edited with pugixml, and the result saved
// as a workbook template (.xltx), which spreadsheet programs open as a new
// workbook without a file name.

#include "xlsxworkbook.h"

#include "core/safefiles.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryDir>
#include <algorithm>
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

bool endsWith(const char *text, const char *tail)
{
    const std::string t = text, e = tail;
    return t.size() >= e.size() && t.compare(t.size() - e.size(), e.size(), e) == 0;
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

WorkbookFactory &factory()
{
    static WorkbookFactory f;
    return f;
}

} // namespace

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
