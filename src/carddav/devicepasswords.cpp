#include "devicepasswords.h"

#include "core/logins.h"
#include "db/access.h"

#include <QCryptographicHash>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>

namespace davdb {

QByteArray pbkdf2Sha256(const QByteArray &password, const QByteArray &salt, int rounds, int length)
{
    QMessageAuthenticationCode mac(QCryptographicHash::Sha256, password);
    QByteArray key;
    for (quint32 block = 1; key.size() < length; ++block) {
        mac.reset();
        mac.addData(salt);
        const char index[4] = {char(block >> 24), char(block >> 16), char(block >> 8), char(block)};
        mac.addData(index, 4);
        QByteArray u = mac.result();
        QByteArray t = u;
        for (int i = 1; i < rounds; ++i) {
            mac.reset();
            mac.addData(u);
            u = mac.result();
            for (qsizetype k = 0; k < t.size(); ++k)
                t[k] = char(t[k] ^ u[k]);
        }
        key += t;
    }
    return key.left(length);
}

bool sameBytes(const QByteArray &a, const QByteArray &b)
{
    unsigned char diff = a.size() == b.size() ? 0 : 1;
    const qsizetype n = std::max(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i)
        diff |= static_cast<unsigned char>((i < a.size() ? a[i] : 0) ^ (i < b.size() ? b[i] : 0));
    return diff == 0;
}

namespace {

QByteArray randomBytes(int count)
{
    QByteArray out(count, Qt::Uninitialized);
    for (int i = 0; i < count; ++i)
        out[i] = char(QRandomGenerator::system()->bounded(256));
    return out;
}

// 28 characters of base32, 140 bits, in groups of four for typing.
QString newPassword()
{
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyz234567";
    QString out;
    for (int i = 0; i < 28; ++i) {
        if (i > 0 && i % 4 == 0)
            out += QLatin1Char('-');
        out += QLatin1Char(alphabet[QRandomGenerator::system()->bounded(32)]);
    }
    return out;
}

} // namespace

DevicePasswords::DevicePasswords(db::Access &db, int rounds)
    : m_db(db), m_rounds(rounds), m_cacheSecret(randomBytes(32))
{
}

QString DevicePasswords::normalized(const QString &password)
{
    QString out = password.toLower();
    out.remove(QLatin1Char('-'));
    out.remove(QLatin1Char(' '));
    return out;
}

std::optional<qint64> DevicePasswords::userOf(const QString &login)
{
    db::Rows rows = m_db.read(QStringLiteral("SELECT MAX(pk_id) AS id FROM pers WHERE login = :login"),
                              {{QStringLiteral("login"), login}});
    if (!rows.next() || rows.text(QStringLiteral("id")).isEmpty())
        return std::nullopt;
    return rows.number(QStringLiteral("id"));
}

QString DevicePasswords::add(const QString &login, const QString &desktopPassword, const QString &label)
{
    core::LoggedUser user;
    if (core::Logins(m_db).check(login, desktopPassword, &user) != core::LoginResult::Ok)
        throw db::DbError(QStringLiteral("Неверный логин или пароль."));
    const QString name = label.trimmed();
    if (name.isEmpty())
        throw db::DbError(QStringLiteral("Укажите название устройства."));
    if (name.size() > 100)
        throw db::DbError(QStringLiteral("Название устройства длиннее 100 знаков."));
    const QString password = newPassword();
    const QByteArray salt = randomBytes(16);
    const QByteArray digest = pbkdf2Sha256(normalized(password).toUtf8(), salt, m_rounds);
    try {
        m_db.unit([&] {
            m_db.write(QStringLiteral("INSERT INTO carddav_passwords (pers_fk, label, salt, digest, rounds, made) "
                                      "VALUES (:u, :label, :salt, :digest, :rounds, CURRENT_TIMESTAMP)"),
                       {{QStringLiteral("u"), user.id},
                        {QStringLiteral("label"), name},
                        {QStringLiteral("salt"), QString::fromLatin1(salt.toHex())},
                        {QStringLiteral("digest"), QString::fromLatin1(digest.toHex())},
                        {QStringLiteral("rounds"), m_rounds}});
        });
    } catch (const db::DbError &e) {
        if (e.kind() == db::DbError::Kind::DuplicateKey)
            throw db::DbError(QStringLiteral("Пароль устройства «%1» уже есть: выберите другое название.").arg(name));
        throw;
    }
    return password;
}

QList<DevicePasswords::Entry> DevicePasswords::list(const QString &login)
{
    QList<Entry> out;
    const std::optional<qint64> user = userOf(login);
    if (!user)
        return out;
    db::Rows rows =
        m_db.read(QStringLiteral("SELECT label, CAST(made AS VARCHAR(30)) AS made, CAST(used AS VARCHAR(30)) AS used "
                                 "FROM carddav_passwords WHERE pers_fk = :u ORDER BY label"),
                  {{QStringLiteral("u"), *user}});
    const auto time = [](const QString &text) {
        return text.isEmpty() ? QDateTime()
                              : QDateTime::fromString(text.left(19), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    };
    while (rows.next())
        out.append({rows.text(QStringLiteral("label")), time(rows.text(QStringLiteral("made"))),
                    time(rows.text(QStringLiteral("used")))});
    return out;
}

bool DevicePasswords::revoke(const QString &login, const QString &label)
{
    const std::optional<qint64> user = userOf(login);
    if (!user)
        return false;
    const qint64 gone = m_db.unit([&] {
        return m_db
            .write(QStringLiteral("DELETE FROM carddav_passwords WHERE pers_fk = :u AND label = :label"),
                   {{QStringLiteral("u"), *user}, {QStringLiteral("label"), label.trimmed()}})
            .affected();
    });
    return gone > 0;
}

QByteArray DevicePasswords::cacheKey(const QString &login, const QString &password) const
{
    return QMessageAuthenticationCode::hash(login.toUtf8() + '\0' + password.toUtf8(), m_cacheSecret,
                                            QCryptographicHash::Sha256);
}

void DevicePasswords::markUsed(qint64 row)
{
    auto it = m_usedMarked.find(row);
    if (it != m_usedMarked.end() && it->elapsed() < kUsedEveryMs)
        return;
    try {
        m_db.unit([&] {
            m_db.write(QStringLiteral("UPDATE carddav_passwords SET used = CURRENT_TIMESTAMP WHERE pk_id = :id"),
                       {{QStringLiteral("id"), row}});
        });
    } catch (const db::DbError &e) {
        if (e.connectionLost())
            throw;
        return; // another server marked it at the same moment
    }
    m_usedMarked[row].start();
}

std::optional<qint64> DevicePasswords::authenticate(const QString &login, const QString &password)
{
    const QString typed = normalized(password);
    const QByteArray key = cacheKey(login, typed);
    if (auto it = m_recent.find(key); it != m_recent.end()) {
        if (it->since.elapsed() < kRememberMs) {
            // Still there: a revoked password stops at once, cached or not.
            db::Rows count = m_db.read(QStringLiteral("SELECT COUNT(*) AS n FROM carddav_passwords WHERE pk_id = :id"),
                                       {{QStringLiteral("id"), it->row}});
            const bool present = count.next() && count.number(QStringLiteral("n")) > 0;
            if (present) {
                const qint64 user = it->user;
                markUsed(it->row);
                return user;
            }
        }
        m_recent.erase(it);
    }
    if (m_recent.size() > 1000) // a few clients at a time: old entries go
        for (auto i = m_recent.begin(); i != m_recent.end();)
            i = i->since.elapsed() >= kRememberMs ? m_recent.erase(i) : std::next(i);

    std::optional<qint64> user;
    try {
        user = userOf(login);
    } catch (const db::DbError &e) {
        if (e.connectionLost())
            throw;
        // A login the database cannot even compare is nobody's.
    }
    struct Row
    {
        qint64 id;
        QByteArray salt, digest;
        int rounds;
    };
    QList<Row> rows;
    if (user) {
        for (db::Rows q = m_db.read(QStringLiteral("SELECT pk_id, salt, digest, rounds FROM carddav_passwords "
                                                   "WHERE pers_fk = :u"),
                                    {{QStringLiteral("u"), *user}});
             q.next();)
            rows.append({q.number(QStringLiteral("pk_id")),
                         QByteArray::fromHex(q.text(QStringLiteral("salt")).toLatin1()),
                         QByteArray::fromHex(q.text(QStringLiteral("digest")).toLatin1()),
                         int(q.number(QStringLiteral("rounds")))});
    }
    // An unknown login or one without passwords costs the same slow hash.
    if (rows.isEmpty()) {
        pbkdf2Sha256(typed.toUtf8(), QByteArray(16, '\0'), m_rounds);
        return std::nullopt;
    }
    std::optional<qint64> matched;
    for (const Row &r : rows)
        if (sameBytes(pbkdf2Sha256(typed.toUtf8(), r.salt, r.rounds), r.digest) && !matched)
            matched = r.id;
    if (!matched)
        return std::nullopt;
    QElapsedTimer now;
    now.start();
    m_recent.insert(key, {*user, *matched, now});
    markUsed(*matched);
    return user;
}

qint64 LoginThrottle::delayMs(const QString &login, const QString &peer)
{
    const QString byLogin = QStringLiteral("l:") + login, byAddress = QStringLiteral("a:") + peer;
    const int n = std::max(countOf(byLogin), countOf(byAddress));
    if (n == 0)
        return 0;
    const qint64 wait = std::min(kLongestMs, kFirstMs << std::min(n - 1, 16));
    const qint64 now = m_clock.elapsed();
    const qint64 turn = std::max({now, m_turn.value(byLogin), m_turn.value(byAddress)}) + wait;
    m_turn.insert(byLogin, turn);
    m_turn.insert(byAddress, turn);
    return turn - now;
}

int LoginThrottle::countOf(const QString &key)
{
    auto it = m_failures.find(key);
    if (it == m_failures.end())
        return 0;
    if (it->last.elapsed() >= kForgetMs) {
        m_failures.erase(it);
        return 0;
    }
    return it->count;
}

void LoginThrottle::failed(const QString &login, const QString &peer)
{
    if (m_failures.size() > 10000) { // many addresses: forgotten ones go
        for (auto i = m_failures.begin(); i != m_failures.end();)
            i = i->last.elapsed() >= kForgetMs ? m_failures.erase(i) : std::next(i);
        for (auto i = m_turn.begin(); i != m_turn.end();)
            i = *i < m_clock.elapsed() ? m_turn.erase(i) : std::next(i);
    }
    for (const QString &key : {QStringLiteral("l:") + login, QStringLiteral("a:") + peer}) {
        const int before = countOf(key);
        Failures &f = m_failures[key];
        f.count = before + 1;
        f.last.start();
    }
}

void LoginThrottle::succeeded(const QString &login, const QString &peer)
{
    m_failures.remove(QStringLiteral("l:") + login);
    m_failures.remove(QStringLiteral("a:") + peer);
    m_turn.remove(QStringLiteral("l:") + login);
    m_turn.remove(QStringLiteral("a:") + peer);
}

} // namespace davdb
