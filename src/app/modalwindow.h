#pragma once
#include <QCloseEvent>
#include <QDialog>

// Base of every window shown modally. Its set-up (FormActivate) runs when the
// opener shows it, never when it merely gets the focus back; Esc and the close
// box both go through closeEvent, so a window's close question always runs.
class ModalWindow : public QDialog
{
    Q_OBJECT
public:
    using QDialog::QDialog;

    int showModal()
    {
        FormActivate();
        return exec();
    }
    virtual void FormActivate() {}

protected:
    // Whether the window may close now (a window asks about unsaved changes here).
    virtual bool canClose() { return true; }

    void reject() override { close(); }
    void closeEvent(QCloseEvent *e) override
    {
        if (!canClose()) {
            e->ignore();
            return;
        }
        e->accept();
        if (isVisible())
            QDialog::done(QDialog::Rejected); // ends exec() as well as hiding

    }
};
