#pragma once
// The rubber band of the fragment tool, as plain functions on a picture.

#include <QImage>
#include <QPoint>
#include <QRect>

namespace fragment {

// Left, top, right and bottom, always Left <= Right and Top <= Bottom; the
// fragment is Right - Left pixels wide and Bottom - Top high.
struct SelRect
{
    int left = 0, top = 0, right = 0, bottom = 0;
    bool isEmpty() const { return right <= left || bottom <= top; }
    bool operator==(const SelRect &) const = default;
};

// The rectangle between two corner points.
SelRect NormalRect(QPoint a, QPoint b);

// Draws the rectangle's outline into the picture with a dotted grey pen in
// XOR: drawing it twice gives the picture back exactly. An empty rectangle
// draws nothing.
void DrawRect(QImage &picture, const SelRect &r);

// The picture's pixels inside the rectangle.
QImage cut(const QImage &picture, const SelRect &r);

// A point of the picture's widget kept inside the picture (the pointer
// cannot leave it while a selection is drawn).
QPoint clampToPicture(QPoint p, QSize picture);
// Where the pointer is held: on the picture's last pixel at most, never on
// the edge one past it (a selection still reaches that edge).
QPoint pointerInPicture(QPoint p, QSize picture);

} // namespace fragment
