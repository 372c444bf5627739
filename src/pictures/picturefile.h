#pragma once
// Reading a picture file for the card, the fragment tool and the printout:
// plain files only, and a picture too large to hold in memory is told by its
// size before anything is decoded.

#include <QImage>
#include <QString>

namespace pictures {

struct Picture
{
    QImage image;  // turned by its orientation mark; null when it could not be read
    QString error; // why not, in Russian
};

// Reads the picture at `path`. A pipe, a device or a folder is refused
// without being waited on.
Picture read(const QString &path);

// The text for a picture of `size` whose pixels take `bytesPerPixel` bytes
// each, when that is more than a picture may take; empty otherwise.
QString sizeProblem(QSize size, int bytesPerPixel);

} // namespace pictures
