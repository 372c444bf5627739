#pragma once
// What lives for the whole run: the database connection with its shared
// queries, and what the windows reach beyond themselves. Made before the
// first window and ended after the last, so that no window outlives it.

#include "context.h"
#include "db/shared.h"

struct Session
{
    SharedDb db;
    Context context{db};
};
