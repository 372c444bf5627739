// zentrax-bench-startup FOLDER: the program's own start, timed by zentrax-bench
// from outside. The windows, the start-up sequence, the login window
// (answered as a user would) and the filled list, with the database in FOLDER;
// each stage is marked on stdout ("login", then "list N").

#include "report.h"

#include <firebird/Interface.h>

#include "app/application.h"
#include "program/windowset.h"
#include "app/loginwindow.h"
#include "app/paths.h"
#include "app/session.h"
#include "core/listmodel.h"
#include "db/ibase.h"
#include "register/mainwindow.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

namespace {

int startup(const QString &folder)
{
    QTemporaryDir appData;
    qputenv("APPDATA", appData.path().toLocal8Bit());
    Session session(folder);
    const Forms forms = createForms(session);
    TMF *mf = forms.MF;
    mf->onEndProgram = [] {};
    mf->show();
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *lf = qobject_cast<TLF *>(QApplication::activeModalWidget());
        if (!lf)
            return;
        poll.stop();
        std::printf("login\n");
        std::fflush(stdout);
        lf->PBox->setEditText(QStringLiteral("admin"));
        lf->ed_pass->setText(QStringLiteral("admin"));
        lf->bt_login->click();
    });
    poll.start();
    QTimer::singleShot(0, mf, [mf] {
        mf->FormActivate();
        std::printf("list %d\n", mf->model()->cardCount());
        std::fflush(stdout);
        QCoreApplication::exit(0);
    });
    const int rc = QApplication::exec();
    destroyForms(forms);
    return rc;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("FIREBIRD", QByteArray(ZENTRAX_PROGRAM_DIR "/firebird"));
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ZApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: zentrax-bench-startup FOLDER\n");
        return 2;
    }
    return bench::runReported([&] { return startup(QString::fromLocal8Bit(argv[1])); });
}
