#pragma once
#include "app/modalwindow.h"
#include "core/users.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QStandardItemModel;
class QTableView;
class QToolBar;
class QToolButton;

// The user list: every user of the program with login and access level; new,
// edit and delete. Only the administrator reaches it.
class TUF : public ModalWindow
{
    Q_OBJECT
public:
    TUF(Context &context, QWidget *parent);

    // Sets the grid up once: its column titles and widths.
    void FormCreate();
    // Each time the window is shown: the list of users read anew.
    void FormActivate() override;
    void FillGrid();
    // The new-record button: the editor opens for a new user.
    void tb_newClick();
    // The edit button: the editor opens for the selected user.
    void tb_editClick();
    // The delete button: the selected user deleted after asking (never the administrator).
    void tb_delClick();
    // The exit button: the list of users closes.
    void tb_exitClick();
    bool GridKeyDown(int key, Qt::KeyboardModifiers mods);

    // The text of column `col` of the current row (column 0: the id; "" for the empty row).
    QString currentCell(int col) const;
    int currentRow() const;
    void selectRow(int row);
    QStandardItemModel *model() const { return m_model; }

    QToolBar *ToolBar1;
    QToolButton *tb_new, *tb_edit, *tb_del, *tb_exit;
    QTableView *Grid;
    QLabel *sBar[2];

signals:
    // The editor is asked for: a new user, or the user `id`.
    void newRequested();
    void editRequested(qint64 id);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QStandardItemModel *m_model;
};

// The user editor: full name, login, password and access level of a new user
// or of the list's current row.
class TUF1 : public ModalWindow
{
    Q_OBJECT
public:
    TUF1(Context &context, QWidget *parent);

    // Each time the editor is shown: the user's fields (or empty ones for a new user).
    void FormActivate() override;
    // A field of the user edited: the editor marks it unsaved.
    void fioChange();
    // Stores the user and closes; false when nothing was stored.
    // "Сохранить изменения": the user stored; false when refused (told why).
    bool tb_saveClick();
    // "Выход": the editor closes, asking first about unsaved changes.
    void tb_ExitClick();
    bool FormCloseQuery();
    bool fioKeyDown(QKeyEvent *k);

    // Shows the editor for a new user, or for the user `id`.
    void openNew();
    void openEdit(qint64 id);

    bool NewRecord = true;
    qint64 EditedId = -1;
    bool Modified = false;

    QToolButton *tb_save, *tb_Exit;
    QGroupBox *gbox;
    QLineEdit *fio, *login, *pass;
    QComboBox *level;
    QLabel *sBar[2];

    int exec() override;

signals:
    // A user was stored, or found gone: the list is read again.
    void usersChanged();

protected:
    bool canClose() override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool m_closing = false;    // inside the close question: a save must not close again
    bool m_missing = false;    // the row to edit is gone: the editor is not shown
    core::UserRecord m_loaded; // the user as loaded or last stored
};
