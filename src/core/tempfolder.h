#pragma once
// The program's scratch folders (temp/ beside the executable): one for each
// running copy, removed when the copy ends.

#include <QString>
#include <functional>

namespace core {

// The name of this copy's scratch folder: the machine's name (letters a
// folder name may hold) and the process id, e.g. "desk7-4211".
QString scratchFolderName();

// Deletes the regular files directly inside `folder`, hidden ones too.
// Symbolic links, subfolders and their contents stay; a folder that is itself
// a link (or is missing, or is no folder) is left alone, so files elsewhere
// are never reached. Files that cannot be deleted (in use) simply stay.
void clearTempFolder(const QString &folder);

// A running copy's own scratch folder: made by this copy for this user alone
// (0700), never a link, and locked for as long as the copy runs through its
// lock file, so that the clean-up of other copies (on this machine or another
// one sharing the program folder) knows it is in use.
class ScratchFolder
{
public:
    ScratchFolder() = default;
    ~ScratchFolder(); // lets go of the lock; the folder stays
    ScratchFolder(const ScratchFolder &) = delete;
    ScratchFolder &operator=(const ScratchFolder &) = delete;

    // Makes `parent`/`name` (`parent` made shared and sticky when missing).
    // A name that is taken (a link, a file, a folder of another account or
    // one that others may write to, a folder of a running copy) is never
    // used: then name-2, name-3, ... An ended copy's folder of this user is
    // taken over. False when no folder could be made.
    bool make(const QString &parent, const QString &name);
    // The folder, while it is still the one this object made (not removed or
    // replaced meanwhile); else empty.
    QString path() const;
    // Removes the folder with everything in it and lets go of the lock.
    void remove();

private:
    void release();
    QString m_path;
    int m_lock = -1;
};

enum class Scratch { Removed, InUse, NoLock };
// Another copy's scratch folder: removed with everything in it (links removed,
// never followed) when its lock can be taken, that is when that copy has
// ended. NoLock: a folder without a lock file (made by an older version).
// `beforeRemoval`, when given, runs with the lock held and may keep the
// folder for a later clean-up by answering false (InUse then).
Scratch removeIfEnded(const QString &folder, const std::function<bool(const QString &folder)> &beforeRemoval = {});

} // namespace core
