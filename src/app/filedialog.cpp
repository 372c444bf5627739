#include "filedialog.h"
#include "access.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QImageReader>
#include <QLabel>

namespace filedlg {
namespace {
bool g_test = false;
QStringList g_script;
int g_asked = 0;

QString pictureFilter()
{
    QStringList patterns;
    for (const QByteArray &f : QImageReader::supportedImageFormats())
        patterns << QStringLiteral("*.") + QString::fromLatin1(f);
    return QStringLiteral("Изображения (%1);;Все файлы (*)").arg(patterns.join(QLatin1Char(' ')));
}
} // namespace

QString openPicture(QWidget *owner, const QString &caption)
{
    ++g_asked;
    if (g_test)
        return g_script.isEmpty() ? QString() : g_script.takeFirst();

    QFileDialog dialog(owner, caption.isEmpty() ? QStringLiteral("Открыть изображение") : caption);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // Qt's own dialog, so that the preview can sit beside the file list.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setNameFilter(pictureFilter());
    auto *preview = new QLabel(&dialog);
    preview->setObjectName(QStringLiteral("preview"));
    preview->setFixedSize(200, 200);
    preview->setAlignment(Qt::AlignCenter);
    preview->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setAccessible(preview, QStringLiteral("Просмотр изображения"));
    if (auto *grid = qobject_cast<QGridLayout *>(dialog.layout()))
        grid->addWidget(preview, 0, grid->columnCount(), grid->rowCount(), 1);
    QObject::connect(&dialog, &QFileDialog::currentChanged, preview, [preview](const QString &path) {
        QImageReader reader(path);
        reader.setAutoTransform(true);
        const QSize size = reader.size();
        if (size.isValid())
            reader.setScaledSize(size.scaled(preview->size(), Qt::KeepAspectRatio));
        const QImage img = reader.read();
        if (img.isNull())
            preview->clear();
        else
            preview->setPixmap(QPixmap::fromImage(img));
    });
    dialog.resize(860, 480);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().first();
}

void setTestMode(bool on)
{
    g_test = on;
    g_script.clear();
    g_asked = 0;
}

void script(const QStringList &answers)
{
    g_script += answers;
}

int asked()
{
    return g_asked;
}

} // namespace filedlg
