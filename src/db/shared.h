#pragma once
// The one connection and the fixed set of query objects that every window of
// the program shares.
//
// Three transactions keep the connection's work apart. Every change is one
// short unit on IBTrans, committed where it ends (core::inOneCommit); an
// import's cards share commits, a short batch at a time (core::Batch). Reads
// run on read-only read-committed transactions, which see colleagues'
// commits at once and hold nothing back in the database: IBRead for single
// reads (iRead, ibSelect). The contact list keeps a cursor and transaction
// of its own (core::ListService).
//
// The services of the core do not pick among these: they go through
// `access`, which runs their reads, units and batches on the same two
// transactions with statements of its own.

#include "access.h"
#include "ibase.h"

#include <QString>

struct SharedDb
{
    SharedDb();

    db::IBDatabase IBDbase;
    db::IBTransaction IBTrans{&IBDbase};
    db::IBTransaction IBRead{&IBDbase, db::IBTransaction::Kind::Read};
    db::IBQuery iSQL{&IBDbase, &IBTrans};
    db::IBQuery iRead{&IBDbase, &IBRead};
    db::IBQuery ibSelect{&IBDbase, &IBRead};
    db::IBQuery ibUpdate{&IBDbase, &IBTrans};
    db::IBQuery ibInsert{&IBDbase, &IBTrans};
    db::IBQuery ibDel{&IBDbase, &IBTrans};
    db::IBQuery ibDel2{&IBDbase, &IBTrans};
    db::IBQuery ibDel3{&IBDbase, &IBTrans};
    db::IBQuery ibDel4{&IBDbase, &IBTrans};
    db::IBQuery ibDel5{&IBDbase, &IBTrans};
    db::IBQuery ibDel6{&IBDbase, &IBTrans};
    db::Access access{IBDbase, IBTrans, IBRead};
};
