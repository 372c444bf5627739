#pragma once
// Cutting a rectangle out of a larger picture as a card's photo: the
// selection window and the preview beside it.

#include "app/modalwindow.h"
#include "selection.h"

#include <QImage>

class QLabel;
class QToolButton;

// The picture at full size, unscaled; its mouse events go to the selection window.
class FragmentCanvas : public QWidget
{
    Q_OBJECT
public:
    explicit FragmentCanvas(QWidget *parent);
    QImage picture; // drawn on directly: the rubber band lives in it

signals:
    void pressed(Qt::MouseButton button, QPoint at);
    void moved(QPoint at);
    void released(Qt::MouseButton button, QPoint at);

protected:
    void paintEvent(QPaintEvent *) override;
    void mousePressEvent(QMouseEvent *e) override;
    void mouseMoveEvent(QMouseEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;
};

class TEF : public ModalWindow
{
    Q_OBJECT
public:
    TEF(Context &context, QWidget *parent);

    void ToolButton2Click();
    void im1MouseDown(Qt::MouseButton button, QPoint at);
    void im1MouseMove(QPoint at);
    void im1MouseUp(Qt::MouseButton button, QPoint at);
    void ToolButton6Click();
    void FormClose();
    void FormHide();
    void DrawRect();
    void NormalRect(QPoint a, QPoint b);
    // Shows a picture file for selecting; false (and a message) when it cannot be read.
    bool openPicture(const QString &path);

    bool Drawing = false;
    QPoint StartPoint;
    fragment::SelRect SelRect;

    static constexpr int kToolBarHeight = 49;

signals:
    // A selection was made: `fragment` is shown beside the window at `window`.
    void fragmentSelected(const QImage &fragment, const QRect &window);
    // The window was closed: the preview goes with it.
    void closedWindow();

protected:
    void closeEvent(QCloseEvent *e) override;
    void hideEvent(QHideEvent *e) override;

private:
    QWidget *tb1;
    QToolButton *ToolButton2, *ToolButton6;
    FragmentCanvas *im1;
};

class TEF1 : public ModalWindow
{
    Q_OBJECT
public:
    TEF1(Context &context, QWidget *parent);

    // Shows a new fragment beside the selection window.
    void showFragment(const QImage &fragment, const QRect &selectionWindow);
    const QImage &fragment() const { return m_fragment; }
    void clearFragment();
    void ToolButton4Click();
    void ToolButton6Click();

signals:
    // The fragment was written to the JPEG file `path`, for the card.
    void fragmentAccepted(const QString &path);

private:
    QWidget *tb1;
    QToolButton *ToolButton4, *ToolButton6;
    QLabel *Im2;
    QImage m_fragment;
};
