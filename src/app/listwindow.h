#pragma once
// The parts a list window of records is made of, shared by the reference
// lists and the user list: the tool bar with new, edit, delete and exit, the
// grid of whole rows with a line under each, and the status bar's panels.

#include <QString>

class QLabel;
class QStatusBar;
class QTableView;
class QToolBar;
class QToolButton;
class QWidget;

struct ListToolBar
{
    QToolBar *bar;
    QToolButton *tb_new, *tb_edit, *tb_del, *tb_exit;
};

// New and edit at the left, delete after `gapBeforeDelete` pixels, exit at
// the right end (followed by a small gap when `gapAfterExit`). Delete and
// exit show no hint; `deleteName` names delete for screen readers.
ListToolBar makeListToolBar(QWidget *parent, int gapBeforeDelete, bool gapAfterExit, const QString &deleteName);

struct EditorToolBar
{
    QToolBar *bar;
    QToolButton *tb_save, *tb_Exit;
};

// The editors' tool bar: save at the left, exit at the right end.
EditorToolBar makeEditorToolBar(QWidget *parent);

// Rows with a thin line under each and none between columns, one text line
// each, 18 pixels high (see setupRecordGrid); the model must be set first.
void setupListGrid(QTableView *grid);

// Two status panels of fixed widths, never narrower than their texts (a
// larger system font would clip them); the window's size grip when `grip`.
QStatusBar *statusPanels(QWidget *parent, QLabel **panels, const QString (&texts)[2], const int (&widths)[2],
                         bool grip = false);
