#pragma once
// "Телефоны и почта": where phones and mail programs find the card index
// (the CardDAV server's address) and the logged-in user's device passwords,
// made, listed and revoked. Each user sees and manages only his own.

#include "app/modalwindow.h"

#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

class TDevF : public ModalWindow
{
    Q_OBJECT
public:
    TDevF(Context &context, QWidget *parent);

    // Reads the address and the user's passwords anew.
    void FormActivate() override;
    // Asks the device's name and the desktop password, makes the password
    // and shows it once.
    void btNewClick();
    // Revokes the current row's password once the user agrees.
    void btRevokeClick();
    // The administrator sets the server's address.
    void btAddressClick();
    // "Закрыть": the window closes.
    void btCloseClick();
    // Delete revokes, F7 makes a new password, as in the other lists.
    bool GridKeyDown(int key, Qt::KeyboardModifiers mods);

    // The label of the current row; empty when none.
    QString currentLabel() const;

    // The hash's count for new passwords (tests take fewer).
    int hashRounds;

    QLineEdit *edAddress;
    QLabel *lbAddress, *lbHint, *lbList, *lbCount;
    QPushButton *btAddress, *btNew, *btRevoke, *btClose;
    QTableWidget *Grid;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showAddress();
    void fillGrid(const QString &select = QString());

    bool m_passwordsKept = false;
    bool m_settingsKept = false;
};
