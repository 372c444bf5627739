#include "shared.h"
#include "statements.h"

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
