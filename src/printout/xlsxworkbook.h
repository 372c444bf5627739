#pragma once
// The workbook of the printout as an Office Open XML package, shared by its
// two halves: xlsxworkbook.cpp reads, edits and saves the package,
// xlsxsheet.cpp fills the cells of its first sheet. Only xlsxWorkbook()
// (workbook.h) makes one.

#include "package.h"
#include "workbook.h"
#include "xmldoc.h"

#include <QList>
#include <QString>
#include <initializer_list>
#include <string>

namespace printout {

// The children of a worksheet in the order the schema requires.
extern const std::initializer_list<const char *> kSheetOrder;

// A cell's address ("D1") as its column and row, both from 1; false when it
// is no address or lies outside the sheet.
bool parseCell(const std::string &ref, int &col, int &row);
// The address of the cell in column `col` and row `row`.
std::string cellName(int col, int row);

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

} // namespace printout
