#pragma once
#include <QColor>

class QTableView;

// A list of records as the program's windows show them: whole rows, one at a
// time, no editing, rows 18 pixels high, columns the user may resize and
// move, no row header, no horizontal scroll bar, a light-yellow header with
// left-aligned texts. A row selected without moving the current row (as a
// screen reader selects) becomes the current one, so that the commands act
// on the row that is highlighted. The model must be set first.
void setupRecordGrid(QTableView *grid, const QColor &header, int headerPadding);

// The current row's number (0 when there is none).
int currentGridRow(const QTableView *grid);
// Makes `row` the current and only selected row, in sight.
void selectGridRow(QTableView *grid, int row);
