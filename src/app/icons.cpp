#include "icons.h"
#include "access.h"

#include <QToolButton>

#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace icons {
namespace {

void page(QPainter &p)
{
    QPainterPath path;
    path.moveTo(7, 3);
    path.lineTo(20, 3);
    path.lineTo(26, 9);
    path.lineTo(26, 29);
    path.lineTo(7, 29);
    path.closeSubpath();
    p.setPen(QPen(QColor(90, 100, 115), 1.5));
    p.setBrush(QColor(250, 251, 253));
    p.drawPath(path);
    p.setBrush(QColor(220, 226, 234));
    p.drawPolygon(QPolygonF({QPointF(20, 3), QPointF(20, 9), QPointF(26, 9)}));
    p.setPen(QPen(QColor(170, 180, 195), 1.5));
    for (int y = 13; y <= 24; y += 4)
        p.drawLine(11, y, 22, y);
}

QPixmap draw(Id id)
{
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    switch (id) {
    case Id::New:
        page(p);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(46, 160, 67));
        p.drawEllipse(QPointF(23, 23), 8, 8);
        p.setPen(QPen(Qt::white, 3, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(23, 18.5), QPointF(23, 27.5));
        p.drawLine(QPointF(18.5, 23), QPointF(27.5, 23));
        break;
    case Id::Edit:
        page(p);
        p.translate(21, 19);
        p.rotate(45);
        p.setPen(QPen(QColor(120, 80, 20), 1));
        p.setBrush(QColor(245, 180, 40));
        p.drawRect(QRectF(-3, -13, 6, 18));
        p.setBrush(QColor(240, 200, 160));
        p.drawPolygon(QPolygonF({QPointF(-3, 5), QPointF(3, 5), QPointF(0, 11)}));
        p.setBrush(QColor(230, 110, 110));
        p.drawRect(QRectF(-3, -16, 6, 3));
        break;
    case Id::View:
        page(p);
        p.setPen(QPen(QColor(40, 90, 170), 3));
        p.setBrush(QColor(200, 225, 250, 200));
        p.drawEllipse(QPointF(17, 17), 6.5, 6.5);
        p.setPen(QPen(QColor(40, 90, 170), 4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(22, 22), QPointF(28, 28));
        break;
    case Id::Export:
        p.setPen(QPen(QColor(30, 110, 60), 1.5));
        p.setBrush(QColor(240, 250, 242));
        p.drawRect(QRectF(4, 5, 24, 22));
        p.setPen(QPen(QColor(30, 110, 60), 1));
        for (int y = 11; y < 27; y += 5)
            p.drawLine(4, y, 28, y);
        for (int x = 12; x < 28; x += 8)
            p.drawLine(x, 5, x, 27);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(30, 130, 70));
        p.drawRect(QRectF(4, 5, 24, 6));
        break;
    case Id::Delete:
        p.setPen(QPen(QColor(200, 40, 40), 5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(8, 8, 24, 24);
        p.drawLine(24, 8, 8, 24);
        break;
    case Id::Exit:
        p.setPen(QPen(QColor(110, 80, 50), 1.5));
        p.setBrush(QColor(190, 140, 90));
        p.drawRect(QRectF(5, 3, 14, 26));
        p.setBrush(QColor(250, 220, 120));
        p.drawEllipse(QPointF(16, 16), 1.5, 1.5);
        p.setPen(QPen(QColor(40, 120, 200), 3, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(17, 16), QPointF(29, 16));
        p.drawLine(QPointF(25, 11.5), QPointF(29.5, 16));
        p.drawLine(QPointF(25, 20.5), QPointF(29.5, 16));
        break;
    case Id::Clear:
        p.setPen(QPen(QColor(150, 150, 150), 1.5));
        p.setBrush(QColor(245, 245, 245));
        p.drawEllipse(QPointF(16, 16), 12, 12);
        p.setPen(QPen(QColor(200, 60, 60), 3.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(11, 11, 21, 21);
        p.drawLine(21, 11, 11, 21);
        break;
    case Id::Calendar:
        p.setPen(QPen(QColor(90, 100, 115), 1.5));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(4, 6, 24, 22));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(210, 60, 60));
        p.drawRect(QRectF(4, 6, 24, 7));
        p.setBrush(QColor(120, 130, 145));
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 4; ++c)
                p.drawRect(QRectF(7 + c * 5.5, 15.5 + r * 4, 3, 2.5));
        break;
    case Id::Save:
        p.setPen(QPen(QColor(40, 70, 130), 1.5));
        p.setBrush(QColor(70, 110, 190));
        p.drawRoundedRect(QRectF(4, 4, 24, 24), 2, 2);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(9, 4, 14, 9));
        p.setBrush(QColor(220, 225, 235));
        p.drawRect(QRectF(8, 18, 16, 10));
        break;
    case Id::Photo:
        p.setPen(QPen(QColor(60, 60, 70), 1.5));
        p.setBrush(QColor(90, 95, 110));
        p.drawRoundedRect(QRectF(3, 9, 26, 18), 3, 3);
        p.drawRect(QRectF(11, 6, 10, 4));
        p.setBrush(QColor(180, 210, 240));
        p.drawEllipse(QPointF(16, 18), 6, 6);
        break;
    case Id::Open: // a folder with a picture
        p.setPen(QPen(QColor(150, 110, 30), 1.5));
        p.setBrush(QColor(245, 200, 90));
        p.drawPolygon(QPolygonF({QPointF(3, 8), QPointF(12, 8), QPointF(15, 11), QPointF(29, 11), QPointF(29, 27),
                                 QPointF(3, 27)}));
        p.setPen(QPen(QColor(60, 90, 140), 1));
        p.setBrush(QColor(200, 225, 250));
        p.drawRect(QRectF(10, 14, 14, 10));
        p.setBrush(QColor(80, 150, 80));
        p.drawPolygon(QPolygonF({QPointF(11, 23), QPointF(16, 17), QPointF(20, 21), QPointF(23, 18), QPointF(23, 23)}));
        break;
    case Id::Crop: // a picture with a dashed frame inside
        p.setPen(QPen(QColor(60, 90, 140), 1.5));
        p.setBrush(QColor(200, 225, 250));
        p.drawRect(QRectF(3, 5, 26, 22));
        p.setPen(QPen(QColor(200, 40, 40), 2, Qt::DashLine));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(10, 10, 12, 12));
        break;
    case Id::Accept:
        p.setPen(QPen(QColor(46, 160, 67), 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(QPolygonF({QPointF(6, 17), QPointF(13, 24), QPointF(26, 8)}));
        break;
    }
    return pm;
}

} // namespace

QIcon get(Id id)
{
    static QHash<int, QIcon> cache;
    auto it = cache.find(int(id));
    if (it == cache.end())
        it = cache.insert(int(id), QIcon(draw(id)));
    return *it;
}

} // namespace icons

QWidget *toolBarGap(QWidget *parent, int width)
{
    auto *w = new QWidget(parent);
    w->setFixedWidth(width);
    return w;
}

QToolButton *makeToolButton(QWidget *parent, const char *name, icons::Id icon, const QString &hint)
{
    auto *b = new QToolButton(parent);
    b->setObjectName(QLatin1String(name));
    b->setIcon(icons::get(icon));
    b->setIconSize(QSize(32, 32));
    b->setFixedSize(39, 38);
    b->setAutoRaise(true);
    b->setToolTip(hint);
    b->setFocusPolicy(Qt::NoFocus);
    setAccessible(b, hint);
    return b;
}
