#pragma once
// Statement texts and column lists of the card index's tables.

#include <QString>
#include <QStringList>

namespace sql {

// Columns of Base in the order of the card's insert statement.
const QStringList &baseInsertColumns();
// Columns that an update of a card rewrites, in order.
const QStringList &baseUpdateColumns();

QString selectCard();   // ibSelect
QString updateCard();   // ibUpdate
QString insertCard();   // ibInsert (reads back the new pk_id)
QString deleteCard();   // ibDel
QString deletePost();   // ibDel2
QString deleteDepartment(); // ibDel3
QString deleteOrganization(); // ibDel4
QString deleteUser();   // ibDel5
QString deleteAccounts(); // ibDel6

QString selectLogins();
// The user look-up by login; the login is bound as :login.
QString selectUserByLogin();

// Long enough for any typed text: a bound parameter otherwise takes the length
// of the column it is compared with and a longer text fails.
inline QString boundText(const QString &param)
{
    return QStringLiteral("CAST(:%1 AS VARCHAR(8000) CHARACTER SET WIN1251)").arg(param);
}

} // namespace sql
