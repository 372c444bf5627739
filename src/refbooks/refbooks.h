#pragma once
// The three reference books (posts, departments, organizations): one list
// window and one value editor, each written once and configured three times.

#include "app/modalwindow.h"
#include "db/statements.h"

#include <QSize>

class QLabel;
class QLineEdit;
class QTableView;
class QToolButton;
class RefListModel;
class RefListWindow;
class RefEditWindow;

// What differs between the three books.
struct RefBookKind
{
    sql::Ref ref;
    QString name;          // the value's name for screen readers and messages
    QString bookName;      // the book's name for screen readers
    QString caption;       // of the list window
    QString label;         // bold label above the value
    QString header;        // of the list's value column
    const char *searchBox; // object name of the list's search box
    const char *editBox;   // object name of the editor's value box
    QSize listSize;        // client area of the list window
    bool listResizable;
    QString listNewPanel;  // second status panel of the list window
    QSize editSize;        // client area of the editor
    QString editKeysPanel; // first status panel of the editor
    int editKeysWidth;
    bool editMaximize; // the editor's title bar has a maximize button
};

const RefBookKind &postsKind();
const RefBookKind &departmentsKind();
const RefBookKind &organizationsKind();

class RefListWindow : public ModalWindow
{
    Q_OBJECT
public:
    RefListWindow(const RefBookKind &kind, Context &context, QWidget *parent);
    const RefBookKind &kind() const { return m_kind; }

    // Runs each time the window is shown and after its editor stored a value.
    void FormActivate() override;
    // The list again from the database for the search box's text.
    void FillGrid();
    // The search box edited: the list narrows to the matching values.
    void SearchChange();
    // The clear button: the search box emptied, the whole list shown.
    void sb_lookClick();
    // The new-record button: the editor opens for a new value (full rights).
    void tb_newClick();
    // The edit button: the editor opens for the selected value (full rights).
    void tb_editClick();
    // The delete button: the selected value deleted after asking (full rights).
    void tb_delClick();
    // The exit button: the list closes.
    void tb_exitClick();
    // F4 and F7, in the grid and in the search box; true when the key was used.
    bool PGridKeyDown(int key, Qt::KeyboardModifiers mods);

    // The current row: its pk_id as text (empty on the blank row) and its value.
    QString currentId() const;
    QString currentValue() const;
    int currentRow() const;
    void selectRow(int row);
    // Makes current the row of `id`, or when `id` is 0 the newest row holding
    // `value`; false when the list does not hold it.
    bool showValue(qint64 id, const QString &value);
    // The list read again after its editor stored `value` (as `id`, 0 when new):
    // the value shows, even when the search has to go for it.
    void showStored(qint64 id, const QString &value);

    QToolButton *tb_new, *tb_edit, *tb_del, *tb_exit, *sb_look;
    QLineEdit *searchBox; // bx_post, ed_dep or ed_org
    QTableView *PGrid;
    QLabel *sBar[2];

signals:
    // The editor is asked for: a new value, or the row `id` holding `value`.
    void newRequested();
    void editRequested(qint64 id, const QString &value);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *e) override;

private:
    const RefBookKind &m_kind;
    RefListModel *m_model;
};

class RefEditWindow : public ModalWindow
{
    Q_OBJECT
public:
    RefEditWindow(const RefBookKind &kind, Context &context, QWidget *parent);
    const RefBookKind &kind() const { return m_kind; }

    // Shows the editor for a new value, or for the value `value` stored as `id`.
    void openNew();
    void openEdit(qint64 id, const QString &value);
    // What the editor edits when it is next shown (id 0: a new value).
    void setEdited(qint64 id, const QString &value);

    // A new value is edited.
    bool NewRecord = true;
    // The value changed since it was loaded or stored.
    bool Modified = false;

    // Each time the editor is shown: the value to edit, or an empty one.
    void FormActivate() override;
    // The value edited: the editor marks it unsaved.
    void ValueChange();
    // "Сохранить изменения": the value stored; the list shows it.
    void tb_saveClick();
    // "Выход": the editor closes, asking first about an unsaved value.
    void tb_ExitClick();
    // Whether the editor may close now; asks when the value was changed.
    bool FormCloseQuery();
    // Enter, Ctrl+S and Esc in the value box; true when the key was used.
    bool ValueKeyDown(int key, Qt::KeyboardModifiers mods);

    QToolButton *tb_save, *tb_Exit;
    QLineEdit *valueBox; // ed_post, ed_dep or ed_org
    QLabel *sBar[2];

signals:
    // The value was stored as `id` (0 when new): its list shows it.
    void valueStored(qint64 id, const QString &value);
    // A value was stored: the card's drop-down lists are filled again.
    void valueSaved();

protected:
    bool canClose() override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Stores the value; false when there was nothing to store.
    bool store();

    const RefBookKind &m_kind;
    QString m_mode;   // the caption before "(!)"
    qint64 m_id = 0;  // the value being edited
    QString m_loaded; // its value as shown when the editor opened or last stored
    QString m_opened; // the value the list showed when the editor was asked for
};

// The list window and the editor of each book: posts (TPF, TPF1),
// departments (TDF, TDF1) and organizations (TGF, TGF1).
class TPF : public RefListWindow
{
    Q_OBJECT
public:
    TPF(Context &context, QWidget *parent) : RefListWindow(postsKind(), context, parent) {}
};
class TDF : public RefListWindow
{
    Q_OBJECT
public:
    TDF(Context &context, QWidget *parent) : RefListWindow(departmentsKind(), context, parent) {}
};
class TGF : public RefListWindow
{
    Q_OBJECT
public:
    TGF(Context &context, QWidget *parent) : RefListWindow(organizationsKind(), context, parent) {}
};
class TPF1 : public RefEditWindow
{
    Q_OBJECT
public:
    TPF1(Context &context, QWidget *parent) : RefEditWindow(postsKind(), context, parent) {}
};
class TDF1 : public RefEditWindow
{
    Q_OBJECT
public:
    TDF1(Context &context, QWidget *parent) : RefEditWindow(departmentsKind(), context, parent) {}
};
class TGF1 : public RefEditWindow
{
    Q_OBJECT
public:
    TGF1(Context &context, QWidget *parent) : RefEditWindow(organizationsKind(), context, parent) {}
};
