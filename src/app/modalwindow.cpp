#include "modalwindow.h"
#include "messages.h"

void ModalWindow::markModified(bool &modified)
{
    if (!modified && !windowTitle().endsWith(QLatin1String("(!)"))) // marked once, however often asked
        setWindowTitle(windowTitle() + QStringLiteral("(!)"));
    modified = true;
}

bool ModalWindow::askSaveChanges()
{
    // The question reads "сохраненить" as users of the program know it.
    return msg::askYesNo(this, QStringLiteral("Запись была изменена, сохраненить изменения?"),
                         QStringLiteral("Внимание!"));
}
