#pragma once
// The one connection that every window of the program shares, and its two
// transactions.
//
// Every change is one short unit on IBTrans, committed where it ends; an
// import's cards share commits, a short batch at a time (db::Batch). Reads
// run on IBRead, read-only and read committed: it sees colleagues' commits
// at once and holds nothing back in the database. The contact list keeps a
// cursor and transaction of its own (core::ListService).
//
// The services of the core do not pick among these: they go through
// `access`, which runs their reads, units and batches on the same two
// transactions with statements of its own.

#include "access.h"
#include "ibase.h"

struct SharedDb
{
    db::IBDatabase IBDbase;
    db::IBTransaction IBTrans{&IBDbase};
    db::IBTransaction IBRead{&IBDbase, db::IBTransaction::Kind::Read};
    db::Access access{IBDbase, IBTrans, IBRead};

    // The connection and its door, for the services that read long results
    // on transactions of their own (the contact list, its index).
    operator db::Link() { return {IBDbase, access}; }
};
