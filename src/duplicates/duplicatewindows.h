#pragma once
// Duplicates across the whole card index: the groups of probable duplicates,
// found beside the window's thread, and the merge of a group into one card,
// field by field as the user picks.

#include "app/modalwindow.h"
#include "core/cardediting.h"
#include "core/duplicates.h"

#include <QList>
#include <memory>

class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QTreeWidget;

// The list of groups: each group's cards (name, work, birthday, phones,
// e-mails) under the reasons they look like one person.
class TDupF : public ModalWindow
{
    Q_OBJECT
public:
    TDupF(Context &context, QWidget *parent);
    ~TDupF() override;

    // Looks for the groups anew (beside the window's thread).
    void FormActivate() override;
    // Opens the merge of the current group.
    void bt_mergeClick();
    // Marks the current group's cards as distinct people.
    void bt_distinctClick();
    // Forgets every "Не дубликаты" mark.
    void bt_forgetClick();
    // Looks for the groups again.
    void bt_findClick();
    // "Закрыть": the window closes.
    void bt_closeClick();

    // The group of the current row; -1 when none.
    int currentGroup() const;
    bool searching() const { return m_search != nullptr; }
    const QList<core::FoundGroup> &groups() const { return m_groups; }

    QTreeWidget *Tree;
    QPushButton *bt_merge, *bt_distinct, *bt_forget, *bt_find, *bt_close;
    QLabel *sBar;
    QProgressBar *m_busy;

signals:
    // The group's cards are wanted in the merge window.
    void mergeRequested(const core::FoundGroup &group);
    // Cards were merged: the main list follows.
    void cardsMerged();

public slots:
    // A merge stored: the groups are looked for anew.
    void merged();

private:
    void found(const QList<core::FoundGroup> &groups, const QString &error);

    QList<core::FoundGroup> m_groups;
    std::unique_ptr<core::DuplicateSearch> m_search;
};

// The merge of one group: a table of the fields against the group's cards,
// the value kept for each field ticked; the user ticks another by keyboard
// (arrows, Space) or mouse. Accounts, "Прочее" and "Примечания" are joined.
class TMrgF : public ModalWindow
{
    Q_OBJECT
public:
    TMrgF(Context &context, QWidget *parent);

    // Shows the group's cards, each field's first non-empty value ticked.
    void open(const core::FoundGroup &group);
    // Stores the merged card and deletes the others.
    void bt_okClick();
    // "Отмена": the window closes and nothing is merged.
    void bt_cancelClick();
    // A value ticked: the others of its field are unticked.
    void TableItemChanged(int row, int column);

    // The value picked for each field: the column of the card (0 the first).
    QHash<QString, int> choice() const;

    QTableWidget *Table;
    QPushButton *bt_ok, *bt_cancel;
    QLabel *lb_info;

signals:
    void merged();

private:
    QList<QPair<qint64, core::CardBaseline>> m_loaded;
    QStringList m_rowColumns; // the column of each table row ("fpath": the photo)
    bool m_filling = false;
};
