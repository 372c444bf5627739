#pragma once
// The picture-open dialog: the platform's file dialog with a preview of the
// chosen picture, behind one call that tests answer from a script.

#include <QString>
#include <QStringList>

class QWidget;

namespace filedlg {

// Asks for a picture file; an empty text when the user cancelled.
QString openPicture(QWidget *owner, const QString &caption = QString());

// Test mode: no dialog is shown; each call takes the next scripted answer
// (an empty text, as a cancel, when none is left) and is counted.
void setTestMode(bool on);
void script(const QStringList &answers);
int asked();

} // namespace filedlg
