#pragma once
// The picture-open dialog: the platform's file dialog with a preview of the
// chosen picture, behind one call that tests answer from a script.

#include "cardfiles/cardfile.h"

#include <QString>
#include <QStringList>

class QWidget;

namespace filedlg {

// Asks for a picture file; an empty text when the user cancelled.
QString openPicture(QWidget *owner, const QString &caption = QString());

// Asks for a file of cards to import (vCard or CSV); empty when cancelled.
QString openCards(QWidget *owner);

struct SavedCards
{
    QString path; // empty when cancelled
    core::CardFormat type = core::CardFormat::VCard4;
};
// Asks where to export cards, and as what (cardsTypeFor); a name typed
// without an extension gets the chosen type's.
SavedCards saveCards(QWidget *owner, const QString &suggestedName);
// The format of an export: the file type chosen in the dialog (0 vCard 4.0,
// 1 vCard 3.0, 2 CSV), unless the name typed ends in the other format's
// extension, which is what the user then means.
core::CardFormat cardsTypeFor(qsizetype chosenType, const QString &fileName);

// Test mode: no dialog is shown; each call takes the next scripted answer
// (an empty text, as a cancel, when none is left) and is counted.
void setTestMode(bool on);
void script(const QStringList &answers);
// The next save dialog's answer: the path, and the file type chosen.
void scriptSave(const QString &path, core::CardFormat type);
int asked();

} // namespace filedlg
