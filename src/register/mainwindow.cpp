#include "mainwindow.h"
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
#include "core/cardstore.h"
#include "core/cardimport.h"
#include "core/contactlist.h"
#include "core/exportcards.h"
#include "core/refvalues.h"
#include "core/searchindex.h"
#include "core/listfetch.h"
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
    // A copy idle for long keeps its "any position" index current from the
    // change log, rather than reading every card at its next search.
    auto *keepUp = new QTimer(this);
    connect(keepUp, &QTimer::timeout, this, [this] {
        if (!m_search || !m_search->ready())
            return;
        try {
            m_search->sync();
        } catch (const db::DbError &) {
            // Told at the next search, if it lasts.
        }
    });
    keepUp->start(60 * 1000);
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
                        QStringLiteral("апрель"), QStringLiteral("май"), QStringLiteral("июнь"),
                        QStringLiteral("июль"), QStringLiteral("август"), QStringLiteral("сентябрь"),
                        QStringLiteral("октябрь"), QStringLiteral("ноябрь"), QStringLiteral("декабрь")});
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
    m_model = new ListModel(this);
    m_fetch = std::make_unique<core::ListFetch>(*m_model);
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
    if (!m_ctx.session.FirstActivation) {
        if (m_ctx.session.RefreshOnActivate)
            FillList();
        return;
    }
    m_ctx.session.FirstActivation = false;
    m_ctx.session.RefreshOnActivate = false;
    LoadSettings(m_ctx.session.SessionUser);
    if (!OpenDatabase())
        return;
    m_loggingIn = true;
    emit loginRequested(); // answered at once: the login window, modal
    m_loggingIn = false;
    if (m_ctx.session.SessionUser.id == -1) {
        EndProgram();
        return;
    }
    showSessionUser();
    if (!m_ctx.session.duplicateLogins.isEmpty() && core::Users::isAdministrator(m_ctx.session.SessionUser.login))
        msg::error(this, QStringLiteral("Несколько пользователей носят один и тот же логин: %1.\rВойти в программу "
                                        "под таким логином может только один из них. Дайте им разные логины в "
                                        "«Управление пользователями».")
                             .arg(QStringLiteral("«") + m_ctx.session.duplicateLogins.join(QStringLiteral("», «")) +
                                  QStringLiteral("»")));
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
    for (const QFileInfo &f : QDir(temp).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks)) {
        if (core::removeIfEnded(f.absoluteFilePath()) != core::Scratch::NoLock)
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
    sBar[4]->setText(m_ctx.session.SessionUser.fullRights() ? QStringLiteral("  Доступ: полный") : QStringLiteral("  Доступ: чтение"));
}

void TMF::setAdminMenuVisible(bool visible)
{
    N2->setVisible(visible);
    N19->setVisible(visible);
}

// -------------------------------------------------------------------- list

ListSort TMF::currentSort() const
{
    if (N7->isChecked())
        return ListSort::Work;
    if (N8->isChecked())
        return ListSort::Post;
    return ListSort::Name;
}

ListFilter TMF::currentFilter() const
{
    ListFilter f;
    f.name = ed_name->text();
    f.work = ed_work->text();
    f.post = bx_post->currentText();
    f.mail = ed_mail->text();
    f.tel = ed_tel->text();
    f.contains = check_pos->isChecked();
    return f;
}

void TMF::FillList()
{
    if (m_loggingIn || m_ctx.session.FirstActivation)
        return;
    const ListFilter f = currentFilter();
    if (f.contains) {
        // "Any position": the index in memory answers without reading every
        // card; it is read once, when the box is ticked first.
        if (!m_search)
            m_search = std::make_unique<core::SearchIndex>(db);
        const bool loading = !m_search->ready();
        if (loading)
            QApplication::setOverrideCursor(Qt::WaitCursor);
        std::optional<std::vector<const char *>> rows;
        const auto restore = qScopeGuard([loading] {
            if (loading)
                QApplication::restoreOverrideCursor();
        });
        rows = m_search->find(f, currentSort());
        if (rows) {
            showIndexRows(std::move(*rows));
            return;
        }
    }
    core::openList(db.iBase, f, currentSort());
    fillGrid(db.iBase, true);
}

// Shows the index's first screen of rows at once and the rest from the event
// loop; then the index looks whether it is still current (see settleIfDue).
void TMF::showIndexRows(std::vector<const char *> rows)
{
    m_fetch->begin(std::move(rows), m_search->version());
    showRows([&] { m_fetch->showFirst(); }, true);
    const quint64 generation = m_fillGeneration;
    QTimer::singleShot(0, this, [this, generation] {
        guardedCall([&] {
            if (generation != m_fillGeneration)
                return; // another fill replaced this one
            finishFill();
            if (m_search && m_search->settleIfDue())
                FillList();
        });
    });
}

// Shows the first rows of the query at once; a long result follows in slices
// from the event loop, so the window stays responsive.
void TMF::fillGrid(db::IBQuery &q, bool resetHeights)
{
    m_fetch->begin(q);
    showRows([&] { m_fetch->showFirst(); }, resetHeights);
    if (!m_fetch->pending())
        return;
    m_fillTimer.start();
    const quint64 generation = m_fillGeneration;
    QTimer::singleShot(0, this, [this, generation] { guardedCall([&] { continueFill(generation); }); });
}

void TMF::showRows(const std::function<void()> &fillModel, bool resetHeights)
{
    const int row = m_filling ? m_wantedRow : selectedRow();
    ++m_fillGeneration;
    m_progress->hide();
    QList<int> heights;
    if (!resetHeights) { // the birthday list keeps the rows' heights
        const int n = std::min(m_model->rowCount(), 2000);
        for (int r = 0; r < n; ++r)
            heights << Grid->rowHeight(r);
    }
    m_pendingHeights.clear();
    fillModel();
    m_filling = m_fetch->pending();
    for (int r : std::exchange(m_grownRows, {}))
        if (r < m_model->rowCount())
            Grid->setRowHeight(r, 18);
    for (int r = 0; r < heights.size() && r < m_model->rowCount(); ++r)
        if (heights[r] != 18) {
            Grid->setRowHeight(r, heights[r]);
            m_grownRows.append(r);
        }
    m_refillTimer.start();
    m_wantedRow = std::max(row, 0);
    m_clampedRow = std::min(m_wantedRow, m_model->rowCount() - 1);
    selectRow(m_clampedRow);
}

void TMF::continueFill(quint64 generation)
{
    if (generation != m_fillGeneration || !m_filling)
        return;
    bool more = false;
    {
        // Whatever happens, the rows that arrived are shown and the wanted row kept.
        const auto shown = qScopeGuard([&] {
            keepWantedRow();
            if (!more)
                endFill();
        });
        more = m_fetch->next();
    }
    if (!more)
        return;
    if (m_fillTimer.elapsed() > 500 && !m_progress->isVisible())
        m_progress->show();
    m_progress->setToolTip(QStringLiteral("Загружено записей: %1").arg(m_model->cardCount()));
    QTimer::singleShot(0, this, [this, generation] { guardedCall([&] { continueFill(generation); }); });
}

void TMF::keepWantedRow()
{
    // The kept row number arrives: select it, unless the user has moved meanwhile.
    if (m_wantedRow > m_clampedRow && selectedRow() == m_clampedRow && m_wantedRow < m_model->rowCount())
        selectRow(m_clampedRow = m_wantedRow);
}

void TMF::finishFill()
{
    if (!m_filling)
        return;
    const bool kept = m_fetch->finish(m_search ? m_search->version() : 0);
    endFill();
    if (!kept) {
        FillList();
        return;
    }
    keepWantedRow();
}

void TMF::endFill()
{
    m_fetch->end();
    m_filling = false;
    m_progress->hide();
}

int TMF::selectedRow() const
{
    return currentGridRow(Grid);
}

void TMF::selectRow(int row)
{
    selectGridRow(Grid, row);
}

QString TMF::selectedId() const
{
    return m_model->id(Grid->currentIndex().isValid() ? Grid->currentIndex().row() : -1);
}

void TMF::ed_nameChange()
{
    FillList();
}

void TMF::N6Click()
{
    N6->setChecked(true);
    FillList();
}

void TMF::N7Click()
{
    N7->setChecked(true);
    FillList();
}

void TMF::N8Click()
{
    N8->setChecked(true);
    FillList();
}

void TMF::BitBtn1Click()
{
    // Emptied with their change signals blocked, so the list is refilled once.
    for (QLineEdit *e : {ed_name, ed_work, ed_mail, ed_tel}) {
        const QSignalBlocker block(e);
        e->clear();
    }
    {
        const QSignalBlocker block(bx_post);
        bx_post->setEditText(QString());
    }
    FillList();
}

// The header's left and right padding and border, as its style sheet sets them.
constexpr int kHeaderPadding = 8;

void TMF::FormResize()
{
    // The room the cells have: without the scroll bar, which would hide the last column.
    const int w = Grid->viewport()->width();
    const double shares[] = {0, 0.22, 0.20, 0.19, 0.11, 0.10, 0.18};
    // A column is never narrower than its header text, which would be
    // clipped; what that adds is taken from the names' column while it has room.
    QHeaderView *h = Grid->horizontalHeader();
    int widths[ListModel::kColumns] = {};
    int headers[ListModel::kColumns] = {};
    int added = 0;
    for (int c = 1; c < ListModel::kColumns; ++c) {
        headers[c] = h->fontMetrics().horizontalAdvance(ListModel::header(c)) + kHeaderPadding;
        widths[c] = std::max(int(w * shares[c]), headers[c]);
        added += widths[c] - int(w * shares[c]);
    }
    widths[1] = std::max(widths[1] - added, headers[1]);
    for (int c = 1; c < ListModel::kColumns; ++c)
        Grid->setColumnWidth(c, widths[c]);
}

void TMF::GridDrawCell(QPainter *p, const QStyleOptionViewItem &option, const QModelIndex &index)
{
    const bool selected = option.state & QStyle::State_Selected;
    const QPalette &pal = option.palette;
    p->fillRect(option.rect, selected ? pal.brush(QPalette::Highlight) : pal.brush(QPalette::Base));
    const QString text = index.data(Qt::DisplayRole).toString();
    if (text.isEmpty())
        return;
    const QRect r = option.rect.adjusted(3, 0, -3, 0);
    p->setPen(selected ? pal.color(QPalette::HighlightedText) : pal.color(QPalette::Text));
    p->setFont(option.font);
    QRect used;
    p->drawText(r, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text, &used);
    if (used.height() > option.rect.height())
        growRow(index.row(), used.height() + 3);
}

// Rows grow to show wrapped text; the change is queued, never made while painting.
void TMF::growRow(int row, int height)
{
    const bool first = m_pendingHeights.isEmpty();
    m_pendingHeights.append({row, height});
    if (!first)
        return;
    QTimer::singleShot(0, this, [this] {
        const auto pending = std::exchange(m_pendingHeights, {});
        for (const auto &[row, height] : pending)
            if (row < m_model->rowCount() && Grid->rowHeight(row) < height) {
                Grid->setRowHeight(row, height);
                m_grownRows.append(row);
            }
        // Rows above the selected one grew just after a refill: keep it in sight,
        // so that the commands never act on a card the user cannot see.
        if (m_refillTimer.isValid() && m_refillTimer.elapsed() < 1000)
            Grid->scrollTo(Grid->currentIndex());
    });
}

bool TMF::eventFilter(QObject *watched, QEvent *event)
{
    // Column shares follow the cells' room, known only once the layout has run
    // (and changing when the scroll bar comes or goes).
    if ((watched == Grid || watched == Grid->viewport()) && event->type() == QEvent::Resize)
        guardedCall([this] { FormResize(); });
    if (watched == Grid &&
        keyPressTaken(event, [this](QKeyEvent *k) { return GridKeyDown(k->key(), k->modifiers()); }))
        return true;
    return QMainWindow::eventFilter(watched, event);
}

bool TMF::GridKeyDown(int key, Qt::KeyboardModifiers mods)
{
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        tb_look->click();
        return true;
    }
    return listKeyDown(key, mods, tb_edt, tb_new);
}

void TMF::GridDblClick()
{
    tb_look->click();
}

// --------------------------------------------------------------- birthdays

void TMF::GetBirthDays()
{
    const int n = core::countBirthdays(db.iRead, MonthBox->currentIndex() + 1);
    lb_bdate->setText(QStringLiteral("Дни рождения - ") + QString::number(n));
}

void TMF::MonthBoxChange()
{
    GetBirthDays();
}

void TMF::btDateClick()
{
    if (m_loggingIn || m_ctx.session.FirstActivation)
        return;
    db::IBQuery &q = db.iBase;
    core::openBirthdays(q, MonthBox->currentIndex() + 1);
    q.last();
    lb_bdate->setText(QStringLiteral("Дни рождения - ") + QString::number(q.recordCount()));
    fillGrid(q, false);
}

// ---------------------------------------------------------------- commands

void TMF::N4Click()
{
    if (!checkFullRights(this, m_ctx.session.SessionUser))
        return;
    emit openCard(QStringLiteral("new"), 0);
}

void TMF::N15Click()
{
    if (selectedId().isEmpty())
        return;
    if (!checkFullRights(this, m_ctx.session.SessionUser))
        return;
    emit openCard(QStringLiteral("edit"), selectedId().toLongLong());
}

void TMF::N3Click()
{
    if (selectedId().isEmpty())
        return;
    emit openCard(QStringLiteral("read"), selectedId().toLongLong());
}

void TMF::N17Click()
{
    const QString idText = selectedId();
    if (idText.isEmpty())
        return;
    if (!checkFullRights(this, m_ctx.session.SessionUser))
        return;
    if (msg::askYesNo(this, QStringLiteral("Внимание! Запись будет удалена без возможности восстановления, продолжать ?"),
                      QStringLiteral("Удаление"))) {
        core::CardStore(db).remove(idText.toLongLong());
    }
    FillList();
}

void TMF::N13Click()
{
    emit showWindow(WindowId::Organizations);
}

void TMF::N14Click()
{
    emit showWindow(WindowId::Departments);
}

void TMF::N18Click()
{
    emit showWindow(WindowId::Posts);
}

void TMF::N2Click()
{
    emit showWindow(WindowId::Users);
}

void TMF::N10Click()
{
    emit showWindow(WindowId::About);
}

void TMF::tb_expClick()
{
    const QString id = selectedId();
    if (!id.isEmpty())
        ExportCard(id.toLongLong());
}

// The printed form of the stored card (never the fields of an open card):
// a new workbook made from the template Forms/form.xlsx, filled and opened
// in the desktop's spreadsheet program.
void TMF::ExportCard(qint64 id)
{
    core::CardStore store(db);
    const std::optional<core::CardRecord> card = store.load(id);
    if (!card) {
        QWidget *owner = QApplication::activeModalWidget();
        msg::error(owner ? owner : this, QStringLiteral("Запись не обнаружена, рекомендуется тестирование базы данных"));
        return;
    }
    const std::optional<core::Accounts> accounts = store.loadAccounts(id);
    const std::unique_ptr<printout::Workbook> workbook =
        printout::newWorkbook([](const QString &file) { return shell::openFile(file); });
    const QString cut = printout::shortenedNotice(
        printout::exportCard(*workbook, {m_ctx.session.programFolder, m_ctx.session.PhotoFolder, m_ctx.session.tempFolder()}, *card, accounts));
    if (!cut.isEmpty()) // told once the printout is open
        msg::plain(nullptr, cut);
}

void TMF::FillRefLists()
{
    core::RefValues values(db);
    for (sql::Ref ref : sql::kRefs)
        emit refItemsRead(ref, values.list(ref));
}

namespace {

// A long piece of work on cards shows its progress after half a second and
// can be cancelled between two cards. The bar and the button are named for
// screen readers, which read the label's count as it changes.
class CardsProgress
{
public:
    CardsProgress(QWidget *owner, const QString &what, const QString &title)
        : m_dialog(what, QString(), 0, 1, owner)
    {
        auto *bar = new QProgressBar(&m_dialog);
        setAccessible(bar, QStringLiteral("Ход работы: ") + title);
        m_dialog.setBar(bar);
        auto *cancel = new QPushButton(QStringLiteral("Отмена"), &m_dialog);
        cancel->setObjectName(QStringLiteral("CardsProgressCancel"));
        setAccessible(cancel, QStringLiteral("Отмена"), QStringLiteral("Прервать между двумя карточками"));
        m_dialog.setCancelButton(cancel);
        m_dialog.setObjectName(QStringLiteral("CardsProgress"));
        m_dialog.setWindowTitle(title);
        setAccessible(&m_dialog, title);
        m_dialog.setWindowModality(Qt::WindowModal);
        m_dialog.setMinimumDuration(500);
        m_dialog.setAutoClose(false);
        m_dialog.setAutoReset(false);
        m_dialog.setMinimumWidth(420);
    }
    core::Progress callback()
    {
        return [this](int done, int total) {
            // Shown (and the events run, a cancel among them) a few times a
            // second, not for every card.
            if (done == total || !m_shownAt.isValid() || m_shownAt.elapsed() >= 50) {
                m_shownAt.start();
                m_dialog.setMaximum(std::max(total, 1));
                m_dialog.setValue(done);
                m_dialog.setLabelText(m_label.arg(QLocale().toString(done), QLocale().toString(total)));
            }
            return !m_dialog.wasCanceled();
        };
    }
    void setCounting(const QString &label) { m_label = label; }
    void close() { m_dialog.close(); }

private:
    QProgressDialog m_dialog;
    QElapsedTimer m_shownAt;
    QString m_label = QStringLiteral("%1 из %2");
};

} // namespace

void TMF::ImportCards()
{
    if (!checkFullRights(this, m_ctx.session.SessionUser))
        return;
    const QString path = filedlg::openCards(this);
    if (path.isEmpty())
        return;
    core::CardImport import(db, m_ctx.session.PhotoFolder, m_ctx.session.tempFolder());
    CardsProgress progress(this, QStringLiteral("Проверка карточек файла..."), QStringLiteral("Импорт карточек"));
    progress.setCounting(QStringLiteral("Проверка карточек файла: %1 из %2"));
    const bool read = import.read(path, progress.callback());
    progress.close();
    if (!read) {
        if (!import.error().isEmpty())
            msg::error(this, import.error());
        return;
    }
    const QString name = QFileInfo(path).fileName();
    if (import.total() == 0) {
        msg::plain(this, QStringLiteral("В файле «%1» нет карточек.").arg(name));
        return;
    }
    const QString summary = import.summary(name);
    bool addDuplicates = false;
    if (import.duplicates() > 0) {
        const int answer = msg::choose(this, summary + QStringLiteral("\r\rКак поступить с похожими карточками?"),
                                       QStringLiteral("Импорт карточек"),
                                       {QStringLiteral("Пропустить похожие"), QStringLiteral("Добавить все"),
                                        QStringLiteral("Отмена")});
        if (answer == 2)
            return;
        addDuplicates = answer == 1;
    } else if (msg::choose(this, summary + QStringLiteral("\r\rСохранить карточки в базе данных?"),
                           QStringLiteral("Импорт карточек"),
                           {QStringLiteral("Импортировать"), QStringLiteral("Отмена")}) != 0) {
        return;
    }
    core::ImportReport report;
    {
        CardsProgress storing(this, QStringLiteral("Импорт карточек..."), QStringLiteral("Импорт карточек"));
        storing.setCounting(QStringLiteral("Импорт карточек: %1 из %2"));
        report = import.store(addDuplicates, m_ctx.session.SessionUser.id, storing.callback());
    }
    FillRefLists();
    FillList();
    msg::show(this, report.text(15), QStringLiteral("Импорт карточек"), msg::Buttons::Ok);
}

void TMF::ExportCards()
{
    finishFill();
    const int count = m_model->cardCount();
    if (count == 0) {
        msg::plain(this, QStringLiteral("В списке нет карточек: экспортировать нечего."));
        return;
    }
    QList<qint64> ids;
    const QString selected = selectedId();
    if (count > 1 && !selected.isEmpty()) {
        const QString who = m_model->cell(selectedRow(), 1).simplified(); // surname, name, patronymic
        const int answer = msg::choose(
            this, QStringLiteral("Экспортировать все карточки списка (%1) или только выбранную («%2»)?")
                      .arg(QLocale().toString(count), who),
            QStringLiteral("Экспорт карточек"),
            {QStringLiteral("Все карточки списка"), QStringLiteral("Только выбранную"), QStringLiteral("Отмена")});
        if (answer == 2)
            return;
        if (answer == 1)
            ids << selected.toLongLong();
    }
    if (ids.isEmpty())
        for (int r = 0; r < count; ++r)
            ids << m_model->id(r).toLongLong();
    const filedlg::SavedCards target = filedlg::saveCards(this, QStringLiteral("Карточки.vcf"));
    if (target.path.isEmpty())
        return;
    const core::CardFormat format = target.type;
    core::ExportReport report;
    {
        CardsProgress progress(this, QStringLiteral("Экспорт карточек..."), QStringLiteral("Экспорт карточек"));
        progress.setCounting(QStringLiteral("Экспорт карточек: %1 из %2"));
        report = core::exportCards(db, m_ctx.session.PhotoFolder, ids, format, target.path, progress.callback());
    }
    if (!report.error.isEmpty())
        msg::error(this, report.error);
    else
        msg::show(this, report.text(target.path, 15), QStringLiteral("Экспорт карточек"), msg::Buttons::Ok);
}
