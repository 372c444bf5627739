#pragma once
// An address book in memory for the server's tests: cards by name, a log of
// changes for the sync tokens, and users with full or read-only rights.
// Tokens are "<epoch>.<revision>"; a new epoch stands for a restored database.

#include "carddav/book.h"

#include <QMap>
#include <QRegularExpression>

class FakeBook : public dav::Book
{
public:
    struct Stored
    {
        QByteArray text; // vCard 3.0
        QString uid;
        qint64 revision = 0;
    };
    struct Logged
    {
        qint64 revision;
        QString href;
    };

    QMap<QString, Stored> stored;
    QList<Logged> log;
    qint64 revision = 1;
    QString epoch = QStringLiteral("e1");
    QMap<QString, dav::Rights> users{{QStringLiteral("alice"), dav::Rights::Full},
                                     {QStringLiteral("bob"), dav::Rights::ReadOnly}};
    int cardsCalls = 0;

    static QByteArray vcard(const QString &uid, const QString &lines)
    {
        return QStringLiteral("BEGIN:VCARD\r\nVERSION:3.0\r\nUID:%1\r\n%2END:VCARD\r\n").arg(uid, lines).toUtf8();
    }
    // A card stored as the desk would: no conditions, no user.
    void add(const QString &href, const QString &lines)
    {
        QString uid = href;
        uid.chop(4); // ".vcf"
        store(href, vcard(uid, lines), uid);
    }

    std::optional<dav::User> authenticate(const QString &login, const QString &password, const QString &) override
    {
        // Every user's device password is "pw-" and the login.
        if (!users.contains(login) || password != QStringLiteral("pw-") + login)
            return std::nullopt;
        return dav::User{login, login.toUpper(), 1};
    }
    QMap<QString, qint64> delays; // login -> wait before its password is checked
    qint64 loginDelayMs(const QString &login, const QString &) override { return delays.value(login); }
    dav::Rights rights(const dav::User &user) override { return users.value(user.login, dav::Rights::ReadOnly); }

    QString syncToken() override { return epoch + u'.' + QString::number(revision); }
    std::unique_ptr<dav::Cursor<dav::Member>> members() override
    {
        QList<dav::Member> out;
        for (auto it = stored.cbegin(); it != stored.cend(); ++it)
            out.append({it.key(), etag(it.value())});
        return std::make_unique<dav::ListCursor<dav::Member>>(out);
    }
    std::optional<Changes> changesSince(const QString &token) override
    {
        const QStringList parts = token.split(u'.');
        bool ok = false;
        const qint64 since = parts.value(1).toLongLong(&ok);
        if (parts.size() != 2 || parts[0] != epoch || !ok || since > revision)
            return std::nullopt;
        QList<dav::Change> out;
        QStringList seen;
        for (const Logged &l : log) {
            if (l.revision <= since || seen.contains(l.href))
                continue;
            seen << l.href;
            if (stored.contains(l.href))
                out.append({l.href, etag(stored[l.href]), false});
            else
                out.append({l.href, {}, true});
        }
        return Changes{syncToken(), std::make_unique<dav::ListCursor<dav::Change>>(out)};
    }

    std::optional<dav::FetchedCard> get(const QString &href, dav::Version version) override
    {
        if (!stored.contains(href))
            return std::nullopt;
        return fetched(href, version, true);
    }
    std::unique_ptr<dav::Cursor<dav::FetchedCard>> cards(const QStringList &hrefs, dav::Version version,
                                                         bool withText) override
    {
        ++cardsCalls;
        QList<dav::FetchedCard> out;
        for (const QString &h : hrefs)
            out << fetched(h, version, withText);
        return std::make_unique<dav::ListCursor<dav::FetchedCard>>(out);
    }
    std::unique_ptr<dav::Cursor<dav::FetchedCard>> allCards(dav::Version version) override
    {
        return cards(stored.keys(), version, true);
    }

    dav::PutResult put(const QString &href, const QByteArray &body, const dav::Conditions &conditions,
                       const dav::User &) override
    {
        const QString uid = QRegularExpression(QStringLiteral("^UID:(.*?)\\r?$"), QRegularExpression::MultilineOption)
                                .match(QString::fromUtf8(body))
                                .captured(1);
        if (uid.isEmpty())
            return {dav::PutResult::BadCard, {}, QStringLiteral("no UID")};
        for (auto it = stored.cbegin(); it != stored.cend(); ++it)
            if (it.value().uid == uid && it.key() != href)
                return {dav::PutResult::UidConflict, it.key(), {}};
        const bool exists = stored.contains(href);
        const QByteArray current = exists ? etag(stored[href]) : QByteArray();
        if (!conditions.hold(exists ? &current : nullptr))
            return {dav::PutResult::PreconditionFailed, {}, {}};
        store(href, body, uid);
        return {exists ? dav::PutResult::Updated : dav::PutResult::Created, {}, {}};
    }
    dav::RemoveResult remove(const QString &href, const dav::Conditions &conditions, const dav::User &) override
    {
        if (!stored.contains(href))
            return dav::RemoveResult::NotFound;
        const QByteArray current = etag(stored[href]);
        if (!conditions.hold(&current))
            return dav::RemoveResult::PreconditionFailed;
        stored.remove(href);
        log.append({++revision, href});
        return dav::RemoveResult::Deleted;
    }

    static QByteArray etag(const Stored &s) { return "r" + QByteArray::number(s.revision); }

private:
    void store(const QString &href, const QByteArray &text, const QString &uid)
    {
        stored[href] = {text, uid, ++revision};
        log.append({revision, href});
    }
    dav::FetchedCard fetched(const QString &href, dav::Version version, bool withText) const
    {
        if (!stored.contains(href))
            return {href, false, {}, {}};
        const Stored &s = stored[href];
        QByteArray text;
        if (withText) {
            text = s.text;
            if (version == dav::Version::V4)
                text.replace("VERSION:3.0", "VERSION:4.0");
        }
        return {href, true, etag(s), text};
    }
};
