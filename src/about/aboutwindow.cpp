#include "aboutwindow.h"

#include "app/access.h"
#include "app/application.h"
#include "app/shell.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStyleOptionFocusRect>
#include <QStylePainter>
#include <qdrawutil.h>

#include <functional>

namespace {

const QColor kLink = QColor(0, 0, 255);
const QColor kHover = QColor(255, 0, 0);

// A panel with a lowered outer and a raised inner bevel.
class BevelPanel : public QFrame
{
public:
    using QFrame::QFrame;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        qDrawShadePanel(&p, rect(), palette(), true, 1);
        qDrawShadePanel(&p, rect().adjusted(1, 1, -1, -1), palette(), false, 1);
    }
};

// An address that opens from the keyboard (Tab to it, then Enter or Space) and
// from a screen reader (its "press" action), not only by a click.
class LinkLabel : public QLabel
{
public:
    using QLabel::QLabel;
    std::function<void()> activated;

protected:
    void keyPressEvent(QKeyEvent *e) override
    {
        if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter || e->key() == Qt::Key_Space) {
            e->accept();
            if (activated)
                activated();
            return;
        }
        QLabel::keyPressEvent(e);
    }
    void paintEvent(QPaintEvent *e) override
    {
        QLabel::paintEvent(e);
        if (!hasFocus())
            return;
        QStylePainter p(this);
        QStyleOptionFocusRect o;
        o.initFrom(this);
        p.drawPrimitive(QStyle::PE_FrameFocusRect, o);
    }
};

class LinkAccessible : public QAccessibleWidget
{
public:
    explicit LinkAccessible(LinkLabel *l) : QAccessibleWidget(l, QAccessible::Link) {}
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString &action) override
    {
        // Queued: the reader's call returns before the desktop's program starts.
        auto *l = static_cast<LinkLabel *>(widget());
        if (action == pressAction() && l->activated)
            QMetaObject::invokeMethod(
                l, [l] { l->activated(); }, Qt::QueuedConnection);
    }
};

QAccessibleInterface *linkAccessible(const QString &, QObject *o)
{
    auto *l = dynamic_cast<LinkLabel *>(o);
    return l ? new LinkAccessible(l) : nullptr;
}

void setTextColor(QLabel *l, const QColor &c)
{
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, c);
    l->setPalette(pal);
}

} // namespace

QUrl TAbt::webPage()
{
    return QUrl(QStringLiteral("https://zentrax.example.org/"));
}

QString TAbt::mailAddress()
{
    return QStringLiteral("support@zentrax.example.org");
}

TAbt::TAbt(Context &context, QWidget *parent) : ModalWindow(context, parent)
{
    setObjectName(QStringLiteral("TAbt"));
    setWindowTitle(QStringLiteral("О программе"));
    setAccessible(this, windowTitle());
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(429, 222);

    Panel1 = new BevelPanel(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(5, 4, 420, 184);

    // Candara where the system has it, else a face with Cyrillic letters.
    QFont font;
    font.setFamilies({QStringLiteral("Candara"), QStringLiteral("DejaVu Sans"), QStringLiteral("Arial")});
    font.setPixelSize(16);
    static const bool linksReadable = (QAccessible::installFactory(linkAccessible), true);
    Q_UNUSED(linksReadable)
    auto label = [&](QLabel *&l, const char *name, int top, const QString &text, bool link = false) {
        l = link ? new LinkLabel(text, Panel1) : new QLabel(text, Panel1);
        // A reader's view made while the label was still being built is a plain
        // text's; drop it so that the next one is the link's.
        if (QAccessibleInterface *seen = QAccessible::queryAccessibleInterface(l);
            link && seen && seen->role() != QAccessible::Link)
            QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(seen));
        l->setObjectName(QLatin1String(name));
        l->setFont(font);
        l->setTextFormat(Qt::PlainText);
        l->move(10, top);
        l->adjustSize(); // as wide as its text: the pointer is over the text or not over it
        setAccessible(l, text);
    };
    label(ProductName, "ProductName", 6, QStringLiteral("Zentrax 1.0.2"));
    label(Label1, "Label1", 27, QStringLiteral("Картотека контактов для офиса."));
    label(Label3, "Label3", 45, QStringLiteral("Обновления и поддержка на сайте:"));
    label(Label5, "Label5", 63, webPage().host(), true);
    label(Label4, "Label4", 82, mailAddress(), true);
    QFont bold = font;
    bold.setBold(true);
    ProductName->setFont(bold);
    ProductName->adjustSize();
    setTextColor(ProductName, kLink);
    setAccessible(Label5, Label5->text(), QStringLiteral("Открыть сайт в браузере"));
    setAccessible(Label4, Label4->text(), QStringLiteral("Написать письмо"));

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setGeometry((429 - 75) / 2, 192, 75, 25);
    OKButton->setDefault(true);
    setAccessible(OKButton, QStringLiteral("OK"));
    onSignal(OKButton, &QPushButton::clicked, this, [this] { done(QDialog::Accepted); });

    for (QLabel *l : {Label1, Label3, Label5, Label4})
        l->installEventFilter(this);
    static_cast<LinkLabel *>(Label5)->activated = [this] { guardedCall([this] { Label5Click(); }); };
    static_cast<LinkLabel *>(Label4)->activated = [this] { guardedCall([this] { Label4Click(); }); };
    for (QLabel *l : {Label5, Label4})
        l->setFocusPolicy(Qt::TabFocus);
    setTabOrder(Label5, Label4);
    setTabOrder(Label4, OKButton);
    FormCreate();
}

void TAbt::FormCreate()
{
    Label4->setCursor(Qt::PointingHandCursor);
    Label5->setCursor(Qt::PointingHandCursor);
    setTextColor(Label4, kLink);
    setTextColor(Label5, kLink);
}

void TAbt::Label5Click()
{
    shell::open(webPage()); // the program's own address, not the label's text
}

void TAbt::Label4Click()
{
    shell::open(QUrl(QStringLiteral("mailto:") + mailAddress()));
}

void TAbt::Label5MouseEnter()
{
    setTextColor(Label5, kHover);
}

void TAbt::Label5MouseLeave()
{
    setTextColor(Label5, kLink);
}

void TAbt::Label4MouseEnter()
{
    setTextColor(Label4, kHover);
}

void TAbt::Label4MouseLeave()
{
    setTextColor(Label4, kLink);
}

void TAbt::keyPressEvent(QKeyEvent *e)
{
    if (e->key() == Qt::Key_Escape) { // no cancel button: Esc does nothing
        e->accept();
        return;
    }
    ModalWindow::keyPressEvent(e);
}

void TAbt::showEvent(QShowEvent *e)
{
    // Centred on the screen, not on the main window.
    if (QScreen *s = screen())
        move(s->availableGeometry().center() - rect().center());
    OKButton->setFocus(); // Enter is OK's; the addresses are a Tab away
    ModalWindow::showEvent(e);
}

bool TAbt::eventFilter(QObject *watched, QEvent *event)
{
    const bool mail = watched == Label4;
    switch (event->type()) {
    case QEvent::Enter:
        guardedCall([&] { mail ? Label4MouseEnter() : Label5MouseEnter(); });
        break;
    case QEvent::Leave:
        guardedCall([&] { mail ? Label4MouseLeave() : Label5MouseLeave(); });
        break;
    case QEvent::MouseButtonRelease: {
        auto *m = static_cast<QMouseEvent *>(event);
        auto *w = static_cast<QWidget *>(watched);
        if (m->button() == Qt::LeftButton && w->rect().contains(m->position().toPoint()))
            guardedCall([&] { mail ? Label4Click() : Label5Click(); });
        break;
    }
    default:
        break;
    }
    return ModalWindow::eventFilter(watched, event);
}
