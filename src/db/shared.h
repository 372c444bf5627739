#pragma once
// The one connection, the one transaction and the fixed set of query objects
// that every window of the program shares.

#include "ibase.h"

#include <QString>

struct SharedDb
{
    SharedDb();

    db::IBDatabase IBDbase;
    db::IBTransaction IBTrans{&IBDbase};
    db::IBQuery iBase{&IBDbase, &IBTrans};
    db::IBQuery iSQL{&IBDbase, &IBTrans};
    db::IBQuery ibSelect{&IBDbase, &IBTrans};
    db::IBQuery ibUpdate{&IBDbase, &IBTrans};
    db::IBQuery ibInsert{&IBDbase, &IBTrans};
    db::IBQuery ibDel{&IBDbase, &IBTrans};
    db::IBQuery ibDel2{&IBDbase, &IBTrans};
    db::IBQuery ibDel3{&IBDbase, &IBTrans};
    db::IBQuery ibDel4{&IBDbase, &IBTrans};
    db::IBQuery ibDel5{&IBDbase, &IBTrans};
    db::IBQuery ibDel6{&IBDbase, &IBTrans};
};
