// The first sheet of the printout's workbook: the addresses of its cells,
// their text and format, and how the sheet is shown.

#include "xlsxworkbook.h"

#include <QRegularExpression>
#include <algorithm>
#include <cctype>

namespace printout {
namespace {

using xml::str;

constexpr int kMaxColumn = 16384;
constexpr int kMaxRow = 1048576;

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

} // namespace

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

} // namespace printout
