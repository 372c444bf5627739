#pragma once
// Passwords for a user's phones and mail programs, apart from his desktop
// password (which the database keeps in clear): random, shown once when
// made, stored only as a slow salted hash, each with a label, revoked one
// by one. A change of the desktop password leaves them working.

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QString>
#include <optional>

namespace db {
class Access;
}

namespace davdb {

// PBKDF2 with HMAC-SHA256 (RFC 8018), `length` bytes of key.
QByteArray pbkdf2Sha256(const QByteArray &password, const QByteArray &salt, int rounds, int length = 32);

// Whether two byte strings are equal, in a time that does not tell where they differ.
bool sameBytes(const QByteArray &a, const QByteArray &b);

class DevicePasswords
{
public:
    static constexpr int kRounds = 200000;
    // A success is remembered this long, so that a client's many requests
    // do not each pay the slow hash.
    static constexpr qint64 kRememberMs = 5 * 60 * 1000;
    // The date last used is stored at most this often per password.
    static constexpr qint64 kUsedEveryMs = 60 * 1000;

    // `rounds`: the hash's count for new passwords (tests take fewer).
    explicit DevicePasswords(db::Access &db, int rounds = kRounds);

    struct Entry
    {
        QString label;
        QDateTime made;
        QDateTime used; // null when never used
    };

    // A new password for the user of `login`, whose desktop password must be
    // `desktopPassword`; shown to him once, never stored. Throws a DbError
    // saying in Russian why none was made (wrong login or password, an empty
    // or taken label).
    QString add(const QString &login, const QString &desktopPassword, const QString &label);
    // The user's passwords by label; empty for an unknown login.
    QList<Entry> list(const QString &login);
    // False when the user has no password of that label.
    bool revoke(const QString &login, const QString &label);

    // The user's id when `password` is one of his device passwords.
    std::optional<qint64> authenticate(const QString &login, const QString &password);

    // Dashes and spaces left out, letters in lower case: as typed or as shown.
    static QString normalized(const QString &password);

private:
    struct Remembered
    {
        qint64 user;
        qint64 row;
        QElapsedTimer since;
    };
    std::optional<qint64> userOf(const QString &login);
    QByteArray cacheKey(const QString &login, const QString &password) const;
    void markUsed(qint64 row);

    db::Access &m_db;
    int m_rounds;
    QByteArray m_cacheSecret; // keys the cache, so that it holds no plain hash of a password
    QHash<QByteArray, Remembered> m_recent;
    QHash<qint64, QElapsedTimer> m_usedMarked;
};

// The growing wait before a login is checked, after wrong passwords for that
// login or from that address: a guesser gets a few tries a minute. Guesses
// sent at once wait in turn, each its full wait after the one before.
class LoginThrottle
{
public:
    static constexpr qint64 kFirstMs = 250;
    static constexpr qint64 kLongestMs = 15000;
    // Failures are forgotten this long after the last one.
    static constexpr qint64 kForgetMs = 15 * 60 * 1000;

    LoginThrottle() { m_clock.start(); }
    qint64 delayMs(const QString &login, const QString &peer);
    void failed(const QString &login, const QString &peer);
    void succeeded(const QString &login, const QString &peer);

private:
    struct Failures
    {
        int count = 0;
        QElapsedTimer last;
    };
    int countOf(const QString &key);
    QHash<QString, Failures> m_failures; // "l:" login or "a:" address
    QHash<QString, qint64> m_turn;       // the key's next check may come then (ms of m_clock)
    QElapsedTimer m_clock;
};

} // namespace davdb
