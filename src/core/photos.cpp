#include "photos.h"

#include "db/columns.h"
#include "db/cp1251.h"
#include "db/shared.h"
#include "db/statements.h"
#include "commit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

namespace core {

// Makes the card's folder; a colleague on another account may add its next photo.
static bool makeWritableFolder(const QString &folder)
{
    const bool existed = QFileInfo(folder).isDir();
    if (!QDir().mkpath(folder))
        return false;
    if (!existed)
        QFile::setPermissions(folder, QFileDevice::Permissions(0x7777));
    return true;
}

QString photoFile(const QString &photoFolder, const QString &fpath)
{
    if (fpath.isEmpty())
        return QString();
    QString relative = fpath;
    relative.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (relative.startsWith(QLatin1Char('/')) || relative.contains(QLatin1Char(':')))
        return QString(); // absolute, a drive, or a stream name
    const QStringList parts = relative.split(QLatin1Char('/'));
    for (const QString &p : parts)
        if (p.isEmpty() || p == QLatin1String(".") || p == QLatin1String(".."))
            return QString();
    return QDir::toNativeSeparators(QDir(photoFolder).filePath(relative));
}

QString storedFileName(const QString &chosenPath)
{
    QString name = QFileInfo(chosenPath).fileName();
    static const QString forbidden = QStringLiteral("\\/:*?\"<>|");
    QString out;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const QChar c = name[i];
        if (c.isHighSurrogate() && i + 1 < name.size() && name[i + 1].isLowSurrogate()) {
            out += QLatin1Char('_'); // one character, one "_"
            ++i;
        } else if (forbidden.contains(c) || c.unicode() < 32 || !cp1251::representable(QString(c)) ||
                   cp1251::isUndefinedByte(c)) {
            out += QLatin1Char('_');
        } else {
            out += c;
        }
    }
    return out;
}

QString copyFileSafely(const QString &source, const QString &target)
{
    const QFileInfo src(source), dst(target);
    if (!src.isFile())
        return QStringLiteral("Файл «%1» не найден.").arg(QDir::toNativeSeparators(source));
    if (dst.exists() && src.canonicalFilePath() == dst.canonicalFilePath())
        return QString(); // already in place: copying a file onto itself would destroy it
    const QString temp = dst.absolutePath() + QStringLiteral("/.zentrax-copy-%1.part")
                                                  .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
    QFile in(source);
    QFile out(temp);
    if (!in.open(QIODevice::ReadOnly))
        return QStringLiteral("Не удалось прочитать файл «%1»: %2").arg(QDir::toNativeSeparators(source), in.errorString());
    if (!out.open(QIODevice::WriteOnly))
        return QStringLiteral("Не удалось записать файл в папку «%1»: %2")
            .arg(QDir::toNativeSeparators(dst.absolutePath()), out.errorString());
    QString error;
    while (error.isEmpty() && !in.atEnd()) {
        const QByteArray chunk = in.read(1 << 20);
        if (chunk.isEmpty() && in.error() != QFileDevice::NoError)
            error = in.errorString();
        else if (out.write(chunk) != chunk.size())
            error = out.errorString();
    }
    if (error.isEmpty() && !out.flush())
        error = out.errorString();
    out.close();
    if (error.isEmpty() && dst.exists() && !QFile::remove(target))
        error = QStringLiteral("старый файл не удаляется");
    if (error.isEmpty() && !QFile::rename(temp, target))
        error = QStringLiteral("файл не переименовывается");
    if (!error.isEmpty()) {
        QFile::remove(temp);
        return QStringLiteral("Не удалось скопировать фотографию в «%1»: %2").arg(QDir::toNativeSeparators(target), error);
    }
    return QString();
}

std::optional<QString> PhotoStore::storedPath(qint64 cardId)
{
    db::IBQuery &q = m_db.iRead;
    q.close();
    q.setSql(sql::selectPhotoPath());
    q.setParam(QStringLiteral("pk_id"), cardId);
    q.open();
    std::optional<QString> out;
    if (!q.eof())
        out = q.asText(QStringLiteral("fpath"));
    q.close();
    return out;
}

QString PhotoStore::stamp(qint64 cardId)
{
    db::IBQuery &q = m_db.iRead;
    q.close();
    q.setSql(sql::selectStamp());
    q.setParam(QStringLiteral("pk_id"), cardId);
    q.open();
    const QString s = q.eof() ? QString() : q.asText(QStringLiteral("sysinfo"));
    q.close();
    return s;
}

void PhotoStore::setStoredPath(qint64 cardId, const QString &fpath)
{
    inOneCommit(m_db.IBTrans, [&] {
        db::IBQuery &q = m_db.iSQL;
        q.close();
        q.setSql(sql::updatePhotoPath());
        q.setParam(QStringLiteral("fpath"), fpath);
        q.setParam(QStringLiteral("pk_id"), cardId);
        q.execute();
    });
}

QString PhotoStore::AttachPhoto(qint64 cardId, const QString &stamp, const QString &chosen)
{
    const QString name = storedFileName(chosen);
    const QString fpath = stamp + QLatin1Char('\\') + name;
    const QString target = photoFile(m_folder, fpath);
    if (target.isEmpty() || name.isEmpty())
        throw db::DbError(QStringLiteral("Фотографию нельзя сохранить под именем «%1».").arg(fpath));
    // Checked before anything is copied: a path the database cannot hold would
    // leave a copied file that no card names.
    const int longest = db::textColumnLengths(m_db.iRead, QStringLiteral("BASE")).value(QStringLiteral("FPATH"));
    if (longest > 0 && fpath.size() > longest)
        throw db::DbError(QStringLiteral("Имя файла фотографии слишком длинное: вместе с папкой карточки %1 знаков, "
                                         "а база данных хранит не больше %2.\rПереименуйте файл и загрузите его снова.")
                              .arg(fpath.size())
                              .arg(longest));
    if (!makeWritableFolder(QFileInfo(target).absolutePath()))
        throw db::DbError(QStringLiteral("Не удалось создать папку «%1» для фотографии.")
                              .arg(QDir::toNativeSeparators(QFileInfo(target).absolutePath())));
    const QString error = copyFileSafely(chosen, target);
    if (!error.isEmpty())
        throw db::DbError(error);
    setStoredPath(cardId, fpath);
    return fpath;
}

PhotoStore::Deleted PhotoStore::DeletePhotoFile(qint64 cardId)
{
    const std::optional<QString> fpath = storedPath(cardId);
    if (!fpath)
        return Deleted::NoCard;
    const QString file = photoFile(m_folder, *fpath);
    const QFileInfo info(file);
    const bool present = !file.isEmpty() && info.isFile() && !info.isSymLink();
    // The card lets go of the file first: should that fail (a colleague's
    // save, a lost connection), the photo is still there and still named.
    setStoredPath(cardId, QString());
    if (present && !QFile::remove(file))
        throw db::DbError(QStringLiteral("Фотография убрана из карточки, но файл «%1» удалить не удалось.").arg(file));
    return present ? Deleted::Deleted : Deleted::FileWasMissing;
}

} // namespace core
