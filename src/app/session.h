#pragma once
// What lives for the whole run: the database connection with its shared
// queries, the logged-in user and the state of the run, and what the windows
// reach beyond themselves. Made in main() before the first window and ended
// after the last, so that no window outlives it; a test makes a fresh one.

#include "context.h"
#include "state.h"
#include "core/tempfolder.h"
#include "db/shared.h"

#include <QStringList>

class QWidget;

struct Session
{
    // `programFolder`: where the program lies (dbase.fdb or path.txt, Forms/,
    // files/ and temp/); tests give a folder of their own.
    explicit Session(const QString &programFolder = QString());
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    // Opens the database the program folder names (dbase.fdb beside the
    // program, else the path in path.txt), and makes the photo
    // folder; what fails is told in a message owned by `owner`. EndProgram:
    // there is no database, and the program ends at once.
    enum class Opened { Yes, No, EndProgram };
    Opened OpenDatabase(QWidget *owner);

    SharedDb db;
    SessionUserT SessionUser;
    // Named like its type: the type is spelt ::CardMode within the struct.
    ::CardMode CardMode = ::CardMode::New;
    QString PhotoFolder; // program folder + "/files", set once the database is open
    bool FirstActivation = false;
    const QString programFolder;
    Context context{db, *this};

    // This copy's own scratch folder: program folder/temp/<machine>-<process>
    // (another name when that one is taken), made on first use for this user
    // alone and locked while the copy runs. Copies that share the program
    // folder keep their scratch files apart. Empty when no such folder can be made.
    QString tempFolder();
    // Removes this copy's scratch folder with everything in it (at exit).
    void removeTempFolder();

private:
    core::ScratchFolder m_scratch;
};
