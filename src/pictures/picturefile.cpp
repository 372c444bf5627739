#include "picturefile.h"

#include "core/safefiles.h"

#include <QFile>
#include <QImageReader>
#include <cmath>

namespace pictures {

QString sizeProblem(QSize size, int bytesPerPixel)
{
    // Qt refuses to allocate a picture above this many megabytes.
    const qint64 limit = qint64(QImageReader::allocationLimit()) * 1024 * 1024;
    if (limit <= 0 || !size.isValid() || bytesPerPixel <= 0)
        return QString();
    if (qint64(size.width()) * size.height() * bytesPerPixel <= limit)
        return QString();
    const qint64 pixels = limit / bytesPerPixel;
    const qint64 side = qint64(std::sqrt(double(pixels)));
    return QStringLiteral("изображение слишком большое: %1 × %2 точек. Программа принимает изображения не больше "
                          "%3 млн точек (например, %4 × %4). Уменьшите изображение в графическом редакторе и "
                          "загрузите его снова.")
        .arg(size.width())
        .arg(size.height())
        .arg(pixels / 1000000)
        .arg(side);
}

Picture read(const QString &path)
{
    QFile file;
    QString why;
    if (path.isEmpty())
        return {QImage(), QStringLiteral("файл не найден")};
    if (!core::openRegularFile(file, path, &why))
        return {QImage(), why};
    QImageReader reader(&file);
    reader.setAutoTransform(true);
    // The size from the header, before a decoder fails on it for want of memory.
    // A damaged header may name no format, or one that does not exist.
    const QImage::Format format = reader.imageFormat();
    const bool known = format > QImage::Format_Invalid && format < QImage::NImageFormats;
    const int depth = known ? QImage::toPixelFormat(format).bitsPerPixel() : 32;
    const QString tooLarge = sizeProblem(reader.size(), std::max(1, depth / 8));
    if (!tooLarge.isEmpty())
        return {QImage(), tooLarge};
    QImage image = reader.read();
    if (image.isNull())
        return {QImage(), reader.errorString()};
    return {image, QString()};
}

} // namespace pictures
