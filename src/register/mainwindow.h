#pragma once
// The main window: the searchable list of cards (shown from core::ListService),
// the birthday calendar and the commands on cards; at its first activation it
// opens the session's database and asks for the login.

#include "app/context.h"
#include "app/state.h"
#include "app/windowid.h"
#include "core/liststatement.h"
#include "db/shared.h"
#include "db/statements.h"

struct Session;

#include <QMainWindow>
#include <QElapsedTimer>
#include <QStyledItemDelegate>
#include <functional>
#include <memory>

class QAction;
class QActionGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QTableView;
class QToolBar;
class QToolButton;
class ListModel;
namespace core {
class ListService;
} // namespace core

class TMF : public QMainWindow
{
    Q_OBJECT
public:
    explicit TMF(Session &session);
    ~TMF() override;

    SharedDb &db; // the connection, its transactions and the door
    // What the other windows reach: the shared queries and the windows.
    Context &context() { return m_ctx; }

    // Start-up and exit.
    void FormCreate();
    // The start-up, once: the settings, the database, the login, the list.
    void FormActivate();
    bool OpenDatabase();
    // At an administrator's login: a database made by an older version is
    // upgraded if he agrees.
    void offerUpgrade();
    // At the exit: the scratch folders of copies that have ended are removed.
    void ClearTemp();
    // The exit button: the program ends.
    void tb_exitClick();
    // Ends the program (the hook lets tests watch it instead).
    void EndProgram();
    bool ended() const { return m_ended; }
    std::function<void()> onEndProgram;

    // The list.
    // Fills the list anew for the search boxes and the sort order: every
    // refill goes through here, such as a card stored or deleted in the card
    // window or cards merged. Nothing until the start-up has run.
    void FillList();
    // A search box edited (or "any position" ticked): the list is searched again.
    void ed_nameChange();
    // "По имени": the list sorted by surname.
    void N6Click();
    // "По месту работы": the list sorted by work place.
    void N7Click();
    // "По должности": the list sorted by post.
    void N8Click();
    // The clear button: every search box emptied, the whole list shown.
    void BitBtn1Click();
    // The window resized: the columns share the list's width.
    void FormResize();
    void GridDrawCell(QPainter *p, const QStyleOptionViewItem &option, const QModelIndex &index);
    // Keys on the list: Enter opens the card for reading, F4 for editing, F7 a new one.
    bool GridKeyDown(int key, Qt::KeyboardModifiers mods);
    // A row double-clicked: the card opens for reading.
    void GridDblClick();
    ListFilter currentFilter() const;
    ListSort currentSort() const;

    // Birthdays.
    void GetBirthDays();
    // Another month chosen: the number of its birthdays is shown.
    void MonthBoxChange();
    // "Дни рождения": the list shows the chosen month's birthdays.
    void btDateClick();

    // Commands.
    // "Новая запись": the card window opens for a new card (full rights).
    void N4Click();
    // "Редактирование": the selected card opens for editing (full rights).
    void N15Click();
    // "Просмотр": the selected card opens for reading.
    void N3Click();
    // "Удалить": the selected card deleted after asking (full rights).
    void N17Click();
    // "Организации": the list of organizations opens.
    void N13Click();
    // "Отделы": the list of departments opens.
    void N14Click();
    // "Должности": the list of posts opens.
    void N18Click();
    // "Управление пользователями": the users' list opens (the administrator).
    void N2Click();
    // "О программе": the about window opens.
    void N10Click();
    void FillRefLists();
    void ExportCard(qint64 id);
    // Cards in from a vCard or CSV file, and the list's cards out to one.
    void ImportCards();
    void ExportCards();
    // "Поиск дубликатов...": the groups of probable duplicates across the database (full rights).
    void N23Click();
    // "Телефоны и почта...": the server's address and the user's own device passwords (every user).
    void N24Click();
    // "Печатная форма": the selected card printed into the workbook form.
    void tb_expClick();

    // The record id in column 0 of the selected row ("" for none).
    QString selectedId() const;
    int selectedRow() const;
    void selectRow(int row);
    void setAdminMenuVisible(bool visible);
    void showSessionUser();

    ListModel *model() const { return m_model; }
    // A large list arrives in slices after its first rows are shown.
    bool isFilling() const;
    // Fetches the rest of a fill under way at once.
    void finishFill();

    // Controls.
    QToolBar *ToolBar1;
    QToolButton *tb_new, *tb_edt, *tb_look, *tb_exp, *tb_del, *tb_exit;
    QWidget *tb6;
    QLineEdit *ed_name, *ed_work, *ed_mail, *ed_tel;
    QComboBox *bx_post;
    QCheckBox *check_pos;
    QToolButton *BitBtn1;
    QComboBox *MonthBox;
    QLabel *lb_bdate;
    QToolButton *btDate;
    QTableView *Grid;
    QLabel *sBar[5];
    QAction *N4, *N15, *N3, *N17, *N2, *N19, *N20, *N13, *N14, *N18, *N6, *N7, *N8, *N10;
    QAction *N21, *N22; // import and export of cards
    QAction *N23;       // the duplicates
    QAction *N24;       // phones and mail programs

signals:
    // A command asks for the card: a new one (id 0), or the card `id` to edit or read.
    void openCard(CardMode mode, qint64 id);
    // The start-up asks for the login (answered before the emit returns).
    void loginRequested();
    // A command asks for another window.
    void showWindow(WindowId window);
    // The reference values were read, for the card's drop-down lists.
    void refItemsRead(sql::Ref ref, const QStringList &values);

protected:
    void closeEvent(QCloseEvent *e) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildToolBar();
    void buildMenu();
    QWidget *buildFilterBand();
    void buildGrid();
    void buildStatusBar();
    // Shows what the list service gives: the selected row kept across a
    // refill, the rows' heights, the progress of a long fill.
    void connectList();
    void keepWantedRow();
    void growRow(int row, int height);

    Context &m_ctx;
    ListModel *m_model;
    QActionGroup *m_sortGroup;
    bool m_ended = false;
    QList<QPair<int, int>> m_pendingHeights;
    QList<int> m_grownRows;      // rows made taller than 18 pixels since the last refill
    bool m_loggingIn = false;    // the login window is open
    core::ListService *m_list;   // the list: its rows, their fill, the index, colleagues' changes
    int m_noteRow = 0;           // the selected row before a refill
    QList<int> m_noteHeights;    // the rows' heights before a refill that keeps them
    int m_wantedRow = 0;         // the selected row number to keep across the refill
    int m_clampedRow = 0;        // where the selection stands until that row arrives
    QElapsedTimer m_refillTimer; // since the last refill
    QProgressBar *m_progress = nullptr;
    QString m_othersId; // the selected card while colleagues' changes are read
    int m_othersScroll = 0;
};

// Draws the list's cells through the main window's GridDrawCell.
class GridDelegate : public QStyledItemDelegate
{
public:
    GridDelegate(TMF *owner) : QStyledItemDelegate(owner), m_owner(owner) {}
    void paint(QPainter *p, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        m_owner->GridDrawCell(p, option, index);
    }

private:
    TMF *m_owner;
};
