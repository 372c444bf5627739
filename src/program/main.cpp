#include "windowset.h"

#include "app/application.h"
#include "app/icons.h"
#include "app/paths.h"
#include "app/session.h"

#include "db/ibase.h"
#include "register/mainwindow.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>
#include <cstdlib>

int main(int argc, char **argv)
{
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
    // Every change is committed where it is made: ending at once loses
    // nothing stored. The connection ends first, between engine calls.
    watchTerminationSignals([&session] {
        try {
            session.db.IBDbase.close();
        } catch (...) {
        }
        std::_Exit(0);
    });
    const Forms forms = createForms(session);
    TMF *mf = forms.MF;
    mf->show();
    // The start-up sequence runs once the main window is on the screen.
    QTimer::singleShot(0, mf, [mf] { guardedCall([mf] { mf->FormActivate(); }); });
    const int rc = app.exec();
    destroyForms(forms);
    return rc;
}
