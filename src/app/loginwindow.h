#pragma once
#include "modalwindow.h"
#include "state.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

// The login window: a user picks or types a login, gives the password and is
// looked up in pers.
class TLF : public ModalWindow
{
    Q_OBJECT
public:
    TLF(Context &context, QWidget *parent);

    // Each time the window is shown: the logins offered, the remembered one chosen while it exists.
    void FormActivate() override;
    void FillLogins();
    // "Ok": the login and password are checked; the window closes on success.
    void bt_loginClick();
    // "Отмена": the window closes with no one logged in (at the start the program then ends).
    void bt_cancelClick();

signals:
    void loggedIn(const SessionUserT &user);

public:
    QComboBox *PBox;
    QLineEdit *ed_pass;
    QPushButton *bt_login;
    QPushButton *bt_cancel;
    QCheckBox *CheckPass;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    // Enter moves on through the fields; Esc cancels.
    bool PBoxKeyPress(QWidget *w, int key);
};
