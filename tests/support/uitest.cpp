#include "uitest.h"

#include "app/context.h"
#include "program/windowset.h"
#include "app/messages.h"
#include "app/filedialog.h"
#include "app/paths.h"
#include "app/session.h"
#include "app/shell.h"
#include "core/listmodel.h"
#include "register/mainwindow.h"

#include <QApplication>
#include <QDir>
#include <QHash>
#include <QDialog>
#include <QTimer>
#include <QWidget>
#include <QtTest>

namespace uitest {

namespace {
// The windows of each main window a test made.
QHash<TMF *, Forms> &made()
{
    static QHash<TMF *, Forms> m;
    return m;
}
} // namespace

void typeText(QWidget *w, const QString &text)
{
    for (QChar c : text)
        QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

QStringList texts()
{
    QStringList t;
    for (const auto &s : msg::takeShown())
        t << s.text;
    return t;
}

const Forms &forms(TMF *mf)
{
    const auto it = made().constFind(mf);
    if (it == made().cend())
        qFatal("no windows made with this main window");
    return *it;
}

Program::Program()
{
    testdb::init();
    folder = root.filePath(QStringLiteral("program"));
    QDir().mkpath(folder);
    appData = root.filePath(QStringLiteral("appdata"));
    QDir().mkpath(appData);
    iniPath = appData + QStringLiteral("/zentrax.ini");
    qputenv("APPDATA", appData.toLocal8Bit());
    dbPath = testdb::freshDatabase(folder);
    QDir().mkpath(folder + QStringLiteral("/Forms"));
    QFile::copy(QStringLiteral(ZENTRAX_PROGRAM_DIR "/Forms/foto.png"), folder + QStringLiteral("/Forms/foto.png"));
    msg::setTestMode(true);
    msg::setObserver({});
    shell::setTestMode(true);
    filedlg::setTestMode(true);
}

Program::~Program()
{
    if (mf)
        destroyForms(forms);
    msg::setTestMode(false);
    shell::setTestMode(false);
    filedlg::setTestMode(false);
}

TMF *Program::createWindows()
{
    session = std::make_unique<Session>(folder);
    forms = createForms(*session);
    mf = forms.MF;
    made()[mf] = forms;
    mf->onEndProgram = [] {};
    return mf;
}

void Program::addUser(const QString &fio, const QString &login, const QString &pass, const QString &level) const
{
    testdb::addUser(dbPath, fio, login, pass, level);
}

qint64 Program::addCard(const QList<QPair<QString, QString>> &columns) const
{
    return testdb::addCard(dbPath, columns);
}

void Program::addCards(int count, const std::function<QList<QPair<QString, QString>>(int)> &make) const
{
    testdb::addCards(dbPath, count, make);
}

void Program::loginDirect(const QString &login, const QString &level)
{
    if (!mf)
        createWindows();
    session->FirstActivation = false;
    QVERIFY(mf->OpenDatabase());
    session->SessionUser.id = 1;
    session->SessionUser.login = login;
    session->SessionUser.level = level;
    session->SessionUser.fullName = QStringLiteral("Тестовый пользователь");
    mf->setAdminMenuVisible(login == QLatin1String("admin"));
    mf->showSessionUser();
}

QStringList whileModal(const std::function<void()> &action, const std::function<void(QWidget *)> &onShown)
{
    QStringList shown;
    QTimer timer;
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        QWidget *w = QApplication::activeModalWidget();
        if (!w || !w->isVisible())
            return;
        shown << QString::fromLatin1(w->metaObject()->className());
        if (onShown)
            onShown(w);
        if (w->isVisible())
            if (auto *d = qobject_cast<QDialog *>(w))
                d->done(QDialog::Rejected);
    });
    timer.start();
    action();
    timer.stop();
    return shown;
}

bool inOwnWindow(const QObject *top, const QObject *o)
{
    for (const QObject *p = o; p && p != top; p = p->parent()) {
        if (!p->isWidgetType())
            continue;
        const auto *w = static_cast<const QWidget *>(p);
        if (w->isWindow() && w->windowType() != Qt::Popup)
            return false;
    }
    return true;
}

QStringList listColumn(TMF *mf, int col)
{
    QStringList out;
    ListModel *m = mf->model();
    for (int r = 0; r < m->cardCount(); ++r)
        out << m->cell(r, col);
    return out;
}

} // namespace uitest
