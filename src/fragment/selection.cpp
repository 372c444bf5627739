#include "selection.h"

#include <QPainter>
#include <algorithm>

namespace fragment {

SelRect NormalRect(QPoint a, QPoint b)
{
    return {std::min(a.x(), b.x()), std::min(a.y(), b.y()), std::max(a.x(), b.x()), std::max(a.y(), b.y())};
}

void DrawRect(QImage &picture, const SelRect &r)
{
    // An empty rectangle draws nothing, so drawing and erasing stay in step.
    if (picture.isNull() || r.isEmpty())
        return;
    QPainter p(&picture);
    p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    QPen pen(QColor(128, 128, 128), 0, Qt::DotLine); // a one-pixel pen, whatever the transform
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRect(QPoint(r.left, r.top), QPoint(r.right, r.bottom)));
}

QImage cut(const QImage &picture, const SelRect &r)
{
    if (r.isEmpty())
        return QImage();
    return picture.copy(QRect(r.left, r.top, r.right - r.left, r.bottom - r.top));
}

QPoint clampToPicture(QPoint p, QSize picture)
{
    return {std::clamp(p.x(), 0, picture.width()), std::clamp(p.y(), 0, picture.height())};
}

QPoint pointerInPicture(QPoint p, QSize picture)
{
    return {std::clamp(p.x(), 0, std::max(0, picture.width() - 1)),
            std::clamp(p.y(), 0, std::max(0, picture.height() - 1))};
}

} // namespace fragment
