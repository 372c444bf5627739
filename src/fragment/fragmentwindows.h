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

    // "Открыть изображение": a picture file to cut a fragment from.
    void ToolButton2Click();
    // The left button pressed on the picture starts a selection rectangle.
    void im1MouseDown(Qt::MouseButton button, QPoint at);
    // Dragging draws the selection, kept inside the picture.
    void im1MouseMove(QPoint at);
    // Released: the rectangle's part of the picture is shown as the fragment.
    void im1MouseUp(Qt::MouseButton button, QPoint at);
    // "Закрыть": the selection window closes.
    void ToolButton6Click();
    // The window closed: the picture and the selection are let go.
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
    // "Принять фрагмент": the fragment is saved and becomes the card's chosen photo.
    void ToolButton4Click();
    // "Закрыть предпросмотр": the fragment window hides, nothing taken.
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
