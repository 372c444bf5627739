#include "duplicatewindows.h"

#include "app/access.h"
#include "app/application.h"
#include "app/context.h"
#include "app/messages.h"
#include "app/session.h"
#include "core/cardfields.h"
#include "core/cardmerge.h"
#include "db/shared.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

QString joinedNonEmpty(const core::CardRecord &card, std::initializer_list<const char *> columns,
                       const QString &separator)
{
    QStringList parts;
    for (const char *c : columns)
        if (const QString v = card.value(QLatin1String(c)); !core::isEmptyValue(QLatin1String(c), v))
            parts << v.trimmed();
    return parts.join(separator);
}

QString shownValue(const QString &column, const QString &value)
{
    // A habit (a flag column) reads "да" or "нет"; an empty date reads nothing.
    if (core::isFlagColumn(column))
        return value == QLatin1String("1") ? QStringLiteral("да") : QStringLiteral("нет");
    return core::isEmptyValue(column, value) ? QString() : value;
}

} // namespace

// ------------------------------------------------------------------ TDupF

TDupF::TDupF(Context &context, QWidget *parent) : ModalWindow(context, parent)
{
    setObjectName(QStringLiteral("TDupF"));
    setWindowTitle(QStringLiteral("Поиск дубликатов"));
    setAccessible(this, windowTitle());

    Tree = new QTreeWidget(this);
    Tree->setObjectName(QStringLiteral("Tree"));
    Tree->setColumnCount(5);
    Tree->setHeaderLabels({QStringLiteral("Имя"), QStringLiteral("Место работы"), QStringLiteral("Дата рождения"),
                           QStringLiteral("Телефоны"), QStringLiteral("E-mail")});
    Tree->setRootIsDecorated(true);
    Tree->setAlternatingRowColors(true);
    Tree->header()->setStretchLastSection(true);
    setAccessible(Tree, QStringLiteral("Группы вероятных дубликатов"));

    bt_merge = makePushButton(this, "bt_merge", QStringLiteral("Объединить..."));
    bt_distinct = makePushButton(this, "bt_distinct", QStringLiteral("Не дубликаты"));
    bt_forget = makePushButton(this, "bt_forget", QStringLiteral("Забыть отметки «Не дубликаты»"));
    bt_find = makePushButton(this, "bt_find", QStringLiteral("Искать снова"));
    bt_close = makePushButton(this, "bt_close", QStringLiteral("Закрыть"));
    auto *buttons = new QHBoxLayout;
    for (QPushButton *b : {bt_merge, bt_distinct, bt_forget, bt_find})
        buttons->addWidget(b);
    buttons->addStretch(1);
    buttons->addWidget(bt_close);

    auto *status = new QStatusBar(this);
    status->setSizeGripEnabled(true);
    sBar = new QLabel(status);
    sBar->setObjectName(QStringLiteral("sBar"));
    status->addWidget(sBar, 1);
    m_busy = new QProgressBar(status);
    m_busy->setRange(0, 0); // turning while the search runs
    m_busy->setMaximumWidth(160);
    setAccessible(m_busy, QStringLiteral("Идёт поиск"));
    status->addPermanentWidget(m_busy);

    auto *v = new QVBoxLayout(this);
    v->setContentsMargins(6, 6, 6, 0);
    v->addWidget(Tree, 1);
    v->addLayout(buttons);
    v->addWidget(status);
    resize(900, 560);

    onSignal(bt_merge, &QPushButton::clicked, this, [this] { bt_mergeClick(); });
    onSignal(bt_distinct, &QPushButton::clicked, this, [this] { bt_distinctClick(); });
    onSignal(bt_forget, &QPushButton::clicked, this, [this] { bt_forgetClick(); });
    onSignal(bt_find, &QPushButton::clicked, this, [this] { bt_findClick(); });
    onSignal(bt_close, &QPushButton::clicked, this, [this] { bt_closeClick(); });
    onSignal(Tree, &QTreeWidget::itemActivated, this, [this] { bt_mergeClick(); });
}

TDupF::~TDupF() = default;

void TDupF::FormActivate()
{
    if (m_search)
        return; // one search at a time; its groups come when it ends
    Tree->clear();
    m_groups.clear();
    sBar->setText(QStringLiteral(" Поиск дубликатов во всей базе..."));
    setAccessible(sBar, sBar->text().trimmed());
    m_busy->show();
    for (QPushButton *b : {bt_merge, bt_distinct, bt_find})
        b->setEnabled(false);
    m_search = std::make_unique<core::DuplicateSearch>(
        m_ctx.db.IBDbase.databaseName, [this](const QList<core::FoundGroup> &groups, const QString &error) {
            QMetaObject::invokeMethod(
                this, [this, groups, error] { guardedCall([&] { found(groups, error); }); }, Qt::QueuedConnection);
        });
}

void TDupF::found(const QList<core::FoundGroup> &groups, const QString &error)
{
    m_search.reset();
    m_busy->hide();
    bt_find->setEnabled(true);
    // Nothing to merge or tell apart in an empty list.
    for (QPushButton *b : {bt_merge, bt_distinct})
        b->setEnabled(!groups.isEmpty());
    m_groups = groups;
    Tree->clear();
    for (int g = 0; g < groups.size(); ++g) {
        auto *top = new QTreeWidgetItem(Tree, {QStringLiteral("Группа %1: %2 (карточек: %3)")
                                                   .arg(g + 1)
                                                   .arg(core::duplicateReasonText(groups[g].group.reasons))
                                                   .arg(groups[g].cards.size())});
        top->setFirstColumnSpanned(true);
        top->setData(0, Qt::UserRole, g);
        for (const core::CardRecord &c : groups[g].cards) {
            auto *item =
                new QTreeWidgetItem(top, {joinedNonEmpty(c, {"fam", "name1", "name2"}, QStringLiteral(" ")),
                                          joinedNonEmpty(c, {"work", "dep", "post"}, QStringLiteral(", ")),
                                          joinedNonEmpty(c, {"bdate"}, QString()),
                                          joinedNonEmpty(c, {"wtel", "htel", "wmob", "hmob"}, QStringLiteral(", ")),
                                          joinedNonEmpty(c, {"wmail", "hmail"}, QStringLiteral(", "))});
            item->setData(0, Qt::UserRole, g);
        }
        top->setExpanded(true);
    }
    // Long work places are cut rather than push the phones and e-mails out of sight.
    for (int c = 0; c < 4; ++c) {
        Tree->resizeColumnToContents(c);
        Tree->setColumnWidth(c, std::min(Tree->columnWidth(c), c == 1 ? 280 : 220));
    }
    if (Tree->topLevelItemCount() > 0)
        Tree->setCurrentItem(Tree->topLevelItem(0));
    const QString text =
        error.isEmpty()
            ? QStringLiteral(" Найдено групп: %1").arg(QLocale(QLocale::Russian).toString(int(groups.size())))
            : QStringLiteral(" Поиск не удался");
    sBar->setText(text);
    setAccessible(sBar, text.trimmed());
    Tree->setFocus();
    if (!error.isEmpty())
        msg::error(this, QStringLiteral("Поиск дубликатов не удался:\r") + error);
}

int TDupF::currentGroup() const
{
    const QTreeWidgetItem *item = Tree->currentItem();
    return item ? item->data(0, Qt::UserRole).toInt() : -1;
}

void TDupF::bt_mergeClick()
{
    const int g = currentGroup();
    if (m_search || g < 0 || g >= m_groups.size()) {
        msg::error(this, QStringLiteral("Выберите группу карточек"));
        return;
    }
    emit mergeRequested(m_groups[g]);
}

void TDupF::bt_distinctClick()
{
    const int g = currentGroup();
    if (m_search || g < 0 || g >= m_groups.size()) {
        msg::error(this, QStringLiteral("Выберите группу карточек"));
        return;
    }
    if (!core::markDistinct(m_ctx.db.access, m_groups[g].group.ids)) {
        msg::error(this, QStringLiteral("Отметки «Не дубликаты» хранятся в базе данных после её обновления: "
                                        "его предлагает администратору вход в программу, или команда "
                                        "zentrax-makedb --upgrade."));
        return;
    }
    delete Tree->topLevelItem(
        Tree->indexOfTopLevelItem(Tree->currentItem()->parent() ? Tree->currentItem()->parent() : Tree->currentItem()));
    FormActivate();
}

void TDupF::bt_forgetClick()
{
    if (m_search)
        return;
    if (!msg::askYesNo(this,
                       QStringLiteral("Забыть все отметки «Не дубликаты»? Такие карточки снова будут "
                                      "находиться как вероятные дубликаты."),
                       QStringLiteral("Внимание!")))
        return;
    if (core::forgetDistinct(m_ctx.db.access) < 0) {
        msg::error(this, QStringLiteral("В этой базе данных нет отметок «Не дубликаты»."));
        return;
    }
    FormActivate();
}

void TDupF::bt_findClick()
{
    FormActivate();
}

void TDupF::bt_closeClick()
{
    close();
}

void TDupF::merged()
{
    emit cardsMerged();
    FormActivate();
}

// ------------------------------------------------------------------ TMrgF

TMrgF::TMrgF(Context &context, QWidget *parent) : ModalWindow(context, parent)
{
    setObjectName(QStringLiteral("TMrgF"));
    setWindowTitle(QStringLiteral("Объединение карточек"));
    setAccessible(this, windowTitle());
    lb_info = new QLabel(QStringLiteral("Отметьте в каждой строке значение, которое останется в карточке "
                                        "(стрелки и пробел или мышь). Аккаунты, «Прочее» и «Примечания» "
                                        "всех карточек объединяются; остальные карточки будут удалены."),
                         this);
    lb_info->setWordWrap(true);
    Table = new QTableWidget(this);
    Table->setObjectName(QStringLiteral("Table"));
    Table->setSelectionMode(QAbstractItemView::SingleSelection);
    Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table->setTabKeyNavigation(false);
    setAccessible(Table, QStringLiteral("Поля карточек"));
    lb_info->setBuddy(Table);
    bt_ok = makePushButton(this, "bt_ok", QStringLiteral("Объединить"));
    bt_cancel = makePushButton(this, "bt_cancel", QStringLiteral("Отмена"));
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(bt_ok);
    buttons->addWidget(bt_cancel);
    auto *v = new QVBoxLayout(this);
    v->addWidget(lb_info);
    v->addWidget(Table, 1);
    v->addLayout(buttons);
    resize(900, 600);
    onSignal(bt_ok, &QPushButton::clicked, this, [this] { bt_okClick(); });
    onSignal(bt_cancel, &QPushButton::clicked, this, [this] { bt_cancelClick(); });
    connect(Table, &QTableWidget::cellChanged, this,
            [this](int r, int c) { guardedCall([&] { TableItemChanged(r, c); }); });
    // A double click or Enter on a value ticks it too.
    connect(Table, &QTableWidget::cellActivated, this, [this](int r, int c) {
        if (QTableWidgetItem *item = Table->item(r, c))
            item->setCheckState(Qt::Checked);
    });
}

void TMrgF::open(const core::FoundGroup &group)
{
    // Read again as they are now: the merge compares with this when it stores.
    m_loaded.clear();
    core::CardEditor editor(m_ctx.db.access, m_ctx.session.PhotoFolder);
    for (qint64 id : group.group.ids)
        if (std::optional<core::CardBaseline> card = editor.load(id))
            m_loaded.append({id, *card});
    if (m_loaded.size() < 2) {
        msg::error(parentWidget(), QStringLiteral("Карточки группы уже удалены другим пользователем."));
        emit merged();
        return;
    }
    m_filling = true;
    // Nothing of a group shown before stays: its rows go with their items.
    Table->clear();
    Table->setRowCount(0);
    m_rowColumns.clear();
    QStringList headers;
    for (const auto &[id, card] : m_loaded)
        headers << QStringLiteral("№ %1 %2").arg(id).arg(card.card.value(QStringLiteral("fam")).trimmed());
    Table->setColumnCount(int(m_loaded.size()));
    Table->setHorizontalHeaderLabels(headers);
    QStringList rowLabels;
    auto addRow = [&](const QString &column, const QString &label, const QStringList &values) {
        // A field empty on every card, or the same on all, needs no choice.
        const bool differs =
            std::any_of(values.begin(), values.end(), [&](const QString &v) { return v != values[0]; });
        if (!differs)
            return;
        const int row = Table->rowCount();
        Table->insertRow(row);
        m_rowColumns << column;
        rowLabels << label;
        int ticked = -1;
        for (int c = 0; c < values.size(); ++c) {
            // Shown as a person reads it: a habit as "да"/"нет", an empty date as nothing.
            const QString shown = shownValue(column, values[c]);
            auto *item = new QTableWidgetItem(shown);
            // An empty value is read out as such, not as silence.
            item->setData(Qt::AccessibleTextRole, shown.isEmpty() ? QStringLiteral("пусто") : shown);
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
            if (ticked < 0 && !core::isEmptyValue(column, values[c]))
                ticked = c;
            item->setCheckState(Qt::Unchecked);
            Table->setItem(row, c, item);
        }
        Table->item(row, std::max(ticked, 0))->setCheckState(Qt::Checked);
    };
    for (const core::CardField &f : core::cardFields()) {
        if (f.column == QLatin1String("other") || f.column == QLatin1String("rem"))
            continue;
        QStringList values;
        for (const auto &[id, card] : m_loaded)
            values << card.card.value(f.column);
        addRow(f.column, f.label, values);
    }
    QStringList photos;
    for (const auto &[id, card] : m_loaded)
        photos << card.card.fpath;
    addRow(QStringLiteral("fpath"), QStringLiteral("Фотография"), photos);
    Table->setVerticalHeaderLabels(rowLabels);
    Table->resizeColumnsToContents();
    Table->horizontalHeader()->setStretchLastSection(true);
    m_filling = false;
    if (Table->rowCount() > 0)
        Table->setCurrentCell(0, 0);
    Table->setFocus();
    showModal();
}

void TMrgF::TableItemChanged(int row, int column)
{
    if (m_filling)
        return;
    QTableWidgetItem *item = Table->item(row, column);
    if (!item)
        return;
    m_filling = true;
    // One value a field: the one ticked; unticking the only one keeps it.
    for (int c = 0; c < Table->columnCount(); ++c)
        if (QTableWidgetItem *other = Table->item(row, c))
            other->setCheckState(c == column ? Qt::Checked : Qt::Unchecked);
    m_filling = false;
}

QHash<QString, int> TMrgF::choice() const
{
    QHash<QString, int> out;
    for (int r = 0; r < Table->rowCount() && r < m_rowColumns.size(); ++r)
        for (int c = 0; c < Table->columnCount(); ++c)
            if (Table->item(r, c) && Table->item(r, c)->checkState() == Qt::Checked)
                out.insert(m_rowColumns[r], c);
    return out;
}

void TMrgF::bt_okClick()
{
    if (!m_ctx.session.SessionUser.fullRights()) {
        msg::error(this, QStringLiteral("Недостаточно прав"));
        return;
    }
    QList<core::CardBaseline> others;
    for (qsizetype i = 1; i < m_loaded.size(); ++i)
        others << m_loaded[i].second;
    const core::CardBaseline result = core::mergeInto(m_loaded.first().second, others, choice());
    core::CardEditor editor(m_ctx.db.access, m_ctx.session.PhotoFolder);
    const core::SaveResult r =
        editor.mergeGroup(m_loaded.first().first, result, m_loaded, m_ctx.session.SessionUser.id);
    if (r.outcome != core::SaveResult::Outcome::Stored) {
        msg::error(this, r.outcome == core::SaveResult::Outcome::Clash
                             ? QStringLiteral("Карточку № %1 только что изменил другой пользователь. Ничего не "
                                              "сохранено; группа будет найдена заново.")
                                   .arg(r.id)
                             : QStringLiteral("Карточку группы только что удалил другой пользователь. Ничего не "
                                              "сохранено; группа будет найдена заново."));
        close();
        emit merged();
        return;
    }
    close();
    emit merged();
}

void TMrgF::bt_cancelClick()
{
    close();
}
