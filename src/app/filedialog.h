#pragma once
// The picture-open dialog: the platform's file dialog with a preview of the
// chosen picture, behind one call that tests answer from a script.

#include <QString>
#include <QStringList>

class QWidget;

namespace filedlg {

// Asks for a picture file; an empty text when the user cancelled.
QString openPicture(QWidget *owner, const QString &caption = QString());

// Asks for a file of cards to import (vCard or CSV); empty when cancelled.
QString openCards(QWidget *owner);

// The file types cards are exported as, in the order the save dialog offers them.
enum class CardsType { VCard4, VCard3, Csv };
struct SavedCards
{
    QString path; // empty when cancelled
    CardsType type = CardsType::VCard4;
};
// Asks where to export cards, and as what: the type is the one chosen in the
// dialog; a name typed without an extension gets the type's.
SavedCards saveCards(QWidget *owner, const QString &suggestedName);

// Test mode: no dialog is shown; each call takes the next scripted answer
// (an empty text, as a cancel, when none is left) and is counted.
void setTestMode(bool on);
void script(const QStringList &answers);
// The next save dialog's answer: the path, and the file type chosen.
void scriptSave(const QString &path, CardsType type);
int asked();

} // namespace filedlg
