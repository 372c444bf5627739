#pragma once
// Files in folders that several accounts share (the photo folder, the
// scratch folders): folders made for the program's group only, paths checked
// against the folder they must lie in, files read only when they are plain
// files, new files made new (never through a name someone planted).

#include <QFileDevice>
#include <QString>

class QFile;

namespace core {

// Makes `folder` with its missing parents. Each folder it makes belongs to the
// group "firebird" (the group of the database engine's lock files, which the
// program's users share) when that group exists and may be given, else to
// the owner's group; it is set-group-ID, so what is made inside takes that
// group, and open to owner and group only (02770). `sticky`: the innermost
// folder also keeps others from renaming or deleting what is not theirs.
// Folders that exist already are left as they are.
bool makeSharedFolder(const QString &folder, bool sticky = false);

// Whether `path`, which must exist, lies inside `folder` once every link in
// either is resolved.
bool liesInside(const QString &folder, const QString &path);

// Writes `data` as the whole file `path` in one step: written beside it and
// put in its place, so a full disk or a failed write leaves the old file
// whole. `permissions` (when given) are set before anything is written; `why`
// gets the reason of a failure.
bool writeWholeFile(const QString &path, const QByteArray &data, QFileDevice::Permissions permissions = {},
                    QString *why = nullptr);

// Opens a plain file for reading. A pipe, a device, a socket or a folder is
// refused without waiting on it. `why` gets the reason in Russian.
bool openRegularFile(QFile &file, const QString &path, QString *why = nullptr);

// Makes a new file for writing with `permissions` (Unix mode bits). A name
// that exists in any form, a link planted there included, is refused.
bool createNewFile(QFile &file, const QString &path, QString *why = nullptr, int permissions = 0600);

// Renames `from` to `to`, replacing a file of that name in one step: the old
// file stays whole until the new one takes its place. Returns the error
// text, or an empty text; `crossDevice` tells that the two lie on different
// file systems.
QString replaceFile(const QString &from, const QString &to, bool *crossDevice = nullptr);

// Removes a folder and everything in it. Links inside are removed, never
// followed; a folder that is itself a link is left alone.
bool removeTree(const QString &folder);

// Moves the file `from` to `target`, which lies in a folder below `root`
// (its own or one of its subfolders). Each folder below `root` is entered
// through the folder before it and never through a link, so a folder
// swapped for a link after it was checked is refused rather than written
// through. Copies across file systems. Empty on success, else why not.
QString moveBelow(const QString &from, const QString &root, const QString &target);

} // namespace core
