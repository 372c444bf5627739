// zentrax-mkicons: draws the program's icon, an SVG file, as PNG files for
// the desktop's icon theme, with the renderer the program itself uses.
//
//   zentrax-mkicons SVG OUTDIR SIZE...
//
// writes OUTDIR/<SIZE>x<SIZE>/apps/<name of SVG>.png for each SIZE.

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char **argv)
{
    if (argc < 4) {
        std::fputs("usage: zentrax-mkicons SVG OUTDIR SIZE...\n", stderr);
        return 2;
    }
    const QString svgPath = QString::fromLocal8Bit(argv[1]);
    QSvgRenderer svg(svgPath);
    if (!svg.isValid()) {
        std::fprintf(stderr, "zentrax-mkicons: %s is no SVG picture\n", argv[1]);
        return 1;
    }
    const QString name = QFileInfo(svgPath).completeBaseName() + QStringLiteral(".png");
    for (int i = 3; i < argc; ++i) {
        const int size = QByteArray(argv[i]).toInt();
        if (size <= 0 || size > 1024) {
            std::fprintf(stderr, "zentrax-mkicons: %s is no size\n", argv[i]);
            return 2;
        }
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[2])).arg(size);
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        svg.render(&p);
        p.end();
        if (!QDir().mkpath(folder) || !image.save(folder + QLatin1Char('/') + name, "PNG")) {
            std::fprintf(stderr, "zentrax-mkicons: cannot write %s/%s\n", qPrintable(folder), qPrintable(name));
            return 1;
        }
    }
    return 0;
}
