#include "photos.h"

#include "db/access.h"
#include "db/columns.h"
#include "db/cp1251.h"
#include "db/statements.h"
#include "safefiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <algorithm>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace core {

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

PhotoLocation locatePhoto(const QString &photoFolder, const QString &fpath)
{
    if (fpath.isEmpty())
        return {};
    const QString file = photoFile(photoFolder, fpath);
    if (file.isEmpty())
        return {PhotoLocation::BadPath, QString()};
    const QFileInfo info(file);
    if (!info.exists() && !info.isSymLink()) {
        // Gone; or its folder leads elsewhere, and what is there is not asked about.
        const QString folder = info.absolutePath();
        const bool folderOutside = QFileInfo::exists(folder) && !liesInside(photoFolder, folder);
        return {folderOutside ? PhotoLocation::Outside : PhotoLocation::Missing, file};
    }
    if (!liesInside(photoFolder, file))
        return {PhotoLocation::Outside, file};
    if (!info.isFile())
        return {PhotoLocation::NotAFile, file};
    return {PhotoLocation::Present, file};
}

QString photoProblem(const QString &photoFolder, const QString &fpath, const PhotoLocation &where)
{
    switch (where.state) {
    case PhotoLocation::None:
    case PhotoLocation::Present:
        break;
    case PhotoLocation::BadPath:
        return QStringLiteral("Путь к фотографии карточки «%1» ведёт за пределы папки фотографий; "
                              "такой файл не открывается.")
            .arg(fpath);
    case PhotoLocation::Missing:
        return QStringLiteral("Файл фотографии не найден:\r%1").arg(where.file);
    case PhotoLocation::Outside:
        return QStringLiteral("Фотография «%1» лежит вне папки фотографий «%2»: её папка или сам файл заменены "
                              "ссылкой. Такой файл программа не открывает и не удаляет; сообщите об этом "
                              "администратору.")
            .arg(where.file, QDir::toNativeSeparators(photoFolder));
    case PhotoLocation::NotAFile:
        return QStringLiteral("«%1» — не обычный файл (канал, устройство или папка), как фотография он не "
                              "открывается.")
            .arg(where.file);
    }
    return QString();
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

namespace {

// The target's folder, for messages.
QString folderOf(const QString &target)
{
    return QDir::toNativeSeparators(QFileInfo(target).absolutePath());
}

// Makes a new partial file in `folder`; empty when none can be made there.
QString newPartialFile(QFile &out, const QString &folder, QString *why)
{
    for (int tries = 0; tries < 10; ++tries) {
        const QString name = QStringLiteral(".zentrax-copy-%1.part")
                                 .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
        const QString path = QDir(folder).filePath(name);
        // Readable for the group, like every photo; never for others.
        if (createNewFile(out, path, why, 0640))
            return path;
        if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
            break; // not a name that happened to be taken
    }
    return QString();
}

// Copies the whole of `in` to `out`; returns the error text.
QString copyBytes(QFile &in, QFile &out, const CopyOptions &options)
{
    const qint64 total = in.size();
    qint64 done = 0;
    if (!in.seek(0))
        return in.errorString();
    if (options.progress && !options.progress(0, total))
        return QStringLiteral("копирование прервано");
    for (;;) {
        const QByteArray chunk = in.read(1 << 20);
        if (chunk.isEmpty()) {
            if (in.error() != QFileDevice::NoError)
                return in.errorString();
            break;
        }
        if (out.write(chunk) != chunk.size())
            return out.errorString();
        done += chunk.size();
        if (options.progress && !options.progress(done, total))
            return QStringLiteral("копирование прервано");
    }
    if (!out.flush())
        return out.errorString();
    return QString();
}

} // namespace

QString copyFileSafely(const QString &source, const QString &target, const CopyOptions &options)
{
    const QFileInfo dst(target);
    QFile in;
    QString why;
    if (!openRegularFile(in, source, &why))
        return QStringLiteral("Не удалось прочитать файл «%1»: %2.").arg(QDir::toNativeSeparators(source), why);
    if (dst.exists() && QFileInfo(source).canonicalFilePath() == dst.canonicalFilePath())
        return QString(); // already in place: copying a file onto itself would destroy it
    auto failed = [&target](const QString &error) {
        return QStringLiteral("Не удалось скопировать фотографию в «%1»: %2")
            .arg(QDir::toNativeSeparators(target), error);
    };
    // First in the scratch folder, which the clean-up empties even after a
    // copy that was killed; beside the target when the rename cannot cross
    // from there.
    QStringList folders;
    if (!options.scratchFolder.isEmpty())
        folders << options.scratchFolder;
    folders << dst.absolutePath();
    for (const QString &folder : folders) {
        QFile out;
        const QString partial = newPartialFile(out, folder, &why);
        if (partial.isEmpty()) {
            if (folder != folders.last())
                continue;
            return QStringLiteral("Не удалось записать файл в папку «%1»: %2.").arg(folderOf(target), why);
        }
#ifdef Q_OS_UNIX
        // The group of the photo's folder, so that the program's other users may read it.
        struct stat st;
        if (::stat(QFile::encodeName(dst.absolutePath()).constData(), &st) == 0)
            (void)::fchown(out.handle(), uid_t(-1), st.st_gid);
#endif
        QString error = copyBytes(in, out, options);
        out.close();
        bool crossDevice = false;
        if (error.isEmpty())
            error = replaceFile(partial, target, &crossDevice);
        if (error.isEmpty())
            return QString();
        QFile::remove(partial);
        if (!crossDevice || folder == folders.last())
            return failed(error);
    }
    return failed(QStringLiteral("файл не записывается"));
}

std::optional<QString> PhotoStore::storedPath(qint64 cardId)
{
    db::Rows rows = m_db.read(sql::selectPhotoPath(), {{QStringLiteral("pk_id"), cardId}});
    if (!rows.next())
        return std::nullopt;
    return rows.text(QStringLiteral("fpath"));
}

QString PhotoStore::stamp(qint64 cardId)
{
    db::Rows rows = m_db.read(sql::selectStamp(), {{QStringLiteral("pk_id"), cardId}});
    return rows.next() ? rows.text(QStringLiteral("sysinfo")) : QString();
}

void PhotoStore::setStoredPath(qint64 cardId, const QString &fpath)
{
    m_db.unit([&] {
        m_db.write(sql::updatePhotoPath(), {{QStringLiteral("fpath"), fpath}, {QStringLiteral("pk_id"), cardId}});
    });
}

QStringList PhotoStore::folderUsers(qint64 cardId, const QString &folder)
{
    db::Rows rows = m_db.read(sql::selectFolderUsers(), {{QStringLiteral("pk_id"), cardId},
                                                         {QStringLiteral("folder"), folder},
                                                         {QStringLiteral("back"), folder + QLatin1Char('\\')},
                                                         {QStringLiteral("slash"), folder + QLatin1Char('/')}});
    QStringList out;
    while (rows.next())
        out << rows.text(QStringLiteral("fpath"));
    return out;
}

// The folder stored as everything before the last separator of fpath.
static QString folderOfPath(const QString &fpath)
{
    const qsizetype cut = std::max(fpath.lastIndexOf(QLatin1Char('\\')), fpath.lastIndexOf(QLatin1Char('/')));
    return cut > 0 ? fpath.left(cut) : QString();
}

QStringList PhotoStore::folderCandidates(qint64 cardId, const QString &stamp, const std::optional<QString> &fpath)
{
    // Cards saved by one login in the same second share their stamp: a
    // folder is taken only when no other card names it, else one of the
    // card's own. A folder the card's photo already has to itself comes first.
    const QString base = stamp.isEmpty() ? QString::number(cardId) : stamp;
    QStringList candidates;
    if (fpath)
        if (const QString current = folderOfPath(*fpath); !current.isEmpty())
            candidates << current;
    candidates << base << base + QLatin1Char('_') + QString::number(cardId);
    for (int i = 2; i <= 20; ++i)
        candidates << base + QLatin1Char('_') + QString::number(cardId) + QLatin1Char('_') + QString::number(i);
    return candidates;
}

StagedPhoto PhotoStore::stage(const QString &chosen, const CopyOptions &copy)
{
    StagedPhoto photo;
    photo.name = storedFileName(chosen);
    if (photo.name.isEmpty())
        throw db::DbError(QStringLiteral("Фотографию нельзя сохранить под именем «%1».").arg(chosen));
    // In the scratch folder, which the clean-up empties even after a copy that
    // was killed; else in the photo folder, on the file system it goes to.
    QString folder = copy.scratchFolder;
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        folder = m_folder;
        if (!makeSharedFolder(folder))
            throw db::DbError(
                QStringLiteral("Не удалось создать папку фотографий «%1».").arg(QDir::toNativeSeparators(folder)));
    }
    QFile out;
    QString why;
    const QString staged = newPartialFile(out, folder, &why);
    if (staged.isEmpty())
        throw db::DbError(
            QStringLiteral("Не удалось записать файл в папку «%1»: %2.").arg(QDir::toNativeSeparators(folder), why));
    out.close();
    CopyOptions direct = copy;
    direct.scratchFolder.clear(); // the staged copy is itself the partial file
    const QString error = copyFileSafely(chosen, staged, direct);
    if (!error.isEmpty()) {
        QFile::remove(staged);
        throw db::DbError(error);
    }
    photo.staged = staged;
    if (folder != m_folder)
        photo.scratch = folder;
    return photo;
}

void PhotoStore::name(StagedPhoto &photo, qint64 cardId, const QString &stamp)
{
    const std::optional<QString> current = storedPath(cardId);
    const QStringList candidates = folderCandidates(cardId, stamp, current);
    for (const QString &candidate : candidates) {
        if (!folderUsers(cardId, candidate).isEmpty())
            continue;
        const QString fpath = candidate + QLatin1Char('\\') + photo.name;
        const QString target = photoFile(m_folder, fpath);
        if (target.isEmpty())
            throw db::DbError(QStringLiteral("Фотографию нельзя сохранить под именем «%1».").arg(fpath));
        // Checked before the path is stored: the database would cut it short.
        const int longest = db::textColumnLengths(m_db, QStringLiteral("BASE")).value(QStringLiteral("FPATH"));
        if (longest > 0 && fpath.size() > longest)
            throw db::DbError(
                QStringLiteral("Имя файла фотографии слишком длинное: вместе с папкой карточки %1 знаков, а база "
                               "данных хранит не больше %2.\rПереименуйте файл и загрузите его снова.")
                    .arg(fpath.size())
                    .arg(longest));
        const QString folder = QFileInfo(target).absolutePath();
        if (!makeSharedFolder(folder))
            throw db::DbError(
                QStringLiteral("Не удалось создать папку «%1» для фотографии.").arg(QDir::toNativeSeparators(folder)));
        // Never written through a link that leads out of the photo folder.
        const PhotoLocation where = locatePhoto(m_folder, fpath);
        if (where.state == PhotoLocation::Outside || !liesInside(m_folder, folder))
            throw db::DbError(
                QStringLiteral("Папка «%1» для фотографии лежит вне папки фотографий «%2»: она заменена ссылкой. "
                               "Фотография не сохранена; сообщите об этом администратору.")
                    .arg(QDir::toNativeSeparators(folder), QDir::toNativeSeparators(m_folder)));
        // The name is claimed by making the file: another copy storing the
        // same name meanwhile (its cards not committed yet, so its path not
        // seen above) finds it there and takes the next folder. The card's
        // own photo file is replaced as it is.
        bool reserved = false;
        if (current != fpath) {
            QFile claim(target);
            if (!claim.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
                if (QFileInfo::exists(target) || QFileInfo(target).isSymLink())
                    continue;
                throw db::DbError(QStringLiteral("Не удалось создать файл «%1»: %2.")
                                      .arg(QDir::toNativeSeparators(target), claim.errorString()));
            }
            reserved = true;
            noteClaim(photo.scratch, fpath);
        }
        try {
            setStoredPath(cardId, fpath);
        } catch (...) {
            if (reserved)
                QFile::remove(target);
            throw;
        }
        photo.fpath = fpath;
        photo.target = target;
        photo.reserved = reserved;
        return;
    }
    throw db::DbError(QStringLiteral("Не найдено свободной папки для фотографии карточки: папки «%1» и следующие "
                                     "заняты другими карточками.")
                          .arg(candidates.value(current ? 1 : 0)));
}

QString PhotoStore::place(const StagedPhoto &photo)
{
    if (photo.isEmpty() || photo.target.isEmpty())
        return QString();
    // The folder was checked when the path was chosen; checked again, since
    // a link may have taken its place meanwhile.
    if (!liesInside(m_folder, QFileInfo(photo.target).absolutePath())) {
        discard(photo);
        return QStringLiteral("Папка фотографии «%1» лежит вне папки фотографий.")
            .arg(QDir::toNativeSeparators(QFileInfo(photo.target).absolutePath()));
    }
    // Moved through the folders as they are then, never through a link that
    // took a folder's place after the check above.
    QString error = moveBelow(photo.staged, m_folder, photo.target);
    if (error.isEmpty()) {
#ifdef Q_OS_UNIX
        // The group of the photo's folder, so that the program's other users may read it.
        struct stat st;
        if (::stat(QFile::encodeName(QFileInfo(photo.target).absolutePath()).constData(), &st) == 0)
            (void)::chown(QFile::encodeName(photo.target).constData(), uid_t(-1), st.st_gid);
#endif
        return QString();
    }
    discard(photo);
    return QStringLiteral("Не удалось поместить фотографию в «%1»: %2.")
        .arg(QDir::toNativeSeparators(photo.target), error);
}

void PhotoStore::discard(const StagedPhoto &photo)
{
    if (!photo.staged.isEmpty())
        QFile::remove(photo.staged);
    // The claim on the name goes too, while it is still the empty file it made.
    if (photo.reserved && QFileInfo(photo.target).isFile() && QFileInfo(photo.target).size() == 0)
        QFile::remove(photo.target);
}

QString PhotoStore::attach(qint64 cardId, const QString &stamp, const QString &chosen, const CopyOptions &copy)
{
    StagedPhoto photo = stage(chosen, copy);
    try {
        m_db.unit([&] { name(photo, cardId, stamp); });
    } catch (...) {
        discard(photo);
        throw;
    }
    const QString error = place(photo);
    if (!error.isEmpty())
        throw db::DbError(error);
    return photo.fpath;
}

namespace {

const char kClaims[] = "claims";

} // namespace

void PhotoStore::noteClaim(const QString &scratchFolder, const QString &fpath)
{
    if (scratchFolder.isEmpty())
        return;
    QFile list(QDir(scratchFolder).filePath(QLatin1String(kClaims)));
    // Written at once: the process may be killed right after.
    if (list.open(QIODevice::WriteOnly | QIODevice::Append))
        list.write((fpath + QLatin1Char('\n')).toUtf8());
}

void PhotoStore::forgetClaims(const QString &scratchFolder)
{
    if (!scratchFolder.isEmpty())
        QFile::remove(QDir(scratchFolder).filePath(QLatin1String(kClaims)));
}

int PhotoStore::releaseClaims(const QString &scratchFolder)
{
    QFile list(QDir(scratchFolder).filePath(QLatin1String(kClaims)));
    if (QFileInfo(list.fileName()).isSymLink() || !list.open(QIODevice::ReadOnly))
        return 0;
    int released = 0;
    for (const QByteArray &line : list.readAll().split('\n')) {
        const QString fpath = QString::fromUtf8(line);
        const PhotoLocation where = locatePhoto(m_folder, fpath);
        // Only the empty file the claim made: a photo placed there stays.
        if (fpath.isEmpty() || where.state != PhotoLocation::Present || QFileInfo(where.file).size() != 0)
            continue;
        released += removeIfUnnamed(fpath) ? 1 : 0;
    }
    return released;
}

bool PhotoStore::removeIfUnnamed(const QString &fpath)
{
    bool named = false;
    {
        db::Rows rows = m_db.read(sql::countPhotoUsers(), {{QStringLiteral("fpath"), fpath}});
        named = rows.next() && rows.number(QStringLiteral("n")) > 0;
    }
    const PhotoLocation where = locatePhoto(m_folder, fpath);
    if (named || where.state != PhotoLocation::Present)
        return false;
    const QFileInfo file(where.file);
    return QFile::remove(QDir(QFileInfo(file.absolutePath()).canonicalFilePath()).filePath(file.fileName()));
}

PhotoStore::Deleted PhotoStore::deleteFile(qint64 cardId, const std::optional<QString> &seen)
{
    std::optional<QString> fpath;
    PhotoLocation where;
    bool shared = false;
    bool changed = false;
    // The card lets go of the file first, in a unit that reads the stored path
    // itself: a colleague's photo stored since the card was read is never
    // the one deleted, and should the unit fail (a colleague saving, a lost
    // connection), the photo is still there and still named.
    m_db.unit([&] {
        fpath = storedPath(cardId); // read in the unit, which then writes
        if (!fpath)
            return;
        if (seen && *seen != *fpath) {
            changed = true;
            return;
        }
        where = locatePhoto(m_folder, *fpath);
        if (where.state == PhotoLocation::Present)
            for (const QString &other : folderUsers(cardId, folderOfPath(*fpath)))
                shared = shared || photoFile(m_folder, other) == where.file;
        setStoredPath(cardId, QString());
    });
    if (!fpath)
        return Deleted::NoCard;
    if (changed)
        return Deleted::Changed;
    switch (where.state) {
    case PhotoLocation::None:
    case PhotoLocation::Missing:
        return Deleted::FileWasMissing;
    case PhotoLocation::BadPath:
    case PhotoLocation::Outside:
        return Deleted::Outside;
    case PhotoLocation::NotAFile:
        return Deleted::NotAFile;
    case PhotoLocation::Present:
        break;
    }
    if (shared)
        return Deleted::KeptForOtherCard;
    // Through the folder's real path: the one that was checked to lie inside.
    const QFileInfo file(where.file);
    const QString real = QDir(QFileInfo(file.absolutePath()).canonicalFilePath()).filePath(file.fileName());
    if (!QFile::remove(real))
        throw db::DbError(
            QStringLiteral("Фотография убрана из карточки, но файл «%1» удалить не удалось.").arg(where.file));
    return Deleted::Deleted;
}

} // namespace core
