#pragma once
// The program's scratch folder (temp/ beside the executable), emptied at exit.

#include <QString>

namespace core {

// Deletes the regular files directly inside `folder`, hidden ones too.
// Symbolic links, subfolders and their contents stay; a folder that is itself
// a link (or is missing, or is no folder) is left alone, so files elsewhere
// are never reached. Files that cannot be deleted (in use) simply stay.
void clearTempFolder(const QString &folder);

} // namespace core
