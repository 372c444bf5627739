#pragma once
#include <QString>

namespace paths {

// The folder of the program's executable.
QString executableFolder();

// Joins a folder and a name with one separator; a folder that already ends in
// one (a root) keeps it, so "/" + "x" gives "//x" just as "C:\" gives "C:\\x".
QString join(const QString &folder, const QString &name);

// The name this copy's scratch folder under temp/ is first tried under:
// <machine>-<process> (see Session::tempFolder).
QString tempFolderName();

// Whether a process of this machine with that id is still running.
bool processRunning(qint64 pid);

// Makes a folder with its missing parents; the folders it makes are open to
// the program's group (copies of several users share the program folder)
// and closed to everybody else.
bool makeSharedFolder(const QString &folder, bool sticky = false);

// zentrax.ini: in APPDATA when that is set, else in the user's configuration folder.
QString settingsFile();

// A "host:/path" or "host:C:\path" connection string names a database on a
// server; such a path is not a local file and is not tested for existence.
bool isServerPath(const QString &path);

} // namespace paths
