#include "loginwindow.h"

#include "access.h"
#include "application.h"
#include "keys.h"
#include "messages.h"
#include "session.h"

#include "context.h"
#include "editablebox.h"

#include "core/logins.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

TLF::TLF(Context &context, QWidget *parent) : ModalWindow(context, parent)
{
    setObjectName(QStringLiteral("TLF"));
    setWindowTitle(QStringLiteral("Укажите регистрационные данные"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint);

    auto *lbUser = new QLabel(QStringLiteral("Пользователь"), this);
    PBox = new QComboBox(this);
    PBox->setObjectName(QStringLiteral("PBox"));
    makeTypedTextBox(PBox); // the login is compared exactly as typed
    lbUser->setBuddy(PBox);
    setAccessible(PBox, lbUser->text());

    auto *lbPass = new QLabel(QStringLiteral("Пароль"), this);
    ed_pass = new QLineEdit(this);
    ed_pass->setObjectName(QStringLiteral("ed_pass"));
    ed_pass->setEchoMode(QLineEdit::Password);
    ed_pass->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    lbPass->setBuddy(ed_pass);
    setAccessible(ed_pass, lbPass->text());

    CheckPass = new QCheckBox(QStringLiteral("Сохранить пароль"), this);
    CheckPass->setObjectName(QStringLiteral("CheckPass"));
    CheckPass->setFocusPolicy(Qt::ClickFocus);
    setAccessible(CheckPass, CheckPass->text());

    bt_login = new QPushButton(QStringLiteral("Ok"), this);
    bt_login->setObjectName(QStringLiteral("bt_login"));
    bt_login->setAutoDefault(false);
    setAccessible(bt_login, QStringLiteral("Ok"));
    bt_cancel = new QPushButton(QStringLiteral("Отмена"), this);
    bt_cancel->setObjectName(QStringLiteral("bt_cancel"));
    bt_cancel->setAutoDefault(false);
    bt_cancel->setFocusPolicy(Qt::ClickFocus);
    setAccessible(bt_cancel, QStringLiteral("Отмена"));

    auto *grid = new QGridLayout;
    grid->addWidget(lbUser, 0, 0);
    grid->addWidget(PBox, 0, 1);
    grid->addWidget(lbPass, 1, 0);
    grid->addWidget(ed_pass, 1, 1);
    grid->addWidget(CheckPass, 2, 1);
    grid->setColumnStretch(1, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(bt_login);
    buttons->addWidget(bt_cancel);
    auto *main = new QVBoxLayout(this);
    main->addLayout(grid);
    main->addLayout(buttons);
    setTabOrder(PBox, ed_pass);
    setTabOrder(ed_pass, bt_login);

    onSignal(bt_login, &QPushButton::clicked, this, [this] { bt_loginClick(); });
    onSignal(bt_cancel, &QPushButton::clicked, this, [this] { bt_cancelClick(); });
    for (QWidget *w : {static_cast<QWidget *>(PBox), static_cast<QWidget *>(ed_pass), static_cast<QWidget *>(bt_login)})
        w->installEventFilter(this);
    PBox->lineEdit()->installEventFilter(this);

    setFixedSize(360, 150);
}

void TLF::FillLogins()
{
    const QStringList logins = core::Logins(m_ctx.db.access).all();
    const QString shown = PBox->currentText();
    PBox->clear();
    PBox->addItems(logins);
    PBox->setEditText(shown);
}

void TLF::FormActivate()
{
    guardedCall([this] { FillLogins(); });
    PBox->setFocus();
    for (int i = 0; i < PBox->count(); ++i) {
        if (PBox->itemText(i).compare(m_ctx.session.SessionUser.login, Qt::CaseInsensitive) == 0) {
            PBox->setCurrentIndex(i);
            ed_pass->setFocus();
            break;
        }
    }
    if (!m_ctx.session.SessionUser.password.isEmpty()) {
        ed_pass->setText(m_ctx.session.SessionUser.password);
        CheckPass->setChecked(true);
        bt_login->setFocus();
    }
}

void TLF::bt_loginClick()
{
    const QString login = PBox->currentText();
    core::LoggedUser user;
    switch (core::Logins(m_ctx.db.access).check(login, ed_pass->text(), &user)) {
    case core::LoginResult::UnknownLogin:
        msg::error(this, QStringLiteral("Пользователь с данным логином не зарегистрирован!"));
        PBox->setFocus();
        return;
    case core::LoginResult::WrongPassword:
        msg::error(this, QStringLiteral("Неверный пароль"));
        ed_pass->setFocus();
        return;
    case core::LoginResult::Ok:
        break;
    }
    m_ctx.session.SessionUser.fullName = user.fullName;
    m_ctx.session.SessionUser.id = user.id;
    m_ctx.session.SessionUser.level = user.level;
    m_ctx.session.SessionUser.login = login;
    m_ctx.session.SessionUser.password = CheckPass->isChecked() ? ed_pass->text() : QString();
    emit loggedIn(m_ctx.session.SessionUser);
    done(QDialog::Accepted);
}

void TLF::bt_cancelClick()
{
    done(QDialog::Rejected);
}

bool TLF::PBoxKeyPress(QWidget *w, int key)
{
    if (key == Qt::Key_Escape) {
        bt_cancel->click();
        return true;
    }
    if (key != Qt::Key_Return && key != Qt::Key_Enter)
        return false;
    if (w == bt_login) {
        bt_login->click();
    } else if (w == ed_pass) {
        bt_login->setFocus(Qt::TabFocusReason);
    } else {
        ed_pass->setFocus(Qt::TabFocusReason);
    }
    return true;
}

bool TLF::eventFilter(QObject *watched, QEvent *event)
{
    auto *w = qobject_cast<QWidget *>(watched);
    if (w == PBox->lineEdit())
        w = PBox;
    if (keyPressTaken(event, [&](QKeyEvent *k) { return PBoxKeyPress(w, k->key()); }))
        return true;
    return ModalWindow::eventFilter(watched, event);
}
