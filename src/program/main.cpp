#include "windowset.h"

#include "app/application.h"
#include "app/icons.h"
#include "app/paths.h"
#include "app/session.h"

#include "core/ending.h"
#include "db/ibase.h"
#include "register/mainwindow.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QProgressDialog>
#include <QTimer>
#include <QTranslator>
#include <cstdlib>

namespace {

// A termination request (at logout, from the service manager) ends the
// program as its exit does, once the work under way has stopped. A long work
// that shows its progress is cancelled: an import stops between two cards and
// commits the batch of cards it holds (it is waited for while its batch is
// open), an export leaves its file unwritten. Then the main window closes and
// the engine detaches as the windows are destroyed. With a modal window open
// (a question, a card being edited) nothing waits for its answer: the
// connection is closed and the program ends at once; every change is committed
// where it is made, so only what is typed in that window is lost.
void endProgram(TMF *mf, Session &session)
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *progress = qobject_cast<QProgressDialog *>(w); progress && !progress->wasCanceled())
            progress->cancel();
    if (session.db.IBTrans.batch) {
        QTimer::singleShot(50, mf, [mf, &session] { endProgram(mf, session); });
        return;
    }
    if (QApplication::activeModalWidget() == nullptr && mf->close())
        return;
    try {
        session.db.IBDbase.close();
    } catch (...) {
    }
    std::_Exit(0);
}

} // namespace

int main(int argc, char **argv)
{
    core::blockEndingSignals();
    ZApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zentrax"));
    QApplication::setApplicationVersion(QStringLiteral("1.0.2"));
    // Every window carries the program's icon; the desktop's menu entry is
    // zentrax.desktop.
    QApplication::setWindowIcon(icons::get(icons::Id::Program));
    QGuiApplication::setDesktopFileName(QStringLiteral("zentrax"));
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    QTranslator qtRu;
    if (qtRu.load(QStringLiteral("qtbase_ru"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtRu);

    db::prepareEngine(paths::executableFolder());
    Session session; // outlives every window
    const Forms forms = createForms(session);
    TMF *mf = forms.MF;
    watchTerminationSignals([mf, &session] { endProgram(mf, session); });
    mf->show();
    // The start-up sequence runs once the main window is on the screen.
    QTimer::singleShot(0, mf, [mf] { guardedCall([mf] { mf->FormActivate(); }); });
    const int rc = app.exec();
    // The windows are closed and every change committed: the engine gets a
    // few seconds to let go of the database, which it may never do when the
    // file was replaced or damaged under it.
    core::endWithin(core::kEngineEndMs, rc);
    destroyForms(forms);
    return rc;
}
