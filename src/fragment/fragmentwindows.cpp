#include "fragmentwindows.h"

#include "app/access.h"
#include "app/application.h"
#include "app/context.h"
#include "app/filedialog.h"
#include "app/icons.h"
#include "app/messages.h"
#include "app/paths.h"
#include "app/session.h"
#include "core/safefiles.h"
#include "core/stamp.h"
#include "pictures/picturefile.h"

#include <QCursor>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QImageReader>
#include <QImageWriter>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QToolButton>

namespace {

// A tool bar 49 pixels high with 39 x 38 buttons.
QWidget *toolBar(QWidget *parent, QToolButton *first, QToolButton *second)
{
    auto *bar = new QWidget(parent);
    bar->setObjectName(QStringLiteral("tb1"));
    bar->setFixedHeight(TEF::kToolBarHeight);
    auto *h = new QHBoxLayout(bar);
    h->setContentsMargins(4, 4, 4, 4);
    h->setSpacing(8);
    first->setParent(bar);
    second->setParent(bar);
    h->addWidget(first);
    h->addSpacing(8);
    h->addWidget(second);
    h->addStretch(1);
    return bar;
}

} // namespace

// ---------------------------------------------------------------- canvas

FragmentCanvas::FragmentCanvas(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("im1"));
    setAccessible(this, QStringLiteral("Изображение для выделения фрагмента"));
    setCursor(Qt::CrossCursor);
}

void FragmentCanvas::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    if (!picture.isNull())
        p.drawImage(0, 0, picture);
}

void FragmentCanvas::mousePressEvent(QMouseEvent *e)
{
    guardedCall([&] { emit pressed(e->button(), e->position().toPoint()); });
}

void FragmentCanvas::mouseMoveEvent(QMouseEvent *e)
{
    guardedCall([&] { emit moved(e->position().toPoint()); });
}

void FragmentCanvas::mouseReleaseEvent(QMouseEvent *e)
{
    guardedCall([&] { emit released(e->button(), e->position().toPoint()); });
}

// ------------------------------------------------------- selection window

TEF::TEF(Context &context, QWidget *parent) : ModalWindow(context, parent)
{
    setObjectName(QStringLiteral("TEF"));
    setWindowTitle(QStringLiteral("Загрузка фрагмента фотографии"));
    ToolButton2 = makeToolButton(this, "ToolButton2", icons::Id::Open, QStringLiteral("Открыть изображение"));
    ToolButton6 = makeToolButton(this, "ToolButton6", icons::Id::Exit, QStringLiteral("Закрыть"));
    tb1 = toolBar(this, ToolButton2, ToolButton6);
    tb1->setGeometry(0, 0, 420, kToolBarHeight);
    im1 = new FragmentCanvas(this);
    im1->move(0, kToolBarHeight);
    im1->resize(0, 0);
    resize(420, 546);
    onSignal(ToolButton2, &QToolButton::clicked, this, [this] { ToolButton2Click(); });
    onSignal(ToolButton6, &QToolButton::clicked, this, [this] { ToolButton6Click(); });
    connect(im1, &FragmentCanvas::pressed, this, [this](Qt::MouseButton b, QPoint at) { im1MouseDown(b, at); });
    connect(im1, &FragmentCanvas::moved, this, [this](QPoint at) { im1MouseMove(at); });
    connect(im1, &FragmentCanvas::released, this, [this](Qt::MouseButton b, QPoint at) { im1MouseUp(b, at); });
}

void TEF::ToolButton2Click()
{
    const QString path = filedlg::openPicture(this);
    if (!path.isEmpty())
        openPicture(path);
}

bool TEF::openPicture(const QString &path)
{
    const pictures::Picture picture = pictures::read(path);
    const QImage &img = picture.image;
    if (img.isNull()) {
        // The window keeps what it showed.
        msg::error(this, QStringLiteral("Не удалось загрузить изображение:\r%1\r%2")
                             .arg(QDir::toNativeSeparators(path), picture.error));
        return false;
    }
    Drawing = false;
    SelRect = {};
    im1->picture = img.convertToFormat(QImage::Format_RGB32);
    im1->resize(img.size());
    im1->update();
    // The window fits the picture at full size: no scaling, no upper limit.
    resize(img.width() + 16, img.height() + kToolBarHeight + 38);
    tb1->resize(width(), kToolBarHeight);
    return true;
}

void TEF::NormalRect(QPoint a, QPoint b)
{
    SelRect = fragment::NormalRect(a, b);
}

void TEF::DrawRect()
{
    fragment::DrawRect(im1->picture, SelRect);
    im1->update();
}

void TEF::im1MouseDown(Qt::MouseButton button, QPoint at)
{
    if (button != Qt::LeftButton || Drawing || im1->picture.isNull())
        return;
    Drawing = true;
    StartPoint = fragment::clampToPicture(at, im1->picture.size());
    SelRect = {StartPoint.x(), StartPoint.y(), StartPoint.x(), StartPoint.y()};
    // The pointer stays with the picture until the release; positions are kept inside it.
    if (im1->isVisible())
        im1->grabMouse();
}

void TEF::im1MouseMove(QPoint at)
{
    if (!Drawing)
        return;
    const QPoint inside = fragment::clampToPicture(at, im1->picture.size());
    // The pointer itself is held on the picture's last pixels until the release.
    const QPoint held = fragment::pointerInPicture(at, im1->picture.size());
    if (held != at && QWidget::mouseGrabber() == im1)
        QCursor::setPos(im1->mapToGlobal(held));
    DrawRect(); // erases the rectangle drawn before
    NormalRect(StartPoint, inside);
    DrawRect();
}

void TEF::im1MouseUp(Qt::MouseButton button, QPoint at)
{
    if (button != Qt::LeftButton || !Drawing)
        return;
    // Erase exactly the rectangle drawn last, then take the release's rectangle
    // from the clean picture.
    DrawRect();
    NormalRect(StartPoint, fragment::clampToPicture(at, im1->picture.size()));
    Drawing = false;
    if (QWidget::mouseGrabber() == im1)
        im1->releaseMouse();
    emit fragmentSelected(fragment::cut(im1->picture, SelRect), frameGeometry());
}

void TEF::ToolButton6Click()
{
    close();
}

void TEF::FormClose()
{
    im1->picture = QImage();
    im1->resize(0, 0);
    Drawing = false;
    emit closedWindow();
}

void TEF::FormHide()
{
    im1->picture = QImage();
    im1->resize(0, 0);
    Drawing = false;
}

void TEF::closeEvent(QCloseEvent *e)
{
    ModalWindow::closeEvent(e);
    if (e->isAccepted())
        guardedCall([this] { FormClose(); });
}

void TEF::hideEvent(QHideEvent *e)
{
    ModalWindow::hideEvent(e);
    guardedCall([this] { FormHide(); });
}

// --------------------------------------------------------- preview window

TEF1::TEF1(Context &context, QWidget *parent) : ModalWindow(context, parent)
{
    setObjectName(QStringLiteral("TEF1"));
    setWindowTitle(QStringLiteral("Предпросмотр фрагмента"));
    // A window of its own beside the selection window, not blocked by its modality.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    ToolButton4 = makeToolButton(this, "ToolButton4", icons::Id::Accept, QStringLiteral("Принять фрагмент"));
    ToolButton6 = makeToolButton(this, "ToolButton6", icons::Id::Exit, QStringLiteral("Закрыть предпросмотр"));
    tb1 = toolBar(this, ToolButton4, ToolButton6);
    tb1->setGeometry(0, 0, 384, TEF::kToolBarHeight);
    Im2 = new QLabel(this);
    Im2->setObjectName(QStringLiteral("Im2"));
    setAccessible(Im2, QStringLiteral("Фрагмент"));
    Im2->move(4, TEF::kToolBarHeight + 4);
    setFixedSize(384, 462);
    onSignal(ToolButton4, &QToolButton::clicked, this, [this] { ToolButton4Click(); });
    onSignal(ToolButton6, &QToolButton::clicked, this, [this] { ToolButton6Click(); });
}

void TEF1::clearFragment()
{
    m_fragment = QImage();
    Im2->clear();
}

void TEF1::showFragment(const QImage &fragment, const QRect &selectionWindow)
{
    clearFragment();
    m_fragment = fragment;
    const QSize size = fragment.isNull() ? QSize(0, 0) : fragment.size();
    setFixedSize(size.width() + 16, size.height() + TEF::kToolBarHeight + 38);
    tb1->resize(width(), TEF::kToolBarHeight);
    move(selectionWindow.right() + 1 + 10, selectionWindow.top());
    Im2->setGeometry(4, TEF::kToolBarHeight + 4, size.width(), size.height());
    if (!fragment.isNull())
        Im2->setPixmap(QPixmap::fromImage(fragment));
    show();
    raise();
}

void TEF1::ToolButton4Click()
{
    if (m_fragment.isNull()) {
        msg::error(this, QStringLiteral("Фрагмент не выделен.\rОбведите мышью часть изображения, которую нужно взять "
                                        "в карточку."));
        return;
    }
    // A new file in this copy's own scratch folder, never one that exists
    // already under that name (a link someone planted there).
    const QString folder = m_ctx.session.tempFolder();
    if (folder.isEmpty()) {
        msg::error(this, QStringLiteral("Не удалось создать личную временную папку программы в папке «%1».\r"
                                        "Проверьте права на эту папку или попросите администратора.")
                             .arg(paths::join(m_ctx.session.programFolder, QStringLiteral("temp"))));
        return;
    }
    const QString stamp = makeStamp(m_ctx.session.SessionUser.id);
    QFile file;
    QString path, why;
    for (int i = 1; i <= 100 && path.isEmpty(); ++i) {
        const QString name =
            stamp + (i == 1 ? QString() : QLatin1Char('-') + QString::number(i)) + QStringLiteral(".jpg");
        if (core::createNewFile(file, paths::join(folder, name), &why))
            path = paths::join(folder, name);
    }
    if (path.isEmpty()) {
        msg::error(this, QStringLiteral("Не удалось создать файл фрагмента в папке «%1»:\r%2").arg(folder, why));
        return;
    }
    // A baseline colour JPEG of quality 75.
    QImageWriter writer(&file, "jpeg");
    writer.setQuality(75);
    writer.setProgressiveScanWrite(false);
    writer.setOptimizedWrite(false);
    if (!writer.write(m_fragment.convertToFormat(QImage::Format_RGB32)) || !file.flush()) {
        const QString error = writer.error() == QImageWriter::UnknownError ? file.errorString() : writer.errorString();
        file.close();
        QFile::remove(path);
        msg::error(
            this,
            QStringLiteral("Не удалось записать фрагмент в файл «%1»:\r%2").arg(QDir::toNativeSeparators(path), error));
        return;
    }
    file.close();
    emit fragmentAccepted(path); // the card takes it, and the selection window closes
}

void TEF1::ToolButton6Click()
{
    hide();
}
