#pragma once
// A card's photo on disk and in the database. The photo lives in the photo
// folder, in a sub-folder named by the card's creation stamp; Base.fpath
// holds "stamp\file name" with a backslash, the form other copies of the
// program and existing databases use.

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace db {
class Access;
}

namespace core {

// The file a stored fpath names inside `photoFolder`, as a native path; empty
// when fpath is empty or would lead outside the folder (an absolute path, a
// drive, ".."): the database is shared, so such a path is never opened.
QString photoFile(const QString &photoFolder, const QString &fpath);

// Where a stored photo is, and whether it may be read, replaced or deleted.
struct PhotoLocation
{
    enum State {
        None,     // no photo stored
        BadPath,  // the stored path itself leads outside the photo folder
        Missing,  // no file there
        Outside,  // a link on the way leads out of the photo folder
        NotAFile, // a pipe, a device, a folder
        Present,  // a plain file inside the photo folder
    };
    State state = None;
    QString file; // the native path in the photo folder; empty for None and BadPath
};
PhotoLocation locatePhoto(const QString &photoFolder, const QString &fpath);
// Why the stored photo cannot be used, in Russian, naming its path; empty
// when it is present or none is stored.
QString photoProblem(const QString &photoFolder, const QString &fpath, const PhotoLocation &where);

// The name a chosen file is stored under: its own name, unless the database
// cannot hold it (a character outside Windows-1251, or a character a file
// name may not hold elsewhere), then the characters it cannot hold become "_".
QString storedFileName(const QString &chosenPath);

struct CopyOptions
{
    // Where the partial copy is written until it is complete (the copy's own
    // scratch folder, which its clean-up empties); empty: beside the target.
    QString scratchFolder;
    // Called after each piece with the bytes copied so far and in all; a
    // false answer stops the copy.
    std::function<bool(qint64 done, qint64 total)> progress;
};

// Copies `source` (a plain file) to `target` byte for byte: first to a new
// partial file, then renamed over the target in one step, so an older file of
// that name stays whole until the new one is complete. When the scratch
// folder lies on another file system the partial file is made beside the
// target instead. A source that is the target itself is left alone. Returns
// an error text, or an empty text on success.
QString copyFileSafely(const QString &source, const QString &target, const CopyOptions &options = {});

// A chosen picture copied whole beside the photo folder, waiting for the
// unit that names it to commit: only then is it put in its place, so a save
// that fails changes no photo on disk.
struct StagedPhoto
{
    QString name;          // the file name it is stored under
    QString staged;        // the complete copy
    QString fpath;         // the stored path, once the unit chose its folder
    QString target;        // the native path that fpath names
    bool reserved = false; // target made, empty, as this photo's claim on the name
    QString scratch;       // the copy's scratch folder it was staged in; empty: the photo folder
    bool isEmpty() const { return staged.isEmpty(); }
};

class PhotoStore
{
public:
    PhotoStore(db::Access &db, const QString &photoFolder) : m_db(db), m_folder(photoFolder) {}

    // The card's fpath; nothing when the card does not exist.
    std::optional<QString> storedPath(qint64 cardId);
    // The card's creation stamp (sysinfo).
    QString stamp(qint64 cardId);
    // Stores fpath, as part of the unit that runs (committed when none does).
    void setStoredPath(qint64 cardId, const QString &fpath);

    // Copies `chosen` whole into the scratch folder (beside the photo folder
    // when there is none), before any unit starts: a large file never holds
    // a transaction open. A failed copy throws a DbError with the reason.
    StagedPhoto stage(const QString &chosen, const CopyOptions &copy = {});
    // Inside the card's unit: chooses the card's folder for the staged photo
    // and stores its fpath. The folder is the stamp's (the card's id when it
    // has no stamp) unless another card names that folder; then one of the
    // card's own (stamp_id).
    void name(StagedPhoto &photo, qint64 cardId, const QString &stamp);
    // After the unit committed: puts the photo in its place, over an older
    // file of that name. Returns the error text, or an empty text.
    QString place(const StagedPhoto &photo);
    // The unit failed: the staged copy goes.
    static void discard(const StagedPhoto &photo);

    // Stages `chosen`, names it and places it in one unit of its own (or the
    // running one, placed at once); returns the fpath.
    QString attach(qint64 cardId, const QString &stamp, const QString &chosen, const CopyOptions &copy = {});

    // Deletes the photo file `fpath` names when no card names it any more
    // (a card merged away); true when it went.
    bool removeIfUnnamed(const QString &fpath);

    // The names a copy claimed in the photo folder (the empty files name()
    // makes) are listed in its scratch folder as they are made. A copy killed
    // before its cards committed (an import's batch) leaves such empty files
    // that no card names; the clean-up of its scratch folder removes them
    // here. A claim that became a photo, or that a card names, stays.
    // Returns how many went.
    int releaseClaims(const QString &scratchFolder);
    // Every claim listed there was settled (its photo placed or discarded).
    static void forgetClaims(const QString &scratchFolder);

    enum class Deleted { NoCard, Changed, Deleted, FileWasMissing, KeptForOtherCard, Outside, NotAFile };
    // Empties the card's fpath and deletes its photo file, unless another card
    // names the same file or the file cannot safely be deleted (it lies
    // outside the photo folder, or is no plain file). The folder stays.
    // With `seen` (the fpath the user saw), nothing happens unless the card
    // still names that file: Changed then, a colleague stored another photo.
    Deleted deleteFile(qint64 cardId, const std::optional<QString> &seen = std::nullopt);

private:
    // Lists a claimed name in the scratch folder (nothing without one).
    static void noteClaim(const QString &scratchFolder, const QString &fpath);
    // The fpaths of the other cards that name `folder`: made with it as their
    // stamp, or with a photo in it (the stamp alone gives an empty text).
    // Inside a batch's unit the cards the batch has not committed yet count
    // too (cards stored in the same second share a stamp, and so a folder).
    QStringList folderUsers(qint64 cardId, const QString &folder);
    // The folders a card's photo may go into, the one it has first.
    QStringList folderCandidates(qint64 cardId, const QString &stamp, const std::optional<QString> &fpath);

    db::Access &m_db;
    QString m_folder;
};

} // namespace core
