#include "shared.h"
#include "statements.h"

#include <stdexcept>

namespace {
SharedDb *g_db = nullptr;
}

SharedDb::SharedDb()
{
    ibSelect.setSql(sql::selectCard());
    ibUpdate.setSql(sql::updateCard());
    ibInsert.setSql(sql::insertCard());
    ibDel.setSql(sql::deleteCard());
    ibDel2.setSql(sql::deletePost());
    ibDel3.setSql(sql::deleteDepartment());
    ibDel4.setSql(sql::deleteOrganization());
    ibDel5.setSql(sql::deleteUser());
    ibDel6.setSql(sql::deleteAccounts());
}

SharedDb &dbs()
{
    if (!g_db)
        throw std::logic_error("shared database objects used before the main window exists");
    return *g_db;
}

void setSharedDb(SharedDb *db)
{
    g_db = db;
}
