#include "recordgrid.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QTableView>

int currentGridRow(const QTableView *grid)
{
    const QModelIndex i = grid->currentIndex();
    return i.isValid() ? i.row() : 0;
}

void selectGridRow(QTableView *grid, int row)
{
    const QModelIndex i = grid->model()->index(row, 1);
    grid->selectionModel()->setCurrentIndex(i, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    grid->scrollTo(i);
}

void setupRecordGrid(QTableView *grid, const QColor &header, int headerPadding)
{
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    grid->setTabKeyNavigation(false);
    grid->verticalHeader()->hide();
    grid->verticalHeader()->setMinimumSectionSize(1);
    grid->verticalHeader()->setDefaultSectionSize(18);
    QHeaderView *h = grid->horizontalHeader();
    h->setSectionsMovable(true);
    h->setSectionResizeMode(QHeaderView::Interactive);
    h->setHighlightSections(false);
    h->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    h->setStyleSheet(QStringLiteral("QHeaderView::section { background-color: %1; border: none; "
                                    "border-right: 1px solid #c9c9a8; border-bottom: 1px solid #c9c9a8; "
                                    "padding: 2px %2px; }")
                         .arg(header.name())
                         .arg(headerPadding));
    QObject::connect(grid->selectionModel(), &QItemSelectionModel::selectionChanged, grid, [grid] {
        const QModelIndexList rows = grid->selectionModel()->selectedRows(1);
        if (rows.size() == 1 && rows.first().row() != grid->currentIndex().row())
            grid->selectionModel()->setCurrentIndex(rows.first(), QItemSelectionModel::NoUpdate);
    });
}
