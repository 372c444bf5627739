#include "icons.h"
#include "access.h"

#include <QLabel>
#include <QToolButton>

#include <QHash>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

// The pictures live in a static library: their resource is registered by hand.
static void registerPictures()
{
    Q_INIT_RESOURCE(icons);
}

namespace icons {
namespace {

const char *fileName(Id id)
{
    switch (id) {
    case Id::Program:
        return "zentrax";
    case Id::New:
        return "new";
    case Id::Edit:
        return "edit";
    case Id::View:
        return "view";
    case Id::Export:
        return "export";
    case Id::Delete:
        return "delete";
    case Id::Exit:
        return "exit";
    case Id::Clear:
        return "clear";
    case Id::Calendar:
        return "calendar";
    case Id::Save:
        return "save";
    case Id::Photo:
        return "photo";
    case Id::Open:
        return "open";
    case Id::Crop:
        return "crop";
    case Id::Accept:
        return "accept";
    }
    return "";
}

// Drawn from the picture's SVG file at the sizes the windows ask for: 16 and
// 32 pixels, and those times 1.25, 1.5 and 2 for screens scaled up.
QIcon load(Id id)
{
    QSvgRenderer svg(QStringLiteral(":/icons/%1.svg").arg(QLatin1String(fileName(id))));
    QIcon icon;
    if (!svg.isValid())
        return icon;
    for (int size : {16, 20, 24, 32, 40, 48, 64}) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        svg.render(&p);
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
}

} // namespace

QIcon get(Id id)
{
    static QHash<int, QIcon> cache;
    auto it = cache.find(int(id));
    if (it == cache.end()) {
        registerPictures();
        it = cache.insert(int(id), load(id));
    }
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

QLabel *boldLabel(const QString &text, QWidget *parent)
{
    auto *l = new QLabel(text, parent);
    QFont f = l->font();
    f.setBold(true);
    l->setFont(f);
    return l;
}
