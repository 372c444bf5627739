#include "dbbook.h"

#include "davtypes.h"
#include "dbcursors.h"
#include "synctoken.h"

#include "cardfiles/cardfile.h"
#include "cardfiles/vcard.h"
#include "core/cardcheck.h"
#include "core/cardediting.h"
#include "core/cardfields.h"
#include "core/photos.h"
#include "core/refvalues.h"
#include "core/safefiles.h"
#include "core/stamp.h"
#include "db/access.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QRegularExpression>
#include <QScopeGuard>

namespace davdb {

namespace {

// The longest name or UID stored, in its stored form.
constexpr qsizetype kLongestName = 500;

// The columns a vCard carries only in this program's own X-ZENTRAX-
// properties. A client that drops those properties would empty them with
// every edit: from such a client they keep their stored values.
const QStringList &ownPropertyColumns()
{
    static const QStringList c = {
        QStringLiteral("ps"),    QStringLiteral("pnum"),  QStringLiteral("pdate1"), QStringLiteral("pdate2"),
        QStringLiteral("vs"),    QStringLiteral("vnum"),  QStringLiteral("vdate1"), QStringLiteral("vdate2"),
        QStringLiteral("smok"),  QStringLiteral("alc"),   QStringLiteral("fish"),   QStringLiteral("hunt"),
        QStringLiteral("paint"), QStringLiteral("art"),   QStringLiteral("mus"),    QStringLiteral("trav"),
        QStringLiteral("cook"),  QStringLiteral("sport"), QStringLiteral("other")};
    return c;
}

// The UID of a vCard as written (escapes kept), and whether the card holds
// any of this program's own properties.
struct Props
{
    QString uid;
    bool ownProperties = false;
};
Props propsOf(const QByteArray &body)
{
    Props p;
    const vcard::Parsed parsed = vcard::parse(body);
    if (parsed.cards.isEmpty())
        return p;
    for (const vcard::Property &prop : parsed.cards.first().properties) {
        if (prop.name == QLatin1String("UID") && p.uid.isEmpty())
            p.uid = prop.value.trimmed();
        if (prop.name.startsWith(QLatin1String("X-ZENTRAX-")))
            p.ownProperties = true;
    }
    return p;
}

} // namespace

QByteArray servedPhoto(const QString &file)
{
    QFile f;
    if (file.isEmpty() || !core::openRegularFile(f, file) || f.size() > (64 << 20))
        return {};
    const QByteArray bytes = f.readAll();
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    const QByteArray format = reader.format();
    const QSize size = reader.size();
    if (bytes.size() <= kPhotoBytes && (format == "jpeg" || format == "png") && size.isValid() &&
        std::max(size.width(), size.height()) <= kPhotoSide && !reader.transformation())
        return bytes;
    QImage image = reader.read();
    if (image.isNull())
        return {};
    if (std::max(image.width(), image.height()) > kPhotoSide)
        image = image.scaled(kPhotoSide, kPhotoSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    // JPEG has no transparency: what is transparent becomes white.
    QImage flat(image.size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    {
        QPainter painter(&flat);
        painter.drawImage(0, 0, image);
    }
    QByteArray out;
    for (int quality : {85, 70, 55, 40}) {
        out.clear();
        QBuffer b(&out);
        b.open(QIODevice::WriteOnly);
        flat.save(&b, "JPEG", quality);
        if (out.size() <= kPhotoBytes)
            break;
    }
    return out;
}

// ------------------------------------------------------------------ the book

DbBook::DbBook(db::Link db, const QString &photoFolder, const QString &scratchFolder, int passwordRounds)
    : m_connection(db.connection), m_db(db.access), m_photoFolder(photoFolder), m_scratchFolder(scratchFolder),
      m_passwords(db.access, passwordRounds)
{
    if (m_scratchFolder.isEmpty() || !QFileInfo(m_scratchFolder).isDir()) {
        m_ownScratch = std::make_unique<QTemporaryDir>();
        m_scratchFolder = m_ownScratch->path();
    }
}

DbBook::~DbBook() = default;

qint64 DbBook::loginDelayMs(const QString &login, const QString &peer)
{
    return m_throttle.delayMs(login, peer);
}

std::optional<dav::User> DbBook::authenticate(const QString &login, const QString &password, const QString &peer)
{
    const std::optional<qint64> id = m_passwords.authenticate(login, password);
    if (!id) {
        m_throttle.failed(login, peer);
        return std::nullopt;
    }
    m_throttle.succeeded(login, peer);
    db::Rows rows = m_db.read(QStringLiteral("SELECT fio FROM pers WHERE pk_id = :id"), {{QStringLiteral("id"), *id}});
    if (!rows.next())
        return std::nullopt;
    return dav::User{login, rows.text(0), *id};
}

dav::Rights DbBook::rights(const dav::User &user)
{
    db::Rows rows =
        m_db.read(QStringLiteral("SELECT level FROM pers WHERE pk_id = :id"), {{QStringLiteral("id"), user.id}});
    // As the desk has it: only "full" may change cards.
    return rows.next() && rows.text(0) == QLatin1String("full") ? dav::Rights::Full : dav::Rights::ReadOnly;
}

QString DbBook::epoch()
{
    if (m_epoch.isEmpty())
        m_epoch = readMoment(m_connection).epoch;
    return m_epoch;
}

void DbBook::tidy()
{
    if (m_tidied.isValid() && m_tidied.elapsed() < 24 * 3600 * 1000)
        return;
    m_tidied.start();
    try {
        clearTombstones();
    } catch (const db::DbError &e) {
        if (e.connectionLost())
            throw;
    }
}

void DbBook::clearTombstones()
{
    m_db.unit([&] {
        m_db.write(QStringLiteral("DELETE FROM carddav_cards c WHERE c.deleted < DATEADD(%1 DAY TO CURRENT_TIMESTAMP) "
                                  "AND NOT EXISTS (SELECT 1 FROM base b WHERE b.pk_id = c.card)")
                       .arg(-kTombstoneDays));
    });
}

qint64 DbBook::tokenStartNow(const DbMoment &now)
{
    // Every transaction still running is not older than the last start, so
    // its changes come after either token alike.
    if (m_tokenStart >= 0 && m_tokenEpoch == now.epoch && m_tokenStart <= now.oldestActive) {
        const bool changed = m_db.read(QStringLiteral("SELECT FIRST 1 1 FROM carddav_cards WHERE txn >= :txn"),
                                       {{QStringLiteral("txn"), m_tokenStart}})
                                 .next();
        if (!changed)
            return m_tokenStart;
    }
    m_tokenStart = now.oldestActive;
    m_tokenEpoch = now.epoch;
    return m_tokenStart;
}

QString DbBook::syncToken()
{
    DbMoment now = readMoment(m_connection);
    m_epoch = now.epoch;
    tidy();
    now.oldestActive = tokenStartNow(now);
    return tokenOf(now);
}

std::unique_ptr<dav::Cursor<dav::Member>> DbBook::members()
{
    return memberCursor(m_connection, epoch());
}

std::optional<dav::Book::Changes> DbBook::changesSince(const QString &token)
{
    // The new token before the listing: what commits meanwhile is in both.
    const DbMoment now = readMoment(m_connection);
    m_epoch = now.epoch;
    const std::optional<qint64> since = tokenStart(token, now);
    if (!since)
        return std::nullopt;
    tidy();
    DbMoment from = now;
    from.oldestActive = tokenStartNow(now);
    return Changes{tokenOf(from), changeCursor(m_connection, now.epoch, *since)};
}

std::optional<dav::FetchedCard> DbBook::get(const QString &href, dav::Version version)
{
    dav::FetchedCard card;
    if (!cards({href}, version, true)->next(card) || !card.found)
        return std::nullopt;
    return card;
}

std::unique_ptr<dav::Cursor<dav::FetchedCard>> DbBook::cards(const QStringList &hrefs, dav::Version version,
                                                             bool withText)
{
    return namedCardsCursor(m_connection, m_photoFolder, epoch(), hrefs, version, withText);
}

std::unique_ptr<dav::Cursor<dav::FetchedCard>> DbBook::allCards(dav::Version version)
{
    return allCardsCursor(m_connection, m_photoFolder, epoch(), version);
}

// ------------------------------------------------------------------ writing

namespace {

// What a name stands for, read in the unit that writes.
struct Located
{
    qint64 card = 0;        // 0: no card, living or deleted, goes by that name
    bool alive = false;     // the card exists
    bool tombstone = false; // a deleted card's row holds the name
    qint64 txn = 0;         // the card's last change (0: none since the table came)
};

Located locate(db::Access &db, const QString &href)
{
    Located l;
    {
        db::Rows named = db.read(QStringLiteral("SELECT c.card, c.txn, b.pk_id AS alive FROM carddav_cards c "
                                                "LEFT JOIN base b ON b.pk_id = c.card WHERE c.href = :href"),
                                 {{QStringLiteral("href"), storedName(href)}});
        if (named.next()) {
            l.card = named.number(0);
            l.txn = named.number(1);
            l.alive = !named.text(2).isEmpty();
            l.tombstone = !l.alive;
            return l;
        }
    }
    const std::optional<qint64> id = derivedId(href, QStringLiteral(".vcf"));
    if (!id)
        return l;
    db::Rows own = db.read(QStringLiteral("SELECT (SELECT pk_id FROM base WHERE pk_id = :n) AS alive, c.card, c.href, "
                                          "c.txn FROM rdb$database LEFT JOIN carddav_cards c ON c.card = :n"),
                           {{QStringLiteral("n"), *id}});
    if (!own.next() || !own.text(2).isEmpty()) // the card has a name a client gave it
        return l;
    l.alive = !own.text(0).isEmpty();
    l.tombstone = !l.alive && !own.text(1).isEmpty();
    l.txn = own.text(3).isEmpty() ? 0 : own.number(3);
    if (l.alive || l.tombstone)
        l.card = *id;
    return l;
}

// The name of another living card with that UID; empty when none.
QString uidHolder(db::Access &db, const QString &uid, qint64 card)
{
    {
        db::Rows named = db.read(QStringLiteral("SELECT c.card, c.href FROM carddav_cards c JOIN base b ON b.pk_id = "
                                                "c.card WHERE c.uid = :uid AND c.card <> :card"),
                                 {{QStringLiteral("uid"), storedName(uid)}, {QStringLiteral("card"), card}});
        if (named.next())
            return hrefOf(named.number(0), named.text(1));
    }
    const std::optional<qint64> id = derivedId(uid, QString());
    if (!id || *id == card)
        return QString();
    db::Rows own = db.read(QStringLiteral("SELECT b.pk_id, c.href FROM base b LEFT JOIN carddav_cards c ON c.card = "
                                          "b.pk_id WHERE b.pk_id = :n AND c.uid IS NULL"),
                           {{QStringLiteral("n"), *id}});
    return own.next() ? hrefOf(own.number(0), own.text(1)) : QString();
}

} // namespace

dav::PutResult DbBook::put(const QString &href, const QByteArray &body, const dav::Conditions &conditions,
                           const dav::User &user)
{
    if (rights(user) != dav::Rights::Full)
        return {dav::PutResult::Forbidden, {}, {}};
    if (body.size() > dav::kMaxCardSize)
        return {dav::PutResult::TooLarge, {}, {}};
    if (storedName(href).size() > kLongestName)
        return {dav::PutResult::BadCard, {}, QStringLiteral("name too long")};
    // A colleague's change met by the write fails it as a conflict: once
    // more, the preconditions are then checked against his version.
    for (int attempt = 0;; ++attempt) {
        QStringList problems;
        try {
            return putOnce(href, body, conditions, user, problems);
        } catch (const db::DbError &e) {
            const bool clash = e.conflict() || e.kind() == db::DbError::Kind::DuplicateKey;
            if (!clash)
                throw;
            if (attempt > 0)
                return {dav::PutResult::PreconditionFailed, {}, e.text()};
        }
    }
}

dav::PutResult DbBook::putOnce(const QString &href, const QByteArray &body, const dav::Conditions &conditions,
                               const dav::User &user, QStringList &problems)
{
    const core::CardFile file = core::readCards(body);
    if (!file.error.isEmpty() || file.cards.size() != 1)
        return {dav::PutResult::BadCard, {}, file.error.isEmpty() ? QStringLiteral("one card expected") : file.error};
    const core::CardData &card = file.cards.first();
    const Props props = propsOf(body);
    // A card without a UID gets the one its name makes.
    const QString uid =
        props.uid.isEmpty() ? QString(href).remove(QRegularExpression(QStringLiteral("\\.vcf$"))) : props.uid;
    if (storedName(uid).size() > kLongestName)
        return {dav::PutResult::BadCard, {}, QStringLiteral("UID too long")};
    core::CardChecks checks(m_db);
    QString problem = checks.cardProblem(card.card, core::cardColumns(), nullptr, core::fieldLabel);
    if (problem.isEmpty() && card.accounts)
        problem = checks.accountsProblem(*card.accounts);
    if (!problem.isEmpty())
        return {dav::PutResult::BadCard, {}, problem.section(u'\r', 0, 0)};

    core::CardEditor editor(m_db, m_photoFolder, m_scratchFolder);
    core::CardChange change;
    change.card = card.card;
    change.accounts = card.accounts;
    // A picture the card carries goes in through a file, as the import's.
    QString pictureFile;
    const auto cleanup = qScopeGuard([&] {
        if (!pictureFile.isEmpty())
            QFile::remove(pictureFile);
    });
    dav::PutResult result;
    try {
        result = m_db.unit([&]() -> dav::PutResult {
            const Located at = locate(m_db, href);
            const QString holder = uidHolder(m_db, uid, at.alive ? at.card : 0);
            if (!holder.isEmpty())
                return {dav::PutResult::UidConflict, holder, {}};
            std::optional<core::CardBaseline> baseline;
            if (at.alive) {
                const QByteArray current = etagOf(epoch(), at.txn);
                if (!conditions.hold(&current))
                    return {dav::PutResult::PreconditionFailed, {}, {}};
                // Held from here to the commit, in the order every save takes
                // them: a colleague who changed the card since this unit's
                // snapshot fails it here, before anything is written.
                m_db.write(QStringLiteral("UPDATE base SET pk_id = pk_id WHERE pk_id = :id"),
                           {{QStringLiteral("id"), at.card}});
                m_db.write(QStringLiteral("UPDATE accounts SET bs_fk = bs_fk WHERE bs_fk = :id"),
                           {{QStringLiteral("id"), at.card}});
                const std::optional<core::CardRecord> stored = core::readCardRow(m_db, at.card);
                if (!stored)
                    return {dav::PutResult::PreconditionFailed, {}, {}};
                baseline = core::CardBaseline{*stored, core::readAccountsRow(m_db, at.card)};
                if (!props.ownProperties)
                    for (const QString &c : ownPropertyColumns())
                        change.card.values[c] = baseline->card.value(c);
            } else {
                if (!conditions.hold(nullptr))
                    return {dav::PutResult::PreconditionFailed, {}, {}};
                if (!at.tombstone && derivedId(href, QStringLiteral(".vcf")))
                    return {dav::PutResult::BadCard, {}, QStringLiteral("names of this form are the server's")};
            }
            if (!card.photo.isEmpty()) {
                const QString ext = core::pictureExtension(card.photo);
                const QByteArray served =
                    baseline ? servedPhoto(core::photoFile(m_photoFolder, baseline->card.fpath)) : QByteArray();
                // The photo as served comes back unchanged: the stored one stays.
                if (!ext.isEmpty() && card.photo != served) {
                    QString name = core::storedFileName(card.photoName.trimmed());
                    if (QString(name).remove(QLatin1Char('.')).trimmed().isEmpty() ||
                        QFileInfo(name).suffix().isEmpty())
                        name = QStringLiteral("photo.") + ext;
                    pictureFile = QDir(m_scratchFolder).filePath(QStringLiteral("put-") + name.right(100));
                    QFile out(pictureFile);
                    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
                        out.write(card.photo) != card.photo.size() || !out.flush())
                        throw db::DbError(QStringLiteral("фотография не записана во временную папку: ") +
                                          out.errorString());
                    out.close();
                    change.photo = pictureFile;
                }
            }
            if (at.alive) {
                const core::SaveResult r = editor.update(at.card, change, *baseline, user.id, true);
                if (r.outcome != core::SaveResult::Outcome::Stored)
                    return {dav::PutResult::PreconditionFailed, {}, {}};
                return {dav::PutResult::Updated, {}, {}};
            }
            // The name and the UID pass from a deleted card to the new one.
            if (at.tombstone)
                m_db.write(QStringLiteral("DELETE FROM carddav_cards WHERE card = :card"),
                           {{QStringLiteral("card"), at.card}});
            m_db.write(QStringLiteral("UPDATE carddav_cards c SET uid = NULL WHERE uid = :uid "
                                      "AND NOT EXISTS (SELECT 1 FROM base b WHERE b.pk_id = c.card)"),
                       {{QStringLiteral("uid"), storedName(uid)}});
            const core::SaveResult r = editor.insert(change, user.id, makeStamp(user.id));
            m_db.write(QStringLiteral("UPDATE carddav_cards SET href = :href, uid = :uid WHERE card = :card"),
                       {{QStringLiteral("href"), storedName(href)},
                        {QStringLiteral("uid"), storedName(uid)},
                        {QStringLiteral("card"), r.id}});
            core::RefValues(m_db).save(change.card.value(QStringLiteral("work")),
                                       change.card.value(QStringLiteral("dep")),
                                       change.card.value(QStringLiteral("post")));
            return {dav::PutResult::Created, {}, {}};
        });
    } catch (...) {
        editor.discardHeld();
        throw;
    }
    problems = editor.placeHeld();
    if (!problems.isEmpty())
        result.message = problems.join(u' ');
    return result;
}

dav::RemoveResult DbBook::remove(const QString &href, const dav::Conditions &conditions, const dav::User &user)
{
    if (rights(user) != dav::Rights::Full)
        return dav::RemoveResult::Forbidden;
    for (int attempt = 0;; ++attempt) {
        QString photo;
        try {
            const std::optional<dav::RemoveResult> r = removeOnce(href, conditions, photo);
            if (!r)
                continue;
            // As after a merge: the file goes once no card names it.
            if (*r == dav::RemoveResult::Deleted && !photo.isEmpty())
                core::PhotoStore(m_db, m_photoFolder).removeIfUnnamed(photo);
            return *r;
        } catch (const db::DbError &e) {
            if (!e.conflict())
                throw;
            if (attempt > 0)
                return dav::RemoveResult::PreconditionFailed;
        }
    }
}

std::optional<dav::RemoveResult> DbBook::removeOnce(const QString &href, const dav::Conditions &conditions,
                                                    QString &photo)
{
    return m_db.unit([&]() -> dav::RemoveResult {
        const Located at = locate(m_db, href);
        if (!at.alive)
            return dav::RemoveResult::NotFound;
        const QByteArray current = etagOf(epoch(), at.txn);
        if (!conditions.hold(&current))
            return dav::RemoveResult::PreconditionFailed;
        photo = core::PhotoStore(m_db, m_photoFolder).storedPath(at.card).value_or(QString());
        core::CardStore(m_db).remove(at.card);
        return dav::RemoveResult::Deleted;
    });
}

} // namespace davdb
