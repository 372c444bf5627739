#pragma once
// What lives for the whole run: the database connection with its shared
// queries, the logged-in user and the state of the run, and what the windows
// reach beyond themselves. Made in main() before the first window and ended
// after the last, so that no window outlives it; a test makes a fresh one.

#include "context.h"
#include "state.h"
#include "db/shared.h"

#include <QStringList>

class QWidget;

struct Session
{
    // Opens the database the program folder names (dbase.fdb beside the
    // program, else the path in path.txt), upgrades it, and makes the photo
    // folder; what fails is told in a message owned by `owner`. EndProgram:
    // there is no database, and the program ends at once.
    enum class Opened { Yes, No, EndProgram };
    Opened OpenDatabase(QWidget *owner);

    SharedDb db;
    SessionUserT SessionUser;
    QString CardMode;          // "new", "edit" or "read"
    QString PhotoFolder;       // program folder + "/files", set once the database is open
    bool FirstActivation = false;
    bool RefreshOnActivate = false;
    QStringList duplicateLogins; // several users with one login, found when the database was opened
    Context context{db, *this};
};
