#include "refbooks.h"

#include "app/access.h"
#include "app/application.h"
#include "app/context.h"
#include "app/icons.h"
#include "app/keys.h"
#include "app/listwindow.h"
#include "app/recordgrid.h"
#include "app/messages.h"
#include "app/rights.h"
#include "app/session.h"
#include "core/refbook.h"
#include "db/ibase.h"

#include <QAbstractTableModel>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QShortcut>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <limits>

// ------------------------------------------------------------- the books

const RefBookKind &postsKind()
{
    static const RefBookKind k{sql::Ref::Post,
                               QStringLiteral("Должность"),
                               QStringLiteral("Справочник должностей"),
                               QStringLiteral("Справочник должностей"),
                               QStringLiteral("ДОЛЖНОСТЬ"),
                               QStringLiteral(" Должность"),
                               "bx_post",
                               "ed_post",
                               QSize(675, 459),
                               false,
                               QStringLiteral("F7 - Новая запись"),
                               QSize(472, 110),
                               QStringLiteral(" Enter / Ctrl + S - сохранить и выйти"),
                               220,
                               true};
    return k;
}

const RefBookKind &departmentsKind()
{
    // A resizable window of 692 x 479 with its frame.
    static const RefBookKind k{sql::Ref::Department,
                               QStringLiteral("Отдел"),
                               QStringLiteral("Справочник отделов"),
                               QString(),
                               QStringLiteral("ОТДЕЛ"),
                               QStringLiteral(" Отдел"),
                               "ed_dep",
                               "ed_dep",
                               QSize(676, 440),
                               true,
                               QStringLiteral(" F7 - Новая запись"),
                               QSize(475, 106),
                               QStringLiteral(" Ctrl + S - сохранить и выйти"),
                               170,
                               false};
    return k;
}

const RefBookKind &organizationsKind()
{
    static const RefBookKind k{sql::Ref::Organization,
                               QStringLiteral("Организация"),
                               QStringLiteral("Справочник организаций"),
                               QString(),
                               QStringLiteral("ОРГАНИЗАЦИЯ"),
                               QStringLiteral(" Организация"),
                               "ed_org",
                               "ed_org",
                               QSize(673, 382),
                               false,
                               QStringLiteral(" F7 - Новая запись"),
                               QSize(473, 110),
                               QStringLiteral(" Ctrl + S - сохранить и выйти"),
                               170,
                               false};
    return k;
}

// ------------------------------------------------------------- the grid

// The list's rows: the hidden pk_id in column 0, the value in column 1. An
// empty list still has one blank row, as the grid always shows one.
class RefListModel : public QAbstractTableModel
{
public:
    using QAbstractTableModel::QAbstractTableModel;

    void setRows(const QList<core::RefRow> &rows)
    {
        beginResetModel();
        m_rows = rows;
        endResetModel();
    }
    void setHeaders(const QString &id, const QString &value)
    {
        m_headers[0] = id;
        m_headers[1] = value;
        emit headerDataChanged(Qt::Horizontal, 0, 1);
    }
    // "" for the blank row.
    QString cell(int row, int col) const
    {
        if (row < 0 || row >= m_rows.size())
            return QString();
        return col == 0 ? QString::number(m_rows[row].id) : m_rows[row].value;
    }

    int rowCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : std::max(1, int(m_rows.size()));
    }
    int columnCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : 2; }
    QVariant data(const QModelIndex &index, int role) const override
    {
        if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole)
            return {};
        return cell(index.row(), index.column());
    }
    QVariant headerData(int section, Qt::Orientation o, int role) const override
    {
        if (o == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < 2)
            return m_headers[section];
        return QAbstractTableModel::headerData(section, o, role);
    }

private:
    QList<core::RefRow> m_rows;
    QString m_headers[2];
};

// ------------------------------------------------------- the list window

RefListWindow::RefListWindow(const RefBookKind &kind, Context &context, QWidget *parent)
    : ModalWindow(context, parent), m_kind(kind)
{
    setObjectName(QLatin1String(metaObject()->className()));
    // A blank, not an empty text: Qt would show the program's name in an empty title bar.
    setWindowTitle(kind.caption.isEmpty() ? QStringLiteral(" ") : kind.caption);
    setAccessible(this, kind.bookName);
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                            Qt::WindowCloseButtonHint;
    flags |= kind.listResizable ? Qt::WindowMinMaxButtonsHint : Qt::MSWindowsFixedSizeDialogHint;
    setWindowFlags(flags);

    auto *v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(0);

    const ListToolBar bar = makeListToolBar(this, 7, true, QStringLiteral("Удалить"));
    tb_new = bar.tb_new;
    tb_edit = bar.tb_edit;
    tb_del = bar.tb_del;
    tb_exit = bar.tb_exit;
    v->addWidget(bar.bar);

    auto *gp = new QGroupBox(this);
    gp->setObjectName(QStringLiteral("GP"));
    auto *h = new QHBoxLayout(gp);
    h->setContentsMargins(8, 6, 8, 6);
    QLabel *label = boldLabel(kind.label, gp);
    searchBox = new QLineEdit(gp);
    searchBox->setObjectName(QLatin1String(kind.searchBox));
    // A long paste is told as too long, not cut without a word.
    searchBox->setMaxLength(std::numeric_limits<int>::max());
    label->setBuddy(searchBox);
    setAccessible(searchBox, QStringLiteral("Поиск: ") + kind.name.toLower());
    sb_look = new QToolButton(gp);
    sb_look->setObjectName(QStringLiteral("sb_look"));
    sb_look->setIcon(icons::get(icons::Id::Clear));
    sb_look->setIconSize(QSize(18, 18));
    sb_look->setToolTip(QStringLiteral("Очистить поиск"));
    sb_look->setFocusPolicy(Qt::NoFocus);
    setAccessible(sb_look, QStringLiteral("Очистить поиск"));
    h->addWidget(label);
    h->addWidget(searchBox, 1);
    h->addWidget(sb_look);
    auto *gpMargin = new QHBoxLayout;
    gpMargin->setContentsMargins(4, 0, 4, 4);
    gpMargin->addWidget(gp);
    v->addLayout(gpMargin);

    PGrid = new QTableView(this);
    PGrid->setObjectName(QStringLiteral("PGrid"));
    setAccessible(PGrid, kind.bookName);
    m_model = new RefListModel(this);
    PGrid->setModel(m_model);
    setupListGrid(PGrid);
    PGrid->horizontalHeader()->setStretchLastSection(true);
    PGrid->hideColumn(0);
    PGrid->setColumnWidth(1, 668);
    v->addWidget(PGrid, 1);

    v->addWidget(statusPanels(this, sBar, {QStringLiteral(" F4 - Редактирование"), kind.listNewPanel}, {150, 150},
                              kind.listResizable));

    if (kind.listResizable)
        resize(kind.listSize);
    else
        setFixedSize(kind.listSize);

    searchBox->installEventFilter(this);
    PGrid->installEventFilter(this);
    onSignal(searchBox, &QLineEdit::textChanged, this, [this] { SearchChange(); });
    onSignal(sb_look, &QToolButton::clicked, this, [this] { sb_lookClick(); });
    onSignal(tb_new, &QToolButton::clicked, this, [this] { tb_newClick(); });
    onSignal(tb_edit, &QToolButton::clicked, this, [this] { tb_editClick(); });
    onSignal(tb_del, &QToolButton::clicked, this, [this] { tb_delClick(); });
    onSignal(tb_exit, &QToolButton::clicked, this, [this] { tb_exitClick(); });
}

void RefListWindow::FormActivate()
{
    m_model->setHeaders(QStringLiteral("PK"), m_kind.header);
    try {
        FillGrid();
    } catch (const db::DbError &) {
        // A search text refused last time must not keep the window shut:
        // it is told, emptied, and the whole book is shown.
        reportCurrentException();
        const QSignalBlocker block(searchBox);
        searchBox->clear();
        FillGrid();
    }
    if (!isVisible()) // opening: ready for typing a search
        searchBox->setFocus();
}

void RefListWindow::FillGrid()
{
    const int row = currentRow();
    // A text the database cannot compare is refused here; the list stays.
    m_model->setRows(core::RefBook(m_ctx.db.access, m_kind.ref).find(searchBox->text()));
    selectRow(std::min(row, m_model->rowCount() - 1));
}

void RefListWindow::SearchChange()
{
    FillGrid();
}

void RefListWindow::sb_lookClick()
{
    searchBox->clear();
}

void RefListWindow::tb_newClick()
{
    if (!checkFullRights(this, m_ctx.session.SessionUser))
        return;
    emit newRequested();
}

void RefListWindow::tb_editClick()
{
    if (currentId().isEmpty())
        return;
    if (!checkFullRights(this, m_ctx.session.SessionUser))
        return;
    emit editRequested(currentId().toLongLong(), currentValue());
}

void RefListWindow::tb_delClick()
{
    const QString id = currentId();
    if (id.isEmpty())
        return;
    if (!checkFullRights(this, m_ctx.session.SessionUser))
        return;
    if (msg::askYesNo(this,
                      QStringLiteral("Внимание! Запись будет удалена без возможности восстановления, продолжить ?"),
                      QStringLiteral("Удаление")))
        core::RefBook(m_ctx.db.access, m_kind.ref).remove(id.toLongLong());
    FillGrid();
}

void RefListWindow::tb_exitClick()
{
    close();
}

bool RefListWindow::PGridKeyDown(int key, Qt::KeyboardModifiers mods)
{
    return listKeyDown(key, mods, tb_edit, tb_new);
}

bool RefListWindow::eventFilter(QObject *watched, QEvent *event)
{
    if ((watched == PGrid || watched == searchBox) &&
        keyPressTaken(event, [this](QKeyEvent *k) { return PGridKeyDown(k->key(), k->modifiers()); }))
        return true;
    return ModalWindow::eventFilter(watched, event);
}

void RefListWindow::keyPressEvent(QKeyEvent *e)
{
    if (e->key() == Qt::Key_Escape) { // the list has no Esc: it closes by its button or the close box
        e->accept();
        return;
    }
    ModalWindow::keyPressEvent(e);
}

int RefListWindow::currentRow() const
{
    return currentGridRow(PGrid);
}

void RefListWindow::selectRow(int row)
{
    selectGridRow(PGrid, row);
}

QString RefListWindow::currentId() const
{
    return m_model->cell(currentRow(), 0);
}

QString RefListWindow::currentValue() const
{
    return m_model->cell(currentRow(), 1);
}

bool RefListWindow::showValue(qint64 id, const QString &value)
{
    int found = -1;
    qint64 newest = 0;
    for (int r = 0; r < m_model->rowCount(); ++r) {
        const qint64 rowId = m_model->cell(r, 0).toLongLong();
        if (id ? rowId == id : (m_model->cell(r, 1) == value && rowId > newest)) {
            found = r;
            newest = rowId;
        }
    }
    if (found >= 0)
        selectRow(found);
    return found >= 0;
}

void RefListWindow::showStored(qint64 id, const QString &value)
{
    FormActivate();
    // A value the search leaves out would look unsaved: the search goes, the value shows.
    if (!showValue(id, value)) {
        searchBox->clear();
        showValue(id, value);
    }
}

// ------------------------------------------------------------ the editor

RefEditWindow::RefEditWindow(const RefBookKind &kind, Context &context, QWidget *parent)
    : ModalWindow(context, parent), m_kind(kind)
{
    setObjectName(QLatin1String(metaObject()->className()));
    setWindowTitle(QStringLiteral("Редактирование"));
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                            Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint | Qt::MSWindowsFixedSizeDialogHint;
    if (kind.editMaximize)
        flags |= Qt::WindowMaximizeButtonHint;
    setWindowFlags(flags);

    auto *v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(0);

    const EditorToolBar bar = makeEditorToolBar(this);
    tb_save = bar.tb_save;
    tb_Exit = bar.tb_Exit;
    v->addWidget(bar.bar);

    auto *gbox = new QGroupBox(this);
    gbox->setObjectName(QStringLiteral("gbox"));
    auto *h = new QHBoxLayout(gbox);
    h->setContentsMargins(8, 4, 8, 4);
    QLabel *label = boldLabel(kind.label, gbox);
    valueBox = new QLineEdit(gbox);
    valueBox->setObjectName(QLatin1String(kind.editBox));
    valueBox->setMaxLength(std::numeric_limits<int>::max());
    label->setBuddy(valueBox);
    setAccessible(valueBox, kind.name);
    h->addWidget(label);
    h->addWidget(valueBox, 1);
    auto *gboxMargin = new QHBoxLayout;
    gboxMargin->setContentsMargins(4, 0, 4, 2);
    gboxMargin->addWidget(gbox);
    v->addLayout(gboxMargin, 1);

    v->addWidget(
        statusPanels(this, sBar, {kind.editKeysPanel, QStringLiteral(" ESC - выйти ")}, {kind.editKeysWidth, 150}));
    setFixedSize(kind.editSize);

    valueBox->installEventFilter(this);
    // Ctrl+S by its key sequence, so that it also works with a Cyrillic keyboard layout.
    auto *save = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_S), valueBox);
    save->setContext(Qt::WidgetShortcut);
    onSignal(save, &QShortcut::activated, this, [this] { tb_save->click(); });
    onSignal(valueBox, &QLineEdit::textChanged, this, [this] { ValueChange(); });
    onSignal(tb_save, &QToolButton::clicked, this, [this] { tb_saveClick(); });
    onSignal(tb_Exit, &QToolButton::clicked, this, [this] { tb_ExitClick(); });
}

void RefEditWindow::setEdited(qint64 id, const QString &value)
{
    NewRecord = id == 0;
    m_id = id;
    m_opened = value;
}

void RefEditWindow::openNew()
{
    setEdited(0, QString());
    showModal();
}

void RefEditWindow::openEdit(qint64 id, const QString &value)
{
    setEdited(id, value);
    showModal();
}

void RefEditWindow::FormActivate()
{
    // Filling the box marks a change; the caption and the mark are then set afresh.
    if (NewRecord) {
        valueBox->setText(QString());
        m_id = 0;
        m_mode = QStringLiteral("Новая запись");
    } else {
        valueBox->setText(m_opened);
        m_loaded = valueBox->text();
        m_mode = QStringLiteral("Редактирование");
    }
    setWindowTitle(m_mode);
    Modified = false;
    valueBox->setFocus();
}

void RefEditWindow::ValueChange()
{
    markModified(Modified);
}

bool RefEditWindow::store()
{
    if (!Modified)
        return false;
    const QString value = valueBox->text();
    if (!core::RefBook::storable(value))
        return false;
    core::RefBook book(m_ctx.db.access, m_kind.ref);
    const QString problem = book.valueProblem(m_kind.name, value);
    if (!problem.isEmpty())
        throw db::DbError(problem);
    qint64 shown = m_id;
    if (NewRecord) {
        book.insert(value);
        shown = 0;
    } else if (!book.update(m_id, value, m_loaded)) {
        // Deleted meanwhile (from another desk): the typed value is not thrown away unasked.
        if (!msg::askYesNo(this,
                           QStringLiteral("Этого значения уже нет в справочнике: его удалили, пока оно "
                                          "редактировалось.\rДобавить его как новое?"),
                           QStringLiteral("Внимание!")))
            return false;
        book.insert(value);
        shown = 0;
    }
    Modified = false;
    m_loaded = value;
    // The value is stored: a list that cannot be read again now is told, and the save goes on.
    guardedCall([&] { emit valueStored(shown, value); });
    return true;
}

void RefEditWindow::tb_saveClick()
{
    if (!store())
        return; // nothing to store: the editor stays open
    close();    // unchanged now: no question
    emit valueSaved();
}

void RefEditWindow::tb_ExitClick()
{
    close();
}

bool RefEditWindow::FormCloseQuery()
{
    if (!Modified)
        return true;
    if (!askSaveChanges())
        return true; // No: nothing is stored
    try {
        if (store())
            emit valueSaved();
    } catch (...) {
        // Refused (too long, a character the database cannot hold): the
        // editor stays open with the value, nothing is lost.
        reportCurrentException();
        return false;
    }
    Modified = false;
    return true;
}

bool RefEditWindow::canClose()
{
    bool ok = true;
    guardedCall([&] { ok = FormCloseQuery(); });
    return ok;
}

bool RefEditWindow::ValueKeyDown(int key, Qt::KeyboardModifiers mods)
{
    if (key == Qt::Key_Return || key == Qt::Key_Enter) { // here Enter saves, too
        tb_save->click();
        return true;
    }
    return editorKeyDown(key, mods, 0, tb_save, tb_Exit);
}

bool RefEditWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == valueBox &&
        keyPressTaken(event, [this](QKeyEvent *k) { return ValueKeyDown(k->key(), k->modifiers()); }))
        return true;
    return ModalWindow::eventFilter(watched, event);
}
