// The main window: its layout, the start-up and the exit.
#include "mainwindow.h"
#include "db/schema.h"
#include "core/listmodel.h"

#include "app/access.h"
#include "app/application.h"
#include "app/editablebox.h"
#include "app/filedialog.h"
#include "app/icons.h"
#include "app/keys.h"
#include "app/recordgrid.h"
#include "app/messages.h"
#include "app/paths.h"
#include "app/rights.h"
#include "app/session.h"
#include "app/settings.h"
#include "app/shell.h"
#include "cardfiles/cardimport.h"
#include "cardfiles/exportcards.h"
#include "core/cardstore.h"
#include "core/listservice.h"
#include "core/contactlist.h"
#include "core/refvalues.h"
#include "core/photos.h"
#include "core/tempfolder.h"
#include "core/users.h"
#include "printout/cardexport.h"

#include <QAction>
#include <QApplication>
#include <QActionGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenuBar>
#include <QPainter>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QScopeGuard>
#include <limits>

TMF::TMF(Session &session) : db(session.db), m_ctx(session.context)
{
    setObjectName(QStringLiteral("TMF"));
    setWindowTitle(QStringLiteral("Zentrax 1.0.2"));
    buildMenu();
    buildToolBar();
    auto *central = new QWidget(this);
    auto *v = new QVBoxLayout(central);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(0);
    v->addWidget(buildFilterBand());
    buildGrid();
    v->addWidget(Grid, 1);
    setCentralWidget(central);
    buildStatusBar();

    resize(945, 741);
    // Narrower, the status bar's fixed panels would overlap.
    setMinimumWidth(statusBar()->minimumSizeHint().width() + 16);
    if (QScreen *s = screen())
        move(s->availableGeometry().center() - rect().center());
    onEndProgram = [] { QCoreApplication::exit(0); };
    connectList();
    FormCreate();
}

TMF::~TMF() = default;

void TMF::buildMenu()
{
    auto act = [this](const char *name, const QString &text) {
        auto *a = new QAction(text, this);
        a->setObjectName(QLatin1String(name));
        return a;
    };
    QMenu *mdb = menuBar()->addMenu(QStringLiteral("База данных"));
    N4 = act("N4", QStringLiteral("Новая запись"));
    N15 = act("N15", QStringLiteral("Редактирование"));
    N3 = act("N3", QStringLiteral("Просмотр"));
    N17 = act("N17", QStringLiteral("Удалить"));
    N2 = act("N2", QStringLiteral("Управление пользователями"));
    N20 = act("N20", QStringLiteral("Выход из программы"));
    mdb->addAction(N4);
    mdb->addAction(N15);
    mdb->addAction(N3);
    mdb->addSeparator();
    mdb->addAction(N17);
    mdb->addSeparator();
    N21 = act("N21", QStringLiteral("Импорт карточек..."));
    N22 = act("N22", QStringLiteral("Экспорт карточек..."));
    mdb->addAction(N21);
    mdb->addAction(N22);
    N23 = act("N23", QStringLiteral("Поиск дубликатов..."));
    mdb->addAction(N23);
    N24 = act("N24", QStringLiteral("Телефоны и почта..."));
    mdb->addAction(N24);
    mdb->addSeparator();
    mdb->addAction(N2);
    N19 = mdb->addSeparator();
    N19->setObjectName(QStringLiteral("N19"));
    mdb->addAction(N20);

    QMenu *mref = menuBar()->addMenu(QStringLiteral("Справочники"));
    N13 = act("N13", QStringLiteral("Организации"));
    N14 = act("N14", QStringLiteral("Отделы"));
    N18 = act("N18", QStringLiteral("Должности"));
    mref->addAction(N13);
    mref->addAction(N14);
    mref->addAction(N18);

    QMenu *msort = menuBar()->addMenu(QStringLiteral("Сортировка"));
    m_sortGroup = new QActionGroup(this);
    m_sortGroup->setExclusive(true);
    N6 = act("N6", QStringLiteral("По имени"));
    N7 = act("N7", QStringLiteral("По месту работы"));
    N8 = act("N8", QStringLiteral("По должности"));
    for (QAction *a : {N6, N7, N8}) {
        a->setCheckable(true);
        m_sortGroup->addAction(a);
        msort->addAction(a);
    }
    N6->setChecked(true);
    setAdminMenuVisible(false); // shown to the administrator once logged in

    QMenu *mhelp = menuBar()->addMenu(QStringLiteral("Помощь"));
    N10 = act("N10", QStringLiteral("О программе"));
    mhelp->addAction(N10);

    onSignal(N4, &QAction::triggered, this, [this] { N4Click(); });
    onSignal(N15, &QAction::triggered, this, [this] { N15Click(); });
    onSignal(N3, &QAction::triggered, this, [this] { N3Click(); });
    onSignal(N17, &QAction::triggered, this, [this] { N17Click(); });
    onSignal(N2, &QAction::triggered, this, [this] { N2Click(); });
    onSignal(N21, &QAction::triggered, this, [this] { ImportCards(); });
    onSignal(N23, &QAction::triggered, this, [this] { N23Click(); });
    onSignal(N24, &QAction::triggered, this, [this] { N24Click(); });
    onSignal(N22, &QAction::triggered, this, [this] { ExportCards(); });
    onSignal(N20, &QAction::triggered, this, [this] { tb_exitClick(); });
    onSignal(N13, &QAction::triggered, this, [this] { N13Click(); });
    onSignal(N14, &QAction::triggered, this, [this] { N14Click(); });
    onSignal(N18, &QAction::triggered, this, [this] { N18Click(); });
    onSignal(N6, &QAction::triggered, this, [this] { N6Click(); });
    onSignal(N7, &QAction::triggered, this, [this] { N7Click(); });
    onSignal(N8, &QAction::triggered, this, [this] { N8Click(); });
    onSignal(N10, &QAction::triggered, this, [this] { N10Click(); });
}

void TMF::buildToolBar()
{
    ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setIconSize(QSize(32, 32));
    ToolBar1->toggleViewAction()->setEnabled(false);
    setContextMenuPolicy(Qt::NoContextMenu);
    addToolBar(Qt::TopToolBarArea, ToolBar1);

    tb_new = makeToolButton(ToolBar1, "tb_new", icons::Id::New, QStringLiteral("Новая запись"));
    tb_edt = makeToolButton(ToolBar1, "tb_edt", icons::Id::Edit, QStringLiteral("Редактирование"));
    tb_look = makeToolButton(ToolBar1, "tb_look", icons::Id::View, QStringLiteral("Просмотр"));
    tb_exp = makeToolButton(ToolBar1, "tb_exp", icons::Id::Export, QStringLiteral("Печатная форма"));
    tb_del = makeToolButton(ToolBar1, "tb_del", icons::Id::Delete, QStringLiteral("Удалить"));
    tb_exit = makeToolButton(ToolBar1, "tb_exit", icons::Id::Exit, QStringLiteral("Выход"));
    tb6 = new QWidget(ToolBar1);
    tb6->setObjectName(QStringLiteral("tb6"));
    tb6->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);

    ToolBar1->addWidget(toolBarGap(ToolBar1, 7));
    ToolBar1->addWidget(tb_new);
    ToolBar1->addWidget(toolBarGap(ToolBar1, 7));
    ToolBar1->addWidget(tb_edt);
    ToolBar1->addWidget(toolBarGap(ToolBar1, 7));
    ToolBar1->addWidget(tb_look);
    ToolBar1->addWidget(toolBarGap(ToolBar1, 7));
    ToolBar1->addWidget(tb_exp);
    ToolBar1->addWidget(toolBarGap(ToolBar1, 31));
    ToolBar1->addWidget(tb_del);
    ToolBar1->addWidget(tb6);
    ToolBar1->addWidget(tb_exit);

    onSignal(tb_new, &QToolButton::clicked, this, [this] { N4Click(); });
    onSignal(tb_edt, &QToolButton::clicked, this, [this] { N15Click(); });
    onSignal(tb_look, &QToolButton::clicked, this, [this] { N3Click(); });
    onSignal(tb_del, &QToolButton::clicked, this, [this] { N17Click(); });
    onSignal(tb_exp, &QToolButton::clicked, this, [this] { tb_expClick(); });
    onSignal(tb_exit, &QToolButton::clicked, this, [this] { tb_exitClick(); });
}

QWidget *TMF::buildFilterBand()
{
    auto *band = new QWidget(this);
    band->setObjectName(QStringLiteral("FilterBand"));
    band->setFixedHeight(67);
    auto *g = new QGridLayout(band);
    g->setContentsMargins(8, 2, 8, 2);
    g->setHorizontalSpacing(6);
    g->setVerticalSpacing(1);

    auto box = [&](QLineEdit *&ed, const char *name, const QString &label, int col) {
        auto *lb = new QLabel(label, band);
        ed = new QLineEdit(band);
        ed->setObjectName(QLatin1String(name));
        ed->setClearButtonEnabled(false);
        ed->setMaxLength(std::numeric_limits<int>::max()); // a long paste is told as too long, not cut
        lb->setBuddy(ed);
        setAccessible(ed, label);
        g->addWidget(lb, 0, col);
        g->addWidget(ed, 1, col);
    };
    box(ed_name, "ed_name", QStringLiteral("Имя"), 0);
    box(ed_work, "ed_work", QStringLiteral("Место работы"), 1);
    auto *lbPost = new QLabel(QStringLiteral("Должность"), band);
    bx_post = new QComboBox(band);
    bx_post->setObjectName(QStringLiteral("bx_post"));
    makeTypedTextBox(bx_post);
    lbPost->setBuddy(bx_post);
    setAccessible(bx_post, QStringLiteral("Должность"));
    g->addWidget(lbPost, 0, 2);
    g->addWidget(bx_post, 1, 2);
    box(ed_mail, "ed_mail", QStringLiteral("e-mail"), 3);
    box(ed_tel, "ed_tel", QStringLiteral("Телефон"), 4);

    BitBtn1 = new QToolButton(band);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setIcon(icons::get(icons::Id::Clear));
    BitBtn1->setIconSize(QSize(18, 18));
    BitBtn1->setToolTip(QStringLiteral("Очистить поля поиска"));
    BitBtn1->setFocusPolicy(Qt::NoFocus);
    setAccessible(BitBtn1, QStringLiteral("Очистить поля поиска"));
    g->addWidget(BitBtn1, 1, 5);

    check_pos = new QCheckBox(QStringLiteral("Поиск с произвольной позиции"), band);
    check_pos->setObjectName(QStringLiteral("check_pos"));
    setAccessible(check_pos, check_pos->text());
    g->addWidget(check_pos, 2, 0, 1, 3);

    for (int c = 0; c < 5; ++c)
        g->setColumnStretch(c, 1);
    g->setColumnMinimumWidth(6, 16);

    lb_bdate = new QLabel(QStringLiteral("Дни рождения - "), band);
    lb_bdate->setObjectName(QStringLiteral("lb_bdate"));
    MonthBox = new QComboBox(band);
    MonthBox->setObjectName(QStringLiteral("MonthBox"));
    MonthBox->addItems({QStringLiteral("январь"), QStringLiteral("февраль"), QStringLiteral("март"),
                        QStringLiteral("апрель"), QStringLiteral("май"), QStringLiteral("июнь"), QStringLiteral("июль"),
                        QStringLiteral("август"), QStringLiteral("сентябрь"), QStringLiteral("октябрь"),
                        QStringLiteral("ноябрь"), QStringLiteral("декабрь")});
    MonthBox->setMaxVisibleItems(12);
    setAccessible(MonthBox, QStringLiteral("Месяц дней рождения"));
    btDate = new QToolButton(band);
    btDate->setObjectName(QStringLiteral("btDate"));
    btDate->setIcon(icons::get(icons::Id::Calendar));
    btDate->setIconSize(QSize(20, 20));
    btDate->setToolTip(QStringLiteral("Дни рождения"));
    btDate->setFocusPolicy(Qt::NoFocus);
    setAccessible(btDate, QStringLiteral("Дни рождения"));
    lb_bdate->setBuddy(MonthBox);
    g->addWidget(lb_bdate, 0, 7, 1, 2);
    g->addWidget(MonthBox, 1, 7);
    g->addWidget(btDate, 1, 8);

    for (QLineEdit *e : {ed_name, ed_work, ed_mail, ed_tel})
        onSignal(e, &QLineEdit::textChanged, this, [this] { ed_nameChange(); });
    onSignal(bx_post, &QComboBox::editTextChanged, this, [this] { ed_nameChange(); });
    // toggled, not clicked: a screen reader's toggle action changes the box too.
    onSignal(check_pos, &QCheckBox::toggled, this, [this] { ed_nameChange(); });
    onSignal(BitBtn1, &QToolButton::clicked, this, [this] { BitBtn1Click(); });
    onSignal(MonthBox, &QComboBox::currentIndexChanged, this, [this] { MonthBoxChange(); });
    onSignal(btDate, &QToolButton::clicked, this, [this] { btDateClick(); });
    return band;
}

void TMF::buildGrid()
{
    Grid = new QTableView(this);
    Grid->setObjectName(QStringLiteral("Grid"));
    setAccessible(Grid, QStringLiteral("Список карточек"));
    m_list = new core::ListService(db, this);
    m_model = &m_list->model();
    Grid->setModel(m_model);
    Grid->setItemDelegate(new GridDelegate(this));
    setupRecordGrid(Grid, QColor(255, 255, 198), 3);
    Grid->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    Grid->setShowGrid(true);
    Grid->setWordWrap(true);
    Grid->verticalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    Grid->hideColumn(0);
    const int widths[] = {0, 214, 200, 140, 95, 90, 170};
    for (int c = 1; c < ListModel::kColumns; ++c)
        Grid->setColumnWidth(c, widths[c]);
    Grid->installEventFilter(this);
    Grid->viewport()->installEventFilter(this);
    onSignal(Grid, &QTableView::doubleClicked, this, [this] { GridDblClick(); });
}

void TMF::buildStatusBar()
{
    QStatusBar *bar = statusBar();
    bar->setObjectName(QStringLiteral("sBar"));
    bar->setSizeGripEnabled(true);
    const int widths[] = {150, 150, 150, 300, 0};
    for (int i = 0; i < 5; ++i) {
        sBar[i] = new QLabel(bar);
        sBar[i]->setObjectName(QStringLiteral("sBar%1").arg(i));
        sBar[i]->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
        if (widths[i] > 0)
            sBar[i]->setFixedWidth(widths[i]);
        bar->addWidget(sBar[i], widths[i] > 0 ? 0 : 1);
    }
    m_progress = new QProgressBar(bar);
    m_progress->setObjectName(QStringLiteral("FillProgress"));
    m_progress->setRange(0, 0);
    m_progress->setFixedWidth(160);
    m_progress->setTextVisible(false);
    setAccessible(m_progress, QStringLiteral("Загрузка списка"));
    bar->addPermanentWidget(m_progress);
    m_progress->hide();
}

// ------------------------------------------------------------ start-up, exit

void TMF::FormCreate()
{
    m_ctx.session.FirstActivation = true;
    m_ctx.session.SessionUser.id = -1;
    m_ctx.session.SessionUser.fullName.clear();
}

void TMF::FormActivate()
{
    if (!m_ctx.session.FirstActivation)
        return;
    m_ctx.session.FirstActivation = false;
    LoadSettings(m_ctx.session.SessionUser);
    if (!OpenDatabase())
        return;
    m_loggingIn = true;
    m_list->setLive(false);
    emit loginRequested(); // answered at once: the login window, modal
    m_loggingIn = false;
    if (m_ctx.session.SessionUser.id == -1) {
        EndProgram();
        return;
    }
    showSessionUser();
    if (core::Users::isAdministrator(m_ctx.session.SessionUser.login))
        offerUpgrade();
    if (db.IBDbase.connected()) {
        FillList();
        FillRefLists();
        {
            const QSignalBlocker block(MonthBox);
            MonthBox->setCurrentIndex(QDate::currentDate().month() - 1);
        }
        GetBirthDays();
    }
    Grid->setFocus(); // the list keys (Enter, F4, F7) work at once
}

void TMF::offerUpgrade()
{
    const QList<schema::UpgradeStep> pending = schema::pendingUpgrade(db.IBDbase);
    if (pending.isEmpty())
        return;
    QStringList lines;
    for (const schema::UpgradeStep &s : pending)
        lines << QStringLiteral("– %1: %2.").arg(s.adds, s.brings);
    if (!msg::askYesNo(
            this,
            QStringLiteral("База данных создана более ранней версией программы. Обновление добавит в неё:\r") +
                lines.join(QLatin1Char('\r')) +
                QStringLiteral("\rДанные карточек и пользователей не меняются; другие копии программы "
                               "могут продолжать работу.\rОбновить базу данных сейчас? Если ответить "
                               "«Нет», программа работает с базой как есть, а обновить её можно при "
                               "следующем входе или командой zentrax-makedb --upgrade."),
            QStringLiteral("Обновление базы данных")))
        return;
    const schema::UpgradeReport report = schema::upgrade(db.IBDbase);
    // Read anew for the database as it is now.
    m_list->forgetIndex();
    if (report.complete())
        msg::show(this, QStringLiteral("База данных обновлена.\r") + report.text(),
                  QStringLiteral("Обновление базы данных"), msg::Buttons::Ok);
    else
        msg::error(this, report.text());
}

bool TMF::OpenDatabase()
{
    switch (m_ctx.session.OpenDatabase(this)) {
    case Session::Opened::Yes:
        return true;
    case Session::Opened::EndProgram:
        EndProgram();
        return false;
    case Session::Opened::No:
        break;
    }
    return false;
}

void TMF::ClearTemp()
{
    // The files in temp/, this copy's own scratch folder with the printouts and
    // partial copies in it, and those of copies that have ended; other copies sharing the
    // program folder keep theirs. Nothing is reached through a link.
    const QString temp = paths::join(m_ctx.session.programFolder, QStringLiteral("temp"));
    if (QFileInfo(temp).isSymLink())
        return;
    // Files lying in temp/ itself belong to no running copy: they all go.
    core::clearTempFolder(temp);
    m_ctx.session.removeTempFolder();
    // A running copy holds the lock of its folder, on this machine or another
    // one with the same name; the folder of a copy that ended without its exit
    // (the close box, a crash) can be locked and goes.
    // Folders of older versions have no lock: those of this machine's ended
    // runs are known by the host name and a process that no longer runs.
    const QString own = paths::tempFolderName();
    const QString host = own.left(own.lastIndexOf(QLatin1Char('-')) + 1);
    // Names an ended copy claimed in the photo folder and never filled (its
    // import killed before the cards committed) go with its folder; kept for
    // a later clean-up while the database cannot say which a card names.
    core::PhotoStore photos(m_ctx.db.access, m_ctx.session.PhotoFolder);
    auto releaseClaims = [&photos](const QString &folder) {
        try {
            photos.releaseClaims(folder);
            return true;
        } catch (const db::DbError &) {
            return false;
        }
    };
    for (const QFileInfo &f : QDir(temp).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks)) {
        if (core::removeIfEnded(f.absoluteFilePath(), releaseClaims) != core::Scratch::NoLock)
            continue;
        bool ok = false;
        const qint64 pid = f.fileName().mid(host.size()).toLongLong(&ok);
        if (f.fileName().startsWith(host) && ok && !paths::processRunning(pid)) {
            core::clearTempFolder(f.absoluteFilePath());
            QDir().rmdir(f.absoluteFilePath()); // gone once empty
        }
    }
}

void TMF::tb_exitClick()
{
    SaveSettings(m_ctx.session.SessionUser);
    ClearTemp();
    EndProgram();
}

void TMF::EndProgram()
{
    m_ended = true;
    if (onEndProgram)
        onEndProgram();
}

void TMF::closeEvent(QCloseEvent *e)
{
    // Closing by the close box ends the program without saving the settings.
    QMainWindow::closeEvent(e);
    if (e->isAccepted())
        EndProgram();
}

void TMF::showSessionUser()
{
    sBar[0]->setText(QStringLiteral(" Enter - Просмотр"));
    sBar[1]->setText(QStringLiteral(" F4 - Редактирование"));
    sBar[2]->setText(QStringLiteral(" F7 - Новая запись"));
    sBar[3]->setText(QStringLiteral("  ") + m_ctx.session.SessionUser.fullName);
    sBar[4]->setText(m_ctx.session.SessionUser.fullRights() ? QStringLiteral("  Доступ: полный")
                                                            : QStringLiteral("  Доступ: чтение"));
}

void TMF::setAdminMenuVisible(bool visible)
{
    N2->setVisible(visible);
    N19->setVisible(visible);
}
