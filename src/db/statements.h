#pragma once
// Statement texts and column lists of the card index's tables.

#include <QString>
#include <QStringList>

namespace sql {

// Columns of Base in the order of the card's insert statement.
const QStringList &baseInsertColumns();
// Columns that an update of a card rewrites, in order.
const QStringList &baseUpdateColumns();

QString selectCard();
QString updateCard();
QString insertCard(); // reads back the new pk_id
QString deleteCard();
QString deletePost();
QString deleteDepartment();
QString deleteOrganization();
QString deleteUser();
QString deleteAccounts();

QString selectLogins();
// The user look-up by login; the login is bound as :login.
QString selectUserByLogin();
QString selectUsers(); // ordered by full name
QString selectUser();  // by :pk_id
QString insertUser();
QString updateUser();

// A card's accounts row and its id, by :bs_fk; its insert and update.
QString selectAccounts();
QString selectAccountsId();
QString insertAccounts();
QString updateAccounts();

// A card's stored photo path and creation stamp, by :pk_id; the photo path's update.
QString selectPhotoPath();
QString selectStamp();
QString updatePhotoPath();

// The three reference books: a table with pk_id and one text column.
enum class Ref { Organization, Department, Post };
struct RefTable
{
    const char *table;  // organization, department, post
    const char *column; // org, dep, post
};
const RefTable &refTable(Ref ref);
// In the order a card saves them: work place, department, post.
inline constexpr Ref kRefs[] = {Ref::Organization, Ref::Department, Ref::Post};

QString selectRefAll(Ref ref);
// The rows whose value equals the upper-cased :v without regard to case.
QString selectRefExact(Ref ref);
// The rows whose upper-cased value is LIKE :pattern, in the value's order.
QString selectRefLike(Ref ref);
QString selectRefById(Ref ref); // by :pk_id
QString insertRef(Ref ref);
QString updateRef(Ref ref);
QString deleteRef(Ref ref);

// The longest typed text that a search or a login compares (the cast below).
inline constexpr int kLongestTypedText = 8000;

// Long enough for any typed text: a bound parameter otherwise takes the length
// of the column it is compared with and a longer text fails.
inline QString boundText(const QString &param)
{
    return QStringLiteral("CAST(:%1 AS VARCHAR(%2) CHARACTER SET WIN1251)").arg(param).arg(kLongestTypedText);
}

// The cards whose ids are bound as :id1 .. :idN (in no particular order):
// their rows with the first accounts row of each (acc_id NULL when none).
QString selectCardsWithAccounts(int count);

// The other cards (pk_id <> :pk_id) that name the photo folder :folder: made
// with it as their stamp, or holding a photo in it (fpath starting with
// :back, the folder and a backslash, or :slash, the folder and a slash).
QString selectFolderUsers();
// How many cards name the photo :fpath.
QString countPhotoUsers();
// Whether the table :name (upper case) exists: a row with n = 1.
QString countTables();
// The pairs of cards told apart ("Не дубликаты"), and their marking.
QString selectDistinct();
QString insertDistinct(); // :a < :b
QString deleteDistinct();

} // namespace sql
