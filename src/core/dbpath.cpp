#include "dbpath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace core {

DatabaseChoice chooseDatabase(const QString &programFolder)
{
    DatabaseChoice out;
    const QString sep = QString(QDir::separator());
    const QString candidate = programFolder + sep + QStringLiteral("dbase.fdb");
    const QString pathFile = programFolder + sep + QStringLiteral("path.txt");
    if (QFileInfo::exists(candidate) && !candidate.contains(sep + sep)) {
        out.path = candidate;
    } else if (QFileInfo::exists(pathFile)) {
        QFile f(pathFile);
        if (f.open(QIODevice::ReadOnly)) {
            // Only the first line counts, whatever ends it (LF, CR LF or CR).
            const QByteArray all = f.readAll();
            qsizetype end = 0;
            while (end < all.size() && all[end] != '\n' && all[end] != '\r')
                ++end;
            out.path = QString::fromLocal8Bit(all.left(end));
        }
    } else {
        out.noPathFile = true;
    }
    return out;
}

} // namespace core
