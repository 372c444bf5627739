#pragma once
// The printed form of one stored card: a new workbook made from the template
// Forms/form.xlsx, filled with the card's texts, its photo and its accounts.

#include "core/cardstore.h"
#include "workbook.h"

#include <QList>
#include <QSizeF>
#include <optional>

namespace printout {

// Where the export finds its files.
struct Sources
{
    QString programFolder; // holds Forms/form.xlsx and Forms/foto.png
    QString photoFolder;   // the stored photos
    QString scratchFolder; // the copy's own scratch folder: the finished workbook goes there
};

// The template's path: Forms/form.xlsx in the program folder.
QString templatePath(const QString &programFolder);
// The picture the form shows: the stored photo, or Forms/foto.png when the
// card has none. Throws Error for a stored photo that leads outside the photo
// folder (by its path or through a link) or is no plain file.
QString picturePath(const Sources &sources, const QString &fpath);
// The picture's size on the sheet: 115 points wide, its proportions kept.
QSizeF printedSize(const QSize &pixels);

// A text of the card that its cell holds only in part.
struct Shortened
{
    QString cell;      // "A24"
    qsizetype printed; // characters the cell holds
    qsizetype total;   // characters of the whole text; a line break counts once
};

// Fills a new workbook with the card and hands it to the user. Every failure
// (no template, a missing or broken picture, ...) throws Error before the
// workbook is shown. Returns the texts that had to be cut to fit their
// cells, in the order they were written.
QList<Shortened> exportCard(Workbook &workbook, const Sources &sources, const core::CardRecord &card,
                            const std::optional<core::Accounts> &accounts);

// What the user is told about texts cut in the printout, one line each, and
// that the card keeps them whole; empty when nothing was cut.
QString shortenedNotice(const QList<Shortened> &shortened);

} // namespace printout
