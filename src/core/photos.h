#pragma once
// A card's photo on disk and in the database. The photo lives in the photo
// folder, in a sub-folder named by the card's creation stamp; Base.fpath
// holds "stamp\file name" with a backslash, the form other copies of the
// program and existing databases use.

#include <QString>
#include <optional>

struct SharedDb;

namespace core {

// The file a stored fpath names inside `photoFolder`, as a native path; empty
// when fpath is empty or would lead outside the folder (an absolute path, a
// drive, ".."): the database is shared, so such a path is never opened.
QString photoFile(const QString &photoFolder, const QString &fpath);

// The name a chosen file is stored under: its own name, unless the database
// cannot hold it (a character outside Windows-1251, or a character a file
// name may not hold elsewhere), then the characters it cannot hold become "_".
QString storedFileName(const QString &chosenPath);

// Copies `source` to `target` byte for byte through a temporary name in the
// target's folder, then renames it into place (replacing an older file). A
// source that is the target itself is left alone. Returns an error text, or
// an empty text on success.
QString copyFileSafely(const QString &source, const QString &target);

class PhotoStore
{
public:
    PhotoStore(SharedDb &db, const QString &photoFolder) : m_db(db), m_folder(photoFolder) {}

    // The card's fpath; nothing when the card does not exist.
    std::optional<QString> storedPath(qint64 cardId);
    // The card's creation stamp (sysinfo).
    QString stamp(qint64 cardId);
    // Stores fpath and commits.
    void setStoredPath(qint64 cardId, const QString &fpath);

    // Copies `chosen` into the stamp's folder and stores the new fpath; returns
    // the fpath. A failed copy throws a DbError with the reason and changes nothing.
    QString AttachPhoto(qint64 cardId, const QString &stamp, const QString &chosen);

    enum class Deleted { NoCard, Deleted, FileWasMissing };
    // Deletes the card's photo file and empties fpath (also when the file was
    // already gone). The stamp folder stays.
    Deleted DeletePhotoFile(qint64 cardId);

private:
    SharedDb &m_db;
    QString m_folder;
};

} // namespace core
