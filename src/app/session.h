#pragma once
// What lives for the whole run: the database connection with its shared
// queries, the logged-in user and the state of the run, and what the windows
// reach beyond themselves. Made in main() before the first window and ended
// after the last, so that no window outlives it; a test makes a fresh one.

#include "context.h"
#include "state.h"
#include "db/shared.h"

struct Session
{
    SharedDb db;
    SessionUserT SessionUser;
    QString CardMode;          // "new", "edit" or "read"
    QString PhotoFolder;       // program folder + "/files", set once the database is open
    bool FirstActivation = false;
    bool RefreshOnActivate = false;
    Context context{db, *this};
};
