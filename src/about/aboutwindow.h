#pragma once
#include "app/modalwindow.h"

#include <QUrl>

class QFrame;
class QLabel;
class QPushButton;

// The About window: product name and version, two notice lines and the
// publisher's web and mail addresses, which open in the desktop's programs.
class TAbt : public ModalWindow
{
    Q_OBJECT
public:
    TAbt(Context &context, QWidget *parent);

    void FormCreate();
    // The web address clicked: the program's page opens in the browser.
    void Label5Click();
    // The mail address clicked: a new letter to the developers opens.
    void Label4Click();
    // The pointer over a link: it is underlined and coloured as a link;
    // leaving it, as it was.
    void Label5MouseEnter();
    void Label5MouseLeave();
    void Label4MouseEnter();
    void Label4MouseLeave();

    static QUrl webPage();
    static QString mailAddress();

    QFrame *Panel1;
    QLabel *ProductName, *Label1, *Label3, *Label5, *Label4;
    QPushButton *OKButton;

protected:
    void keyPressEvent(QKeyEvent *e) override;
    void showEvent(QShowEvent *e) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
};
