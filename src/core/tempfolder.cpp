#include "tempfolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace core {

void clearTempFolder(const QString &folder)
{
    // Without the trailing separator: "temp/" would be looked at through a link.
    const QFileInfo dir(QDir::cleanPath(folder));
    if (folder.isEmpty() || dir.isSymLink() || dir.isJunction() || !dir.isDir())
        return;
    // System: on Windows files with that attribute are listed only so.
    const QFileInfoList entries = QDir(dir.filePath())
        .entryInfoList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks | QDir::NoDotAndDotDot);
    for (const QFileInfo &fi : entries) {
        // Only regular files: no links, pipes, sockets or devices.
        if (fi.isSymLink() || fi.isJunction() || !fi.isFile())
            continue;
        QFile::remove(fi.filePath());
    }
}

} // namespace core
