#include "listwindow.h"

#include "access.h"
#include "icons.h"
#include "recordgrid.h"

#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <algorithm>

namespace {

class RowLineDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter *p, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::paint(p, option, index);
        p->save();
        p->setPen(QColor(212, 212, 212));
        p->drawLine(option.rect.bottomLeft(), option.rect.bottomRight());
        p->restore();
    }
};

} // namespace

namespace {

QToolBar *plainToolBar(QWidget *parent)
{
    auto *bar = new QToolBar(parent);
    bar->setObjectName(QStringLiteral("ToolBar1"));
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setIconSize(QSize(32, 32));
    bar->setFixedHeight(44);
    bar->setStyleSheet(QStringLiteral("QToolBar { border: none; }"));
    setAccessible(bar, QStringLiteral("Панель инструментов"));
    return bar;
}

QWidget *spring(QWidget *parent)
{
    auto *w = new QWidget(parent);
    w->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    return w;
}

} // namespace

EditorToolBar makeEditorToolBar(QWidget *parent)
{
    QToolBar *bar = plainToolBar(parent);
    EditorToolBar t{bar, makeToolButton(bar, "tb_save", icons::Id::Save, QStringLiteral("Сохранить изменения")),
                    makeToolButton(bar, "tb_Exit", icons::Id::Exit, QStringLiteral("Выход"))};
    bar->addWidget(toolBarGap(bar, 7));
    bar->addWidget(t.tb_save);
    bar->addWidget(spring(bar));
    bar->addWidget(t.tb_Exit);
    bar->addWidget(toolBarGap(bar, 7));
    return t;
}

ListToolBar makeListToolBar(QWidget *parent, int gapBeforeDelete, bool gapAfterExit, const QString &deleteName)
{
    QToolBar *bar = plainToolBar(parent);
    ListToolBar t{bar, makeToolButton(bar, "tb_new", icons::Id::New, QStringLiteral("Регистрация документа")),
                  makeToolButton(bar, "tb_edit", icons::Id::Edit, QStringLiteral("Редактирование документа")),
                  makeToolButton(bar, "tb_del", icons::Id::Delete, QString()),
                  makeToolButton(bar, "tb_exit", icons::Id::Exit, QString())};
    // Screen readers hear the command, whatever the hint says (or when there is none).
    setAccessible(t.tb_new, QStringLiteral("Новая запись"));
    setAccessible(t.tb_edit, QStringLiteral("Редактирование"));
    setAccessible(t.tb_del, deleteName);
    setAccessible(t.tb_exit, QStringLiteral("Выход"));
    bar->addWidget(toolBarGap(bar, 7));
    bar->addWidget(t.tb_new);
    bar->addWidget(toolBarGap(bar, 7));
    bar->addWidget(t.tb_edit);
    bar->addWidget(toolBarGap(bar, gapBeforeDelete));
    bar->addWidget(t.tb_del);
    bar->addWidget(spring(bar));
    bar->addWidget(t.tb_exit);
    if (gapAfterExit)
        bar->addWidget(toolBarGap(bar, 7));
    return t;
}

void setupListGrid(QTableView *grid)
{
    grid->setItemDelegate(new RowLineDelegate(grid));
    setupRecordGrid(grid, QColor(255, 255, 179), 0);
    grid->setShowGrid(false);
    grid->setWordWrap(false);
    grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
}

QStatusBar *statusPanels(QWidget *parent, QLabel **panels, const QString (&texts)[2], const int (&widths)[2], bool grip)
{
    auto *bar = new QStatusBar(parent);
    bar->setObjectName(QStringLiteral("sBar"));
    bar->setSizeGripEnabled(grip);
    for (int i = 0; i < 2; ++i) {
        panels[i] = new QLabel(texts[i], bar);
        panels[i]->setObjectName(QStringLiteral("sBar%1").arg(i));
        panels[i]->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
        // The stated width, unless the text would be cut: the editors' 220
        // and 170 pixels fit their key hints in a Windows font, and with a
        // wider desktop font the first panel grows to its text, which must
        // be read whole.
        const int textWidth = panels[i]->fontMetrics().horizontalAdvance(texts[i]) + 12;
        panels[i]->setFixedWidth(std::max(widths[i], textWidth));
        setAccessible(panels[i], texts[i].trimmed());
        bar->addWidget(panels[i]);
    }
    return bar;
}
