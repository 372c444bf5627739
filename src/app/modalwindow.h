#pragma once
#include <QCloseEvent>
#include <QDialog>

struct Context;

// Base of every window shown modally. Its set-up (FormActivate) runs when the
// opener shows it, never when it merely gets the focus back; Esc and the close
// box both go through closeEvent, so a window's close question always runs.
class ModalWindow : public QDialog
{
    Q_OBJECT
public:
    ModalWindow(Context &context, QWidget *parent) : QDialog(parent), m_ctx(context) {}

    int showModal()
    {
        FormActivate();
        return exec();
    }
    virtual void FormActivate() {}

protected:
    Context &m_ctx; // the shared database objects and the other windows

    // Whether the window may close now (a window asks about unsaved changes here).
    virtual bool canClose() { return true; }

    // The editors' change mark: "(!)" after the caption at the first change.
    void markModified(bool &modified);
    // The editors' question before closing with unsaved changes (Yes and No,
    // no Cancel); true for Yes.
    bool askSaveChanges();

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
