#include "devicewindow.h"

#include "app/access.h"
#include "app/application.h"
#include "app/context.h"
#include "app/keys.h"
#include "app/messages.h"
#include "app/session.h"
#include "carddav/davsettings.h"
#include "carddav/devicepasswords.h"
#include "core/users.h"
#include "db/shared.h"

#include <QClipboard>
#include <QDialog>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>

namespace {

const QString kNotUpgraded = QStringLiteral("его предлагает администратору вход в программу, или команда "
                                            "zentrax-makedb --upgrade.");

// A question's dialog: the text, the fields, then the two buttons at the right.
void layQuestion(QDialog &d, QWidget *info, QLayout *fields, QPushButton *ok, QPushButton *cancel)
{
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto *v = new QVBoxLayout(&d);
    v->addWidget(info);
    v->addLayout(fields);
    v->addLayout(buttons);
    d.setTabOrder(ok, cancel);
    d.resize(std::max(d.sizeHint().width(), 520), d.sizeHint().height());
}

QLabel *wrappedLabel(QWidget *parent, const char *name)
{
    auto *l = new QLabel(parent);
    l->setObjectName(QLatin1String(name));
    l->setWordWrap(true);
    l->setTextFormat(Qt::PlainText); // a login or label is shown as typed
    return l;
}

QLineEdit *field(QWidget *parent, const char *name, QLabel *caption, const QString &description = QString())
{
    auto *e = new QLineEdit(parent);
    e->setObjectName(QLatin1String(name));
    caption->setBuddy(e);
    setAccessible(e, QString(caption->text()).remove(QLatin1Char(':')), description);
    return e;
}

QString shownTime(const QDateTime &t)
{
    return t.isValid() ? t.toString(QStringLiteral("dd.MM.yyyy HH:mm")) : QStringLiteral("—");
}

// Runs the dialog until `attempt` succeeds on "ok" or the user gives up; a
// refusal (a DbError) is told over the dialog, which keeps what was typed.
bool runUntilDone(QDialog &d, QPushButton *ok, QPushButton *cancel, const std::function<void()> &attempt,
                  const std::function<void()> &refused)
{
    onSignal(ok, &QPushButton::clicked, &d, [&] {
        try {
            attempt();
        } catch (const db::DbError &e) {
            msg::error(&d, e.text());
            refused();
            return;
        }
        d.accept();
    });
    QObject::connect(cancel, &QPushButton::clicked, &d, &QDialog::reject);
    return d.exec() == QDialog::Accepted;
}

// The new password, shown once: a field to read or copy it from, and what to do with it.
void showPasswordOnce(QWidget *owner, const QString &label, const QString &login, const QString &password)
{
    QDialog d(owner);
    d.setObjectName(QStringLiteral("dlgShown"));
    d.setWindowTitle(QStringLiteral("Пароль устройства"));
    setAccessible(&d, d.windowTitle());
    auto *info = wrappedLabel(&d, "lbShown");
    info->setText(QStringLiteral("Пароль устройства «%1» создан. Он показывается только сейчас и больше нигде не "
                                 "хранится: введите его в телефоне или почтовой программе вместе с логином «%2». "
                                 "Если пароль потеряется, отзовите его и создайте новый.")
                      .arg(label, login));
    auto *caption = new QLabel(QStringLiteral("Пароль:"), &d);
    QLineEdit *ed = field(&d, "edPassword", caption, info->text());
    setAccessible(ed, QStringLiteral("Новый пароль устройства"), info->text());
    ed->setReadOnly(true);
    ed->setText(password);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSizeF(mono.pointSizeF() * 1.25);
    ed->setFont(mono);
    ed->setMinimumWidth(QFontMetrics(mono).horizontalAdvance(password) + 24);
    auto *copied = wrappedLabel(&d, "lbCopied");
    QPushButton *btCopy = makePushButton(&d, "btCopy", QStringLiteral("Копировать"));
    QPushButton *btDone = makePushButton(&d, "btDone", QStringLiteral("Готово"));
    btDone->setDefault(true); // Enter, once the password is typed in

    auto *row = new QHBoxLayout;
    row->addWidget(caption);
    row->addWidget(ed, 1);
    row->addWidget(btCopy);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(copied, 1);
    buttons->addWidget(btDone);
    auto *v = new QVBoxLayout(&d);
    v->addWidget(info);
    v->addLayout(row);
    v->addLayout(buttons);
    d.setTabOrder(ed, btCopy);
    d.setTabOrder(btCopy, btDone);

    QObject::connect(btCopy, &QPushButton::clicked, &d, [&] {
        QGuiApplication::clipboard()->setText(password);
        copied->setText(QStringLiteral("Пароль скопирован в буфер обмена."));
        setAccessible(copied, copied->text());
    });
    QObject::connect(btDone, &QPushButton::clicked, &d, &QDialog::accept);
    ed->setFocus();
    ed->selectAll();
    d.resize(std::max(d.sizeHint().width(), 560), d.sizeHint().height());
    d.exec();
}

} // namespace

TDevF::TDevF(Context &context, QWidget *parent)
    : ModalWindow(context, parent), hashRounds(davdb::DevicePasswords::kRounds)
{
    setObjectName(QStringLiteral("TDevF"));
    setWindowTitle(QStringLiteral("Телефоны и почта"));
    setAccessible(this, windowTitle());

    lbAddress = new QLabel(QStringLiteral("Адрес сервера:"), this);
    lbAddress->setObjectName(QStringLiteral("lbAddress"));
    edAddress = field(this, "edAddress", lbAddress);
    setAccessible(edAddress, QStringLiteral("Адрес сервера для телефонов и почтовых программ"));
    edAddress->setReadOnly(true);
    btAddress = makePushButton(this, "btAddress", QStringLiteral("Изменить адрес..."));
    lbHint = wrappedLabel(this, "lbHint");

    lbList = new QLabel(QStringLiteral("Пароли устройств:"), this);
    lbList->setObjectName(QStringLiteral("lbList"));
    Grid = new QTableWidget(this);
    Grid->setObjectName(QStringLiteral("Grid"));
    Grid->setColumnCount(3);
    Grid->setHorizontalHeaderLabels(
        {QStringLiteral("Устройство"), QStringLiteral("Создан"), QStringLiteral("Последний вход")});
    Grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    Grid->setSelectionMode(QAbstractItemView::SingleSelection);
    Grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Grid->setTabKeyNavigation(false); // Tab leaves the grid; the arrows move in it
    Grid->setAlternatingRowColors(true);
    Grid->setWordWrap(false);
    Grid->verticalHeader()->hide();
    Grid->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    Grid->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    Grid->horizontalHeader()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    Grid->horizontalHeader()->setHighlightSections(false);
    lbList->setBuddy(Grid);
    setAccessible(Grid, QStringLiteral("Пароли устройств"),
                  QStringLiteral("Delete — отозвать пароль, F7 — новый пароль"));
    lbCount = wrappedLabel(this, "lbCount");

    btNew = makePushButton(this, "btNew", QStringLiteral("Новый пароль..."));
    btRevoke = makePushButton(this, "btRevoke", QStringLiteral("Отозвать"));
    btClose = makePushButton(this, "btClose", QStringLiteral("Закрыть"));

    auto *top = new QGridLayout;
    top->addWidget(lbAddress, 0, 0);
    top->addWidget(edAddress, 0, 1);
    top->addWidget(btAddress, 0, 2);
    top->addWidget(lbHint, 1, 1, 1, 2);
    top->setColumnStretch(1, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(btNew);
    buttons->addWidget(btRevoke);
    buttons->addStretch(1);
    buttons->addWidget(btClose);
    auto *v = new QVBoxLayout(this);
    v->addLayout(top);
    v->addSpacing(8);
    v->addWidget(lbList);
    v->addWidget(Grid, 1);
    v->addWidget(lbCount);
    v->addLayout(buttons);
    setTabOrder(edAddress, btAddress);
    setTabOrder(btAddress, Grid);
    setTabOrder(Grid, btNew);
    setTabOrder(btNew, btRevoke);
    setTabOrder(btRevoke, btClose);
    resize(680, 460);

    onSignal(btAddress, &QPushButton::clicked, this, [this] { btAddressClick(); });
    onSignal(btNew, &QPushButton::clicked, this, [this] { btNewClick(); });
    onSignal(btRevoke, &QPushButton::clicked, this, [this] { btRevokeClick(); });
    onSignal(btClose, &QPushButton::clicked, this, [this] { btCloseClick(); });
    Grid->installEventFilter(this);
}

bool TDevF::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == Grid && keyPressTaken(event, [this](QKeyEvent *k) { return GridKeyDown(k->key(), k->modifiers()); }))
        return true;
    return ModalWindow::eventFilter(watched, event);
}

bool TDevF::GridKeyDown(int key, Qt::KeyboardModifiers mods)
{
    if (mods & ~Qt::KeypadModifier)
        return false;
    if (key == Qt::Key_Delete && btRevoke->isEnabled()) {
        btRevokeClick();
        return true;
    }
    if (key == Qt::Key_F7 && btNew->isEnabled()) {
        btNewClick();
        return true;
    }
    return false;
}

void TDevF::FormActivate()
{
    davdb::DavSettings settings(m_ctx.db.access);
    m_passwordsKept = settings.passwordsKept();
    m_settingsKept = m_passwordsKept && settings.kept();
    showAddress();
    fillGrid();
    if (Grid->rowCount() > 0)
        Grid->setFocus();
    else
        (btNew->isEnabled() ? btNew : btClose)->setFocus();
}

void TDevF::showAddress()
{
    const QString login = m_ctx.session.SessionUser.login;
    const QString how = QStringLiteral("Логин — ваш логин в программе: «%1». Пароль — пароль устройства, созданный "
                                       "здесь кнопкой «Новый пароль...», а не пароль входа в программу.")
                            .arg(login);
    QString address, hint;
    if (!m_passwordsKept) {
        address = QStringLiteral("Адрес сервера не задан: база данных не обновлена.");
        hint = QStringLiteral("Пароли устройств и адрес сервера хранятся в базе данных после её обновления: ") +
               kNotUpgraded;
    } else if (!m_settingsKept) {
        address = QStringLiteral("Адрес сервера не задан: база данных не обновлена.");
        hint = QStringLiteral("Адрес сервера хранится в базе данных после её обновления: ") + kNotUpgraded +
               QLatin1Char(' ') + how;
    } else {
        address = davdb::DavSettings(m_ctx.db.access).address();
        hint = address.isEmpty() ? how
                                 : QStringLiteral("Укажите этот адрес в телефоне или почтовой программе "
                                                  "(учётная запись CardDAV). ") +
                                       how;
        if (address.isEmpty())
            address = QStringLiteral("Адрес сервера не задан: его задаёт администратор.");
    }
    edAddress->setText(address);
    edAddress->setCursorPosition(0);
    edAddress->setAccessibleDescription(hint);
    lbHint->setText(hint);
    btAddress->setVisible(m_settingsKept && core::Users::isAdministrator(login));
}

void TDevF::fillGrid(const QString &select)
{
    Grid->setRowCount(0);
    QList<davdb::DevicePasswords::Entry> entries;
    if (m_passwordsKept)
        entries = davdb::DevicePasswords(m_ctx.db.access, hashRounds).list(m_ctx.session.SessionUser.login);
    Grid->setRowCount(int(entries.size()));
    int selected = entries.isEmpty() ? -1 : 0;
    for (int r = 0; r < entries.size(); ++r) {
        const davdb::DevicePasswords::Entry &e = entries[r];
        Grid->setItem(r, 0, new QTableWidgetItem(e.label));
        Grid->setItem(r, 1, new QTableWidgetItem(shownTime(e.made)));
        auto *used = new QTableWidgetItem(shownTime(e.used));
        if (!e.used.isValid())
            used->setData(Qt::AccessibleTextRole, QStringLiteral("не использовался"));
        Grid->setItem(r, 2, used);
        if (e.label == select)
            selected = r;
    }
    if (selected >= 0)
        Grid->setCurrentCell(selected, 0);
    Grid->setEnabled(m_passwordsKept);
    btNew->setEnabled(m_passwordsKept);
    btRevoke->setEnabled(!entries.isEmpty());
    const QString count = !m_passwordsKept ? QString()
                          : entries.isEmpty()
                              ? QStringLiteral("Паролей устройств пока нет: создайте его кнопкой «Новый пароль...».")
                              : QStringLiteral("Паролей устройств: %1").arg(entries.size());
    lbCount->setText(count);
    setAccessible(lbCount, count);
}

QString TDevF::currentLabel() const
{
    const int row = Grid->currentRow();
    const QTableWidgetItem *item = row >= 0 ? Grid->item(row, 0) : nullptr;
    return item ? item->text() : QString();
}

void TDevF::btNewClick()
{
    if (!m_passwordsKept)
        return;
    const QString login = m_ctx.session.SessionUser.login;
    QDialog d(this);
    d.setObjectName(QStringLiteral("dlgNew"));
    d.setWindowTitle(QStringLiteral("Новый пароль устройства"));
    setAccessible(&d, d.windowTitle());
    auto *info = wrappedLabel(&d, "lbNew");
    info->setText(QStringLiteral("Пароль устройства нужен телефону или почтовой программе для входа на сервер. "
                                 "Чтобы его создать, подтвердите, что это вы: введите пароль, с которым входите в "
                                 "программу."));
    auto *lbLabel = new QLabel(QStringLiteral("Устройство:"), &d);
    QLineEdit *edLabel = field(&d, "edLabel", lbLabel,
                               QStringLiteral("Название, по которому вы узнаете пароль в "
                                              "списке, например Телефон Android"));
    edLabel->setPlaceholderText(QStringLiteral("например, Телефон Android"));
    edLabel->setMaxLength(100);
    auto *lbPass = new QLabel(QStringLiteral("Пароль входа в программу:"), &d);
    QLineEdit *edPass = field(&d, "edDesktopPassword", lbPass);
    edPass->setEchoMode(QLineEdit::Password);
    QPushButton *ok = makePushButton(&d, "btOk", QStringLiteral("Создать"));
    QPushButton *cancel = makePushButton(&d, "btCancel", QStringLiteral("Отмена"));

    auto *grid = new QGridLayout;
    grid->addWidget(lbLabel, 0, 0);
    grid->addWidget(edLabel, 0, 1);
    grid->addWidget(lbPass, 1, 0);
    grid->addWidget(edPass, 1, 1);
    grid->setColumnStretch(1, 1);
    d.setTabOrder(edLabel, edPass);
    d.setTabOrder(edPass, ok);
    layQuestion(d, info, grid, ok, cancel);
    edLabel->setFocus();

    // Enter moves from the name to the password, and from there creates.
    QObject::connect(edLabel, &QLineEdit::returnPressed, &d, [=] {
        if (edPass->text().isEmpty())
            edPass->setFocus();
        else
            ok->click();
    });
    QObject::connect(edPass, &QLineEdit::returnPressed, &d, [=] {
        if (edLabel->text().trimmed().isEmpty())
            edLabel->setFocus();
        else
            ok->click();
    });

    QString label, password;
    const bool made = runUntilDone(
        d, ok, cancel,
        [&] {
            QGuiApplication::setOverrideCursor(Qt::WaitCursor); // the slow hash
            const auto restore = qScopeGuard([] { QGuiApplication::restoreOverrideCursor(); });
            label = edLabel->text().trimmed();
            password = davdb::DevicePasswords(m_ctx.db.access, hashRounds).add(login, edPass->text(), label);
        },
        [&] {
            if (edLabel->text().trimmed().isEmpty()) {
                edLabel->setFocus();
            } else {
                edPass->setFocus();
                edPass->selectAll();
            }
        });
    edPass->clear();
    if (!made)
        return;
    fillGrid(label);
    showPasswordOnce(this, label, login, password);
    Grid->setFocus();
}

void TDevF::btRevokeClick()
{
    const QString label = currentLabel();
    if (!m_passwordsKept || label.isEmpty()) {
        msg::error(this, QStringLiteral("Выберите устройство в списке."));
        return;
    }
    if (!msg::askYesNo(this,
                       QStringLiteral("Отозвать пароль устройства «%1»? Устройство больше не сможет войти на "
                                      "сервер, пока в нём не введут новый пароль.")
                           .arg(label),
                       QStringLiteral("Отзыв пароля")))
        return;
    const int row = Grid->currentRow();
    if (!davdb::DevicePasswords(m_ctx.db.access, hashRounds).revoke(m_ctx.session.SessionUser.login, label))
        msg::error(this,
                   QStringLiteral("Пароля устройства «%1» уже нет: его отозвали в другой копии программы.").arg(label));
    fillGrid();
    if (Grid->rowCount() > 0) {
        Grid->setCurrentCell(std::min(row, Grid->rowCount() - 1), 0);
        Grid->setFocus();
    } else {
        btNew->setFocus();
    }
}

void TDevF::btAddressClick()
{
    if (!m_settingsKept || !core::Users::isAdministrator(m_ctx.session.SessionUser.login)) {
        msg::error(this, QStringLiteral("Адрес сервера задаёт администратор."));
        return;
    }
    davdb::DavSettings settings(m_ctx.db.access);
    QDialog d(this);
    d.setObjectName(QStringLiteral("dlgAddress"));
    d.setWindowTitle(QStringLiteral("Адрес сервера"));
    setAccessible(&d, d.windowTitle());
    auto *info = wrappedLabel(&d, "lbAddressInfo");
    info->setText(QStringLiteral("Адрес сервера CardDAV, который пользователи укажут в телефонах и почтовых "
                                 "программах, например https://zentrax.office.local:8443/. Пустой адрес — "
                                 "адрес не задан."));
    auto *caption = new QLabel(QStringLiteral("Адрес:"), &d);
    QLineEdit *ed = field(&d, "edNewAddress", caption, info->text());
    const QString current = settings.address();
    ed->setText(current.isEmpty() ? QStringLiteral("https://") : current);
    ed->setMaxLength(davdb::DavSettings::kLongestAddress);
    QPushButton *ok = makePushButton(&d, "btOk", QStringLiteral("Сохранить"));
    QPushButton *cancel = makePushButton(&d, "btCancel", QStringLiteral("Отмена"));
    auto *row = new QHBoxLayout;
    row->addWidget(caption);
    row->addWidget(ed, 1);
    d.setTabOrder(ed, ok);
    layQuestion(d, info, row, ok, cancel);
    QObject::connect(ed, &QLineEdit::returnPressed, ok, &QPushButton::click);
    ed->setFocus();
    const bool stored = runUntilDone(
        d, ok, cancel, [&] { settings.setAddress(ed->text()); }, [&] { ed->setFocus(); });
    if (stored)
        showAddress();
}

void TDevF::btCloseClick()
{
    close();
}
