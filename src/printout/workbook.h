#pragma once
// The printed card form is made by filling a new workbook that starts as a
// copy of the template. The steps are one interface, in the order the export
// takes them, so that tests can record what was done and in which order.

#include <QString>
#include <functional>
#include <memory>
#include <stdexcept>

namespace printout {

// A failure the user is told about; the text is Russian, lines split by "\r".
class Error : public std::runtime_error
{
public:
    explicit Error(const QString &text) : std::runtime_error(text.toStdString()) {}
    QString text() const { return QString::fromUtf8(what()); }
};

// The most a spreadsheet cell holds, in UTF-16 code units.
constexpr qsizetype kCellCapacity = 32767;

// A text as a cell holds it: line breaks as LF, cut to the cell's capacity
// (never between the halves of a character). What setCell writes.
QString cellValue(const QString &text);

class Workbook
{
public:
    virtual ~Workbook() = default;
    // Reads the template; the file itself is never changed.
    virtual void openTemplate(const QString &path) = 0;
    // Starts the new, untitled workbook from the template's first sheet.
    virtual void copyToNewWorkbook() = 0;
    virtual void hideGridLines() = 0;
    // Embeds the picture at the sheet's top-left corner with the size in points.
    virtual void addPicture(const QString &file, double widthPt, double heightPt) = 0;
    // Writes a text value into a cell ("D1") as cellValue() gives it; an
    // empty text empties the cell.
    virtual void setCell(const QString &cell, const QString &text) = 0;
    // Hands the finished workbook to the user; its file is written in a new
    // sub-folder of `folder` (the copy's own scratch folder).
    virtual void show(const QString &folder) = 0;
};

// Opens a finished file with the desktop's default program; false when nothing took it.
using Opener = std::function<bool(const QString &file)>;

// The workbook the export uses: the real one unless a test set a factory.
std::unique_ptr<Workbook> newWorkbook(const Opener &open);
// The real one: the template package edited in memory and, on show(), saved
// as a new workbook template in the given folder and opened with `open`.
std::unique_ptr<Workbook> xlsxWorkbook(const Opener &open);

using WorkbookFactory = std::function<std::unique_ptr<Workbook>(const Opener &open)>;
// Tests: what newWorkbook() makes from now on (an empty factory: the real one).
void setWorkbookFactory(WorkbookFactory factory);

} // namespace printout
