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
#include "cardfiles/cardimport.h"
#include "cardfiles/exportcards.h"
#include "core/cardstore.h"
#include "core/contactlist.h"
#include "core/listservice.h"
#include "core/refvalues.h"
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
    m_list->setLive(true);
    m_list->search(currentFilter(), currentSort());
}

void TMF::connectList()
{
    // The selected row number is kept across a refill, and selected once it arrives.
    connect(m_list, &core::ListService::aboutToShow, this, [this](bool sameRows) {
        m_noteRow = m_list->filling() ? m_wantedRow : selectedRow();
        m_progress->hide();
        m_noteHeights.clear();
        if (sameRows) { // the birthday list keeps the rows' heights
            const int n = std::min(m_model->rowCount(), 2000);
            for (int r = 0; r < n; ++r)
                m_noteHeights << Grid->rowHeight(r);
        }
        m_pendingHeights.clear();
    });
    connect(m_list, &core::ListService::shown, this, [this] {
        for (int r : std::exchange(m_grownRows, {}))
            if (r < m_model->rowCount())
                Grid->setRowHeight(r, 18);
        for (int r = 0; r < m_noteHeights.size() && r < m_model->rowCount(); ++r)
            if (m_noteHeights[r] != 18) {
                Grid->setRowHeight(r, m_noteHeights[r]);
                m_grownRows.append(r);
            }
        m_refillTimer.start();
        m_wantedRow = std::max(m_noteRow, 0);
        m_clampedRow = std::min(m_wantedRow, m_model->rowCount() - 1);
        selectRow(m_clampedRow);
    });
    connect(m_list, &core::ListService::arriving, this, [this](int loaded, qint64 elapsedMs) {
        keepWantedRow();
        if (elapsedMs > 500 && !m_progress->isVisible())
            m_progress->show();
        m_progress->setToolTip(QStringLiteral("Загружено записей: %1").arg(loaded));
    });
    connect(m_list, &core::ListService::arrived, this, [this] {
        keepWantedRow();
        m_progress->hide();
    });
    connect(m_list, &core::ListService::failed, this,
            [](std::exception_ptr e) { guardedCall([&] { std::rethrow_exception(e); }); });
    // Colleagues' changes: the selected card stays selected where its row
    // went, the view stays put, the boxes are not touched.
    connect(m_list, &core::ListService::othersChanging, this, [this] {
        m_othersId = selectedId();
        m_othersScroll = Grid->verticalScrollBar()->value();
    });
    connect(m_list, &core::ListService::othersChanged, this, [this] {
        if (m_list->showingBirthdays())
            lb_bdate->setText(QStringLiteral("Дни рождения - ") + QString::number(m_model->cardCount()));
        for (int r = 0; !m_othersId.isEmpty() && r < m_model->rowCount(); ++r)
            if (m_model->id(r) == m_othersId) {
                selectRow(r);
                m_wantedRow = m_clampedRow = r;
                break;
            }
        Grid->verticalScrollBar()->setValue(m_othersScroll);
    });
}

void TMF::keepWantedRow()
{
    // The kept row number arrives: select it, unless the user has moved meanwhile.
    if (m_wantedRow > m_clampedRow && selectedRow() == m_clampedRow && m_wantedRow < m_model->rowCount())
        selectRow(m_clampedRow = m_wantedRow);
}

bool TMF::isFilling() const
{
    return m_list->filling();
}

void TMF::finishFill()
{
    m_list->finish();
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
    const int n = core::countBirthdays(db.access, MonthBox->currentIndex() + 1);
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
    m_list->setLive(true);
    const int n = m_list->showBirthdays(MonthBox->currentIndex() + 1);
    lb_bdate->setText(QStringLiteral("Дни рождения - ") + QString::number(n));
}
