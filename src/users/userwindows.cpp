#include "userwindows.h"

#include "app/access.h"
#include "app/application.h"
#include "app/context.h"
#include "app/icons.h"
#include "app/keys.h"
#include "app/listwindow.h"
#include "app/recordgrid.h"
#include "app/messages.h"
#include "core/users.h"
#include "db/shared.h"

#include <QApplication>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const QString kGone = QStringLiteral("Запись не обнаружена, рекомендуется тестирование базы данных");
const QString kEditorCaption = QStringLiteral("Редактирование данных пользователя");

} // namespace

// ------------------------------------------------------------------ TUF

TUF::TUF(Context &context, QWidget *parent) : ModalWindow(context, parent)
{
    setObjectName(QStringLiteral("TUF"));
    setWindowTitle(QStringLiteral("Управление пользователями"));
    setAccessible(this, windowTitle());
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);

    const ListToolBar bar = makeListToolBar(this, 31, false, QStringLiteral("Удалить пользователя"));
    ToolBar1 = bar.bar;
    tb_new = bar.tb_new;
    tb_edit = bar.tb_edit;
    tb_del = bar.tb_del;
    tb_exit = bar.tb_exit;

    Grid = new QTableView(this);
    Grid->setObjectName(QStringLiteral("Grid"));
    setAccessible(Grid, QStringLiteral("Список пользователей"));
    m_model = new QStandardItemModel(0, 4, this);
    Grid->setModel(m_model);
    setupListGrid(Grid);
    Grid->installEventFilter(this);

    const QString texts[2] = {QStringLiteral(" F4 - Редактирование"), QStringLiteral(" F7 - Новая запись")};
    const int widths[2] = {150, 150};
    QStatusBar *status = statusPanels(this, sBar, texts, widths);

    auto *v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(0);
    v->addWidget(ToolBar1);
    v->addWidget(Grid, 1);
    v->addWidget(status);
    setFixedSize(566, 411);

    onSignal(tb_new, &QToolButton::clicked, this, [this] { tb_newClick(); });
    onSignal(tb_edit, &QToolButton::clicked, this, [this] { tb_editClick(); });
    onSignal(tb_del, &QToolButton::clicked, this, [this] { tb_delClick(); });
    onSignal(tb_exit, &QToolButton::clicked, this, [this] { tb_exitClick(); });
    onSignal(Grid, &QTableView::doubleClicked, this, [this] { tb_editClick(); });
    FormCreate();
}

void TUF::FormCreate()
{
    m_model->setHorizontalHeaderLabels({QStringLiteral("PK"), QStringLiteral(" Фамилия Имя Отчество"),
                                        QStringLiteral(" Логин"), QStringLiteral(" Уровень доступа")});
    Grid->hideColumn(0);
    Grid->setColumnWidth(1, 250);
    Grid->setColumnWidth(2, 183);
    Grid->setColumnWidth(3, 126);
}

void TUF::FormActivate()
{
    FillGrid();
    Grid->setFocus();
}

void TUF::FillGrid()
{
    const QList<core::UserRecord> users = core::Users(m_ctx.db.access).list();
    const int row = currentRow();
    m_model->removeRows(0, m_model->rowCount());
    for (const core::UserRecord &u : users) {
        QList<QStandardItem *> cells;
        for (const QString &t : {QString::number(u.id), u.fio, u.login, core::levelText(u.level)})
            cells << new QStandardItem(t);
        m_model->appendRow(cells);
    }
    if (users.isEmpty()) { // one empty row, as a grid always has
        QList<QStandardItem *> cells;
        for (int c = 0; c < 4; ++c)
            cells << new QStandardItem;
        m_model->appendRow(cells);
    }
    selectRow(std::min(row, m_model->rowCount() - 1));
}

int TUF::currentRow() const
{
    return currentGridRow(Grid);
}

void TUF::selectRow(int row)
{
    selectGridRow(Grid, row);
}

QString TUF::currentCell(int col) const
{
    return m_model->index(currentRow(), col).data().toString();
}

void TUF::tb_newClick()
{
    emit newRequested();
}

void TUF::tb_editClick()
{
    if (currentCell(0).isEmpty())
        return;
    emit editRequested(currentCell(0).toLongLong());
}

void TUF::tb_delClick()
{
    const QString id = currentCell(0);
    if (id.isEmpty())
        return;
    if (core::Users::isAdministrator(currentCell(2))) // the administrator stays
        return;
    if (msg::askYesNo(
            this, QStringLiteral("Внимание! Пользователь будет удален без возможности восстановления, продолжить ?"),
            QStringLiteral("Удаление")))
        core::Users(m_ctx.db.access).remove(id.toLongLong());
    FillGrid();
}

void TUF::tb_exitClick()
{
    close();
}

bool TUF::GridKeyDown(int key, Qt::KeyboardModifiers mods)
{
    return listKeyDown(key, mods, tb_edit, tb_new);
}

bool TUF::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == Grid && keyPressTaken(event, [this](QKeyEvent *k) { return GridKeyDown(k->key(), k->modifiers()); }))
        return true;
    return ModalWindow::eventFilter(watched, event);
}

// ----------------------------------------------------------------- TUF1

TUF1::TUF1(Context &context, QWidget *parent) : ModalWindow(context, parent)
{
    setObjectName(QStringLiteral("TUF1"));
    setWindowTitle(kEditorCaption);
    setAccessible(this, kEditorCaption);

    const EditorToolBar bar = makeEditorToolBar(this);
    tb_save = bar.tb_save;
    tb_Exit = bar.tb_Exit;

    gbox = new QGroupBox(this);
    gbox->setObjectName(QStringLiteral("gbox"));
    setAccessible(gbox, QStringLiteral("Данные пользователя"));
    auto *form = new QFormLayout(gbox);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    auto field = [&](QLineEdit *&ed, const char *name, const QString &label) {
        ed = new QLineEdit(gbox);
        ed->setObjectName(QLatin1String(name));
        ed->setMaxLength(32767); // a long paste is told as too long when saved, not cut
        setAccessible(ed, label);
        form->addRow(label, ed);
    };
    field(fio, "fio", QStringLiteral("ФИО"));
    field(login, "login", QStringLiteral("Логин"));
    field(pass, "pass", QStringLiteral("Пароль"));
    pass->setEchoMode(QLineEdit::Password);
    pass->setStyleSheet(QStringLiteral("lineedit-password-character: 42;")); // "*"
    level = new QComboBox(gbox);
    level->setObjectName(QStringLiteral("level"));
    level->addItems({QStringLiteral("Только чтение"), QStringLiteral("Полный")});
    setAccessible(level, QStringLiteral("Доступ"));
    form->addRow(QStringLiteral("Доступ"), level);
    setTabOrder(fio, login);
    setTabOrder(login, pass);
    setTabOrder(pass, level);

    const QString texts[2] = {QStringLiteral(" Enter / Ctrl + S - сохранить и выйти"), QStringLiteral(" ESC - выйти ")};
    const int widths[2] = {220, 150};
    QStatusBar *status = statusPanels(this, sBar, texts, widths, true);

    auto *v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(0);
    v->addWidget(bar.bar);
    auto *middle = new QVBoxLayout;
    middle->setContentsMargins(6, 0, 6, 4);
    middle->addWidget(gbox);
    v->addLayout(middle, 1);
    v->addWidget(status);
    resize(491, 228);

    for (QLineEdit *e : {fio, login, pass}) {
        onSignal(e, &QLineEdit::textChanged, this, [this] { fioChange(); });
        e->installEventFilter(this);
    }
    onSignal(level, &QComboBox::currentIndexChanged, this, [this] { fioChange(); });
    level->installEventFilter(this);
    onSignal(tb_save, &QToolButton::clicked, this, [this] { tb_saveClick(); });
    onSignal(tb_Exit, &QToolButton::clicked, this, [this] { tb_ExitClick(); });
}

void TUF1::FormActivate()
{
    m_missing = false;
    if (NewRecord) {
        EditedId = -1;
        fio->clear();
        login->clear();
        pass->clear();
        level->setCurrentIndex(0);
        for (QWidget *w : {static_cast<QWidget *>(fio), static_cast<QWidget *>(login), static_cast<QWidget *>(level)})
            w->setEnabled(true);
    } else {
        const std::optional<core::UserRecord> u = core::Users(m_ctx.db.access).load(EditedId);
        if (!u) {
            // Deleted meanwhile (by another copy of the program): nothing to edit.
            m_missing = true;
            msg::error(QApplication::activeModalWidget(), kGone);
            emit usersChanged();
            return;
        }
        m_loaded = *u;
        fio->setText(u->fio);
        login->setText(u->login);
        pass->setText(u->pass);
        level->setCurrentIndex(core::levelIndex(u->level));
        // The administrator keeps name, login and level; only the password changes.
        const bool admin = core::Users::isAdministrator(login->text());
        for (QWidget *w : {static_cast<QWidget *>(fio), static_cast<QWidget *>(login), static_cast<QWidget *>(level)})
            w->setEnabled(!admin);
    }
    setWindowTitle(kEditorCaption);
    Modified = false;
    (fio->isEnabled() ? fio : pass)->setFocus();
}

int TUF1::exec()
{
    if (m_missing) {
        m_missing = false;
        return QDialog::Rejected;
    }
    return ModalWindow::exec();
}

void TUF1::openNew()
{
    NewRecord = true;
    showModal();
}

void TUF1::openEdit(qint64 id)
{
    NewRecord = false;
    EditedId = id;
    showModal();
}

void TUF1::fioChange()
{
    markModified(Modified);
}

bool TUF1::tb_saveClick()
{
    if (!Modified)
        return false;
    if (login->text().isEmpty() || fio->text().isEmpty())
        return false;
    core::UserRecord u;
    u.id = EditedId;
    u.fio = fio->text();
    u.login = login->text();
    u.pass = pass->text();
    u.level = core::levelOfIndex(level->currentIndex());
    core::Users users(m_ctx.db.access);
    if (NewRecord) {
        users.insert(u);
    } else if (!users.update(u, m_loaded)) {
        msg::error(this, kGone);
        return false;
    }
    m_loaded = u;
    Modified = false;
    setWindowTitle(kEditorCaption);
    emit usersChanged();
    if (!m_closing)
        close();
    return true;
}

void TUF1::tb_ExitClick()
{
    close();
}

bool TUF1::FormCloseQuery()
{
    if (!Modified)
        return true;
    if (!askSaveChanges())
        return true;
    // Yes: the editor closes once the user is stored. A save that stores
    // nothing keeps it open with the changes, and says why.
    if (login->text().isEmpty() || fio->text().isEmpty()) {
        msg::error(this, QStringLiteral("Данные пользователя не сохранены: не заполнено поле «%1».")
                             .arg(login->text().isEmpty() ? QStringLiteral("Логин") : QStringLiteral("ФИО")));
        (login->text().isEmpty() ? login : fio)->setFocus();
        return false;
    }
    bool stored = false;
    m_closing = true;
    guardedCall([&] { stored = tb_saveClick(); });
    m_closing = false;
    return stored;
}

bool TUF1::canClose()
{
    bool ok = true;
    guardedCall([&] { ok = FormCloseQuery(); });
    return ok;
}

bool TUF1::fioKeyDown(QKeyEvent *k)
{
    if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
        focusNextChild(); // moves on like Tab; it does not save
        return true;
    }
    return editorKeyDown(k->key(), k->modifiers(), k->nativeVirtualKey(), tb_save, tb_Exit);
}

bool TUF1::eventFilter(QObject *watched, QEvent *event)
{
    if (keyPressTaken(event, [this](QKeyEvent *k) { return fioKeyDown(k); }))
        return true;
    return ModalWindow::eventFilter(watched, event);
}
