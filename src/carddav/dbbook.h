#pragma once
// The address book of the CardDAV server over the card index's database:
// the cards of base with their accounts and photos, written as vCards by the
// card file writer, stored through the card window's own save, their
// changes and deletions told from carddav_cards (db/schema.sql).
//
// A card a client made keeps the client's name ("href") and UID for good; a
// card made anywhere else is served as "zentrax-<id>.vcf" with the UID
// "zentrax-<id>", names that need no row to be written when first served.
//
// Not for several threads at once: one book, with its own connection, per
// thread that serves requests.

#include "book.h"
#include "devicepasswords.h"
#include "synctoken.h"

#include "db/access.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <memory>

namespace davdb {

// Photos are served at most this large, however large the stored picture:
// phones break on larger ones.
inline constexpr int kPhotoSide = 512;
inline constexpr qsizetype kPhotoBytes = 100 * 1024;

// The picture file as a card carries it: the file itself when small enough,
// else scaled down to a JPEG; empty when the file is missing or no picture.
QByteArray servedPhoto(const QString &file);

class DbBook : public dav::Book
{
public:
    // Cards through `db` (its connection opened by the caller): short reads
    // and every change through its door, the long listings on transactions
    // and cursors of their own. Photos in `photoFolder`, on their way
    // through `scratchFolder` (a folder of its own when empty).
    DbBook(db::Link db, const QString &photoFolder, const QString &scratchFolder = QString(),
           int passwordRounds = DevicePasswords::kRounds);
    ~DbBook() override;

    std::optional<dav::User> authenticate(const QString &login, const QString &password, const QString &peer) override;
    qint64 loginDelayMs(const QString &login, const QString &peer) override;
    dav::Rights rights(const dav::User &user) override;

    QString syncToken() override;
    std::unique_ptr<dav::Cursor<dav::Member>> members() override;
    std::optional<Changes> changesSince(const QString &token) override;

    std::optional<dav::FetchedCard> get(const QString &href, dav::Version version) override;
    std::unique_ptr<dav::Cursor<dav::FetchedCard>> cards(const QStringList &hrefs, dav::Version version,
                                                         bool withText) override;
    std::unique_ptr<dav::Cursor<dav::FetchedCard>> allCards(dav::Version version) override;

    dav::PutResult put(const QString &href, const QByteArray &body, const dav::Conditions &conditions,
                       const dav::User &user) override;
    dav::RemoveResult remove(const QString &href, const dav::Conditions &conditions, const dav::User &user) override;

    DevicePasswords &passwords() { return m_passwords; }
    LoginThrottle &throttle() { return m_throttle; }

    // Removes tombstones older than kTombstoneDays; the book does it by
    // itself once a day.
    void clearTombstones();

    class CardReader; // turns rows of cards into vCards

private:
    QString epoch();
    void tidy();
    dav::PutResult putOnce(const QString &href, const QByteArray &body, const dav::Conditions &c, const dav::User &user,
                           QStringList &problems);
    std::optional<dav::RemoveResult> removeOnce(const QString &href, const dav::Conditions &c, QString &photo);

    db::IBDatabase &m_connection;
    db::Access &m_db;
    QString m_photoFolder;
    QString m_scratchFolder;
    std::unique_ptr<QTemporaryDir> m_ownScratch;
    DevicePasswords m_passwords;
    LoginThrottle m_throttle;
    QString m_epoch;
    QElapsedTimer m_tidied;
    // The transaction the last token started from, and its database's epoch.
    qint64 m_tokenStart = -1;
    QString m_tokenEpoch;
    // Where a new token starts: the last one's start while no change has
    // committed since (clients compare the token, the CTag, to know whether
    // to list anything), else the oldest transaction still running.
    qint64 tokenStartNow(const DbMoment &now);
};

} // namespace davdb
