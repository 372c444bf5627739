// The main window's list: the search fields, the fill, the rows' display
// and the birthdays of a month.
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
#include "core/changewatch.h"
#include "core/cardimport.h"
#include "core/contactlist.h"
#include "core/exportcards.h"
#include "core/refvalues.h"
#include "core/indexbuild.h"
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
#include <QScrollBar>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QScopeGuard>
#include <limits>

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
    m_showingBirthdays = false;
    watchColleagues();
    const ListFilter f = currentFilter();
    // The rows an older index gave out are shown no more from here on.
    m_retired.reset();
    if (f.contains) {
        // "Any position": the index in memory answers without reading every
        // card, once it has been read beside the window; the statement until then.
        if (core::SearchIndex *index = searchIndex()) {
            std::optional<std::vector<const char *>> rows;
            try {
                rows = index->find(f, currentSort());
            } catch (const db::DbError &e) {
                if (!e.fromEngine())
                    throw; // a text that cannot be searched for, told as the statement would
                // The index's own connection failed: the statement answers, a new index is read.
                m_index.reset();
            }
            if (rows) {
                showIndexRows(std::move(*rows));
                return;
            }
            searchIndex(); // read anew beside the window, when it must be
        }
    }
    core::openList(db.iBase, f, currentSort());
    fillGrid(db.iBase, true);
}

core::SearchIndex *TMF::searchIndex()
{
    if (m_index && m_index->index.ready())
        return &m_index->index;
    // One that cannot serve any more goes; the rows it gave may still be on screen.
    if (m_index)
        m_retired = std::move(m_index);
    // A database the index cannot serve (no log yet) is tried again a minute later.
    constexpr qint64 kRetryMs = 60000;
    if (!m_build && (!m_indexTried.isValid() || m_indexTried.elapsed() > kRetryMs || m_indexWorked)) {
        m_indexTried.start();
        m_build = std::make_unique<core::IndexBuild>(
            db.IBDbase.databaseName, [this](std::shared_ptr<core::OwnIndex> index, const QString &) {
                QMetaObject::invokeMethod(
                    this, [this, index]() mutable { guardedCall([&] { indexBuilt(std::move(index)); }); },
                    Qt::QueuedConnection);
            });
    }
    return nullptr;
}

void TMF::indexBuilt(std::shared_ptr<core::OwnIndex> index)
{
    m_build.reset();
    m_indexWorked = index != nullptr;
    if (!index)
        return;
    m_retired = std::move(m_index);
    m_index = std::move(index);
    if (check_pos->isChecked() && !m_showingBirthdays && !m_loggingIn)
        FillList(); // what the statement showed, now from the index
}

void TMF::watchColleagues()
{
    // The log as it stands before the list is first read: whatever is
    // committed from now on shows.
    if (m_watch)
        return;
    m_watch = std::make_unique<core::ChangeWatch>(db);
    try {
        m_watch->look();
    } catch (const db::DbError &) {
        // Looked at again at the next tick.
    }
}

void TMF::followColleagues()
{
    // Not while the list is being read, nor before anyone logged in.
    if (m_loggingIn || m_ctx.session.FirstActivation || m_filling || m_ctx.session.SessionUser.id == -1 ||
        !db.IBDbase.connected())
        return;
    if (!m_watch)
        return; // made by the first fill
    bool changed = false;
    try {
        changed = m_watch->look();
    } catch (const db::DbError &) {
        return; // a database gone away is told by the user's next action, not every second
    }
    if (!changed)
        return;
    const QString id = selectedId();
    const int scroll = Grid->verticalScrollBar()->value();
    if (m_showingBirthdays)
        btDateClick();
    else
        FillList();
    // The selected card stays selected where its row went; the view stays put.
    for (int r = 0; !id.isEmpty() && r < m_model->rowCount(); ++r)
        if (m_model->id(r) == id) {
            selectRow(r);
            m_wantedRow = m_clampedRow = r;
            break;
        }
    Grid->verticalScrollBar()->setValue(scroll);
}

// Shows the index's first screen of rows at once and the rest from the event
// loop; then the index looks whether it is still current (see settleIfDue).
void TMF::showIndexRows(std::vector<const char *> rows)
{
    m_fetch->begin(std::move(rows), m_index->index.version());
    showRows([&] { m_fetch->showFirst(); }, true);
    const quint64 generation = m_fillGeneration;
    QTimer::singleShot(0, this, [this, generation] {
        guardedCall([&] {
            if (generation != m_fillGeneration)
                return; // another fill replaced this one
            finishFill();
            if (m_index && m_index->index.settleIfDue())
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
    const bool kept = m_fetch->finish(m_index ? m_index->index.version() : 0);
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
    if (watched == Grid && keyPressTaken(event, [this](QKeyEvent *k) { return GridKeyDown(k->key(), k->modifiers()); }))
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
    m_showingBirthdays = true;
    db::IBQuery &q = db.iBase;
    core::openBirthdays(q, MonthBox->currentIndex() + 1);
    q.last();
    lb_bdate->setText(QStringLiteral("Дни рождения - ") + QString::number(q.recordCount()));
    fillGrid(q, false);
}
