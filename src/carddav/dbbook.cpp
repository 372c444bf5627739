#include "dbbook.h"

#include "davtypes.h"
#include "synctoken.h"

#include "cardfiles/cardfile.h"
#include "cardfiles/vcard.h"
#include "core/cardcheck.h"
#include "core/cardediting.h"
#include "core/cardfields.h"
#include "core/commit.h"
#include "core/photos.h"
#include "core/refvalues.h"
#include "core/safefiles.h"
#include "core/stamp.h"
#include "db/shared.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QVariant>

namespace davdb {

namespace {

// Cards read by one statement of a multiget.
constexpr int kSlice = 100;
// Rows fetched at a time by a long listing.
constexpr int kFetch = 500;
// The longest name or UID stored, in its stored form.
constexpr qsizetype kLongestName = 500;

const QString kCardSelect =
    QStringLiteral("SELECT b.*, a.pk_id AS acc_id, a.sn1, a.sn2, a.sn3, a.sn4, a.adr1, a.adr2, a.adr3, a.adr4, "
                   "c.href AS dav_href, c.uid AS dav_uid, c.txn AS dav_txn FROM base b "
                   "LEFT JOIN carddav_cards c ON c.card = b.pk_id LEFT JOIN accounts a ON a.pk_id = "
                   "(SELECT MIN(x.pk_id) FROM accounts x WHERE x.bs_fk = b.pk_id)");

// Names and UIDs as the database holds them: any character of a client's
// name, percent-encoded as UTF-8, in the table's Windows-1251 column.
QString storedName(const QString &name)
{
    return QString::fromLatin1(name.toUtf8().toPercentEncoding("!$&'()*+,;=:@"));
}

QString shownName(const QString &stored)
{
    return QString::fromUtf8(QByteArray::fromPercentEncoding(stored.toLatin1()));
}

QString derivedUid(qint64 id)
{
    return QStringLiteral("zentrax-%1").arg(id);
}

QString derivedHref(qint64 id)
{
    return derivedUid(id) + QStringLiteral(".vcf");
}

std::optional<qint64> derivedId(const QString &name, const QString &suffix)
{
    static const QRegularExpression re(QStringLiteral("^zentrax-([1-9][0-9]{0,9})$"));
    if (!name.endsWith(suffix))
        return std::nullopt;
    const QRegularExpressionMatch m = re.match(name.left(name.size() - suffix.size()));
    if (!m.hasMatch())
        return std::nullopt;
    return m.captured(1).toLongLong();
}

// The name a card is served under: the one its row holds, else its own.
QString hrefOf(qint64 id, const QString &storedHref)
{
    return storedHref.isEmpty() ? derivedHref(id) : shownName(storedHref);
}

// The rows of one statement, a slice at a time, in a read transaction of
// their own: a listing of every card is never in memory whole.
class RowStream
{
public:
    RowStream(SharedDb &db, const QString &sql, const std::function<void(db::IBQuery &)> &bind = {})
        : m_t(&db.IBDbase, db::IBTransaction::Kind::Read), m_q(&db.IBDbase, &m_t)
    {
        m_q.setSql(sql);
        if (bind)
            bind(m_q);
        m_q.open();
    }
    // The buffered row to read next; -1 at the end.
    int next()
    {
        if (m_row < m_q.recordCount())
            return m_row++;
        if (m_q.fetchedAll())
            return -1;
        m_q.dropFetched();
        if (m_q.fetchMore(kFetch) == 0)
            return -1;
        m_row = 0;
        return m_row++;
    }
    db::IBQuery &query() { return m_q; }

private:
    db::IBTransaction m_t;
    db::IBQuery m_q;
    int m_row = 0;
};

const QStringList &accountColumns()
{
    static const QStringList c = {QStringLiteral("sn1"),  QStringLiteral("sn2"),  QStringLiteral("sn3"),
                                  QStringLiteral("sn4"),  QStringLiteral("adr1"), QStringLiteral("adr2"),
                                  QStringLiteral("adr3"), QStringLiteral("adr4")};
    return c;
}

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

// ------------------------------------------------------------------ reading

class DbBook::CardReader
{
public:
    CardReader(const db::IBQuery &q, const QString &photoFolder, const QString &epoch)
        : m_photoFolder(photoFolder), m_epoch(epoch)
    {
        for (const QString &c :
             core::cardColumns() + accountColumns() +
                 QStringList{QStringLiteral("pk_id"), QStringLiteral("sysinfo"), QStringLiteral("fpath"),
                             QStringLiteral("acc_id"), QStringLiteral("dav_href"), QStringLiteral("dav_uid"),
                             QStringLiteral("dav_txn")})
            m_col.insert(c, q.fieldIndex(c));
    }
    qint64 id(const db::IBQuery &q, int row) const { return q.intAt(row, m_col.value(QStringLiteral("pk_id"))); }
    QString storedHref(const db::IBQuery &q, int row) const
    {
        return q.textAt(row, m_col.value(QStringLiteral("dav_href")));
    }
    dav::FetchedCard read(const db::IBQuery &q, int row, dav::Version version, bool withText) const
    {
        const qint64 cardId = id(q, row);
        const int txnCol = m_col.value(QStringLiteral("dav_txn"));
        dav::FetchedCard out;
        out.href = hrefOf(cardId, storedHref(q, row));
        out.found = true;
        out.etag = etagOf(m_epoch, q.intAt(row, txnCol)); // NULL: never changed, 0
        if (!withText)
            return out;
        core::CardData c;
        for (const QString &name : core::cardColumns())
            c.card.values.insert(name, q.textAt(row, m_col.value(name)));
        c.card.sysinfo = q.textAt(row, m_col.value(QStringLiteral("sysinfo")));
        c.card.fpath = q.textAt(row, m_col.value(QStringLiteral("fpath")));
        if (!q.textAt(row, m_col.value(QStringLiteral("acc_id"))).isEmpty()) {
            core::Accounts a;
            for (int k = 0; k < 4; ++k) {
                a.network[k] = q.textAt(row, m_col.value(QStringLiteral("sn%1").arg(k + 1)));
                a.address[k] = q.textAt(row, m_col.value(QStringLiteral("adr%1").arg(k + 1)));
            }
            c.accounts = a;
        }
        const core::PhotoLocation where = core::locatePhoto(m_photoFolder, c.card.fpath);
        if (where.state == core::PhotoLocation::Present) {
            c.photo = servedPhoto(where.file);
            c.photoName = QString(c.card.fpath).replace(QLatin1Char('/'), QLatin1Char('\\')).section(u'\\', -1);
        }
        QByteArray text =
            core::vcardOf(c, version == dav::Version::V4 ? core::CardFormat::VCard4 : core::CardFormat::VCard3);
        const QString stored = q.textAt(row, m_col.value(QStringLiteral("dav_uid")));
        const QString uid = stored.isEmpty() ? derivedUid(cardId) : shownName(stored);
        // After the VERSION line, which must come first.
        const qsizetype version_ = text.indexOf("\r\nVERSION:");
        const qsizetype after = version_ < 0 ? -1 : text.indexOf("\r\n", version_ + 2);
        text.insert(after < 0 ? 0 : after + 2, vcard::contentLine(QStringLiteral("UID"), uid));
        out.text = text;
        return out;
    }

private:
    QString m_photoFolder, m_epoch;
    QHash<QString, int> m_col;
};

namespace {

class MemberCursor : public dav::Cursor<dav::Member>
{
public:
    MemberCursor(SharedDb &db, const QString &epoch)
        : m_rows(db, QStringLiteral("SELECT b.pk_id, c.href, c.txn FROM base b "
                                    "LEFT JOIN carddav_cards c ON c.card = b.pk_id")),
          m_epoch(epoch)
    {
    }
    bool next(dav::Member &item) override
    {
        const int r = m_rows.next();
        if (r < 0)
            return false;
        const db::IBQuery &q = m_rows.query();
        item.href = hrefOf(q.intAt(r, 0), q.textAt(r, 1));
        item.etag = etagOf(m_epoch, q.intAt(r, 2));
        return true;
    }

private:
    RowStream m_rows;
    QString m_epoch;
};

class ChangeCursor : public dav::Cursor<dav::Change>
{
public:
    ChangeCursor(SharedDb &db, const QString &epoch, qint64 since)
        : m_rows(db,
                 QStringLiteral("SELECT c.card, c.href, c.txn, b.pk_id AS alive FROM carddav_cards c "
                                "LEFT JOIN base b ON b.pk_id = c.card WHERE c.txn >= :since"),
                 [since](db::IBQuery &q) { q.setParam(QStringLiteral("since"), since); }),
          m_epoch(epoch)
    {
    }
    bool next(dav::Change &item) override
    {
        const int r = m_rows.next();
        if (r < 0)
            return false;
        const db::IBQuery &q = m_rows.query();
        item.href = hrefOf(q.intAt(r, 0), q.textAt(r, 1));
        item.deleted = q.textAt(r, 3).isEmpty();
        item.etag = item.deleted ? QByteArray() : etagOf(m_epoch, q.intAt(r, 2));
        return true;
    }

private:
    RowStream m_rows;
    QString m_epoch;
};

class AllCardsCursor : public dav::Cursor<dav::FetchedCard>
{
public:
    AllCardsCursor(SharedDb &db, const QString &photoFolder, const QString &epoch, dav::Version version)
        : m_rows(db, kCardSelect), m_reader(m_rows.query(), photoFolder, epoch), m_version(version)
    {
    }
    bool next(dav::FetchedCard &item) override
    {
        const int r = m_rows.next();
        if (r < 0)
            return false;
        item = m_reader.read(m_rows.query(), r, m_version, true);
        return true;
    }

private:
    RowStream m_rows;
    DbBook::CardReader m_reader;
    dav::Version m_version;
};

// The cards of a list of names, read a slice of names at a time.
class NamedCardsCursor : public dav::Cursor<dav::FetchedCard>
{
public:
    NamedCardsCursor(SharedDb &db, const QString &photoFolder, const QString &epoch, const QStringList &hrefs,
                     dav::Version version, bool withText)
        : m_db(db), m_photoFolder(photoFolder), m_epoch(epoch), m_hrefs(hrefs), m_version(version), m_withText(withText)
    {
    }
    bool next(dav::FetchedCard &item) override
    {
        if (m_ready.isEmpty()) {
            if (m_done >= m_hrefs.size())
                return false;
            readSlice(m_hrefs.mid(m_done, kSlice));
            m_done += kSlice;
        }
        item = m_ready.takeFirst();
        return true;
    }

private:
    void readSlice(const QStringList &hrefs)
    {
        db::IBTransaction t(&m_db.IBDbase, db::IBTransaction::Kind::Read);
        {
            db::IBQuery q(&m_db.IBDbase, &t);
            // The names clients gave, then the names made from ids.
            QStringList params;
            for (int i = 1; i <= kSlice; ++i)
                params << QStringLiteral(":h%1").arg(i);
            q.setSql(QStringLiteral("SELECT card, href FROM carddav_cards WHERE href IN (") +
                     params.join(QStringLiteral(", ")) + QLatin1Char(')'));
            for (int i = 0; i < kSlice; ++i)
                q.setParam(QStringLiteral("h%1").arg(i + 1), i < hrefs.size() ? storedName(hrefs[i]) : QString());
            q.open();
            QHash<QString, qint64> named;
            for (; !q.eof(); q.next())
                named.insert(shownName(q.asText(1)), q.asInt(0));
            q.close();
            QList<qint64> ids;
            QHash<QString, qint64> wanted;
            QSet<QString> derived;
            for (const QString &h : hrefs) {
                if (named.contains(h)) {
                    wanted.insert(h, named.value(h));
                } else if (const auto id = derivedId(h, QStringLiteral(".vcf"))) {
                    wanted.insert(h, *id);
                    derived.insert(h);
                }
            }
            for (qint64 id : std::as_const(wanted))
                if (!ids.contains(id))
                    ids << id;
            QStringList idParams;
            for (int i = 1; i <= kSlice; ++i)
                idParams << QStringLiteral(":id%1").arg(i);
            q.setSql(kCardSelect + QStringLiteral(" WHERE b.pk_id IN (") + idParams.join(QStringLiteral(", ")) +
                     QLatin1Char(')'));
            for (int i = 0; i < kSlice; ++i)
                q.setParam(QStringLiteral("id%1").arg(i + 1), i < ids.size() ? ids[i] : qint64(-1));
            q.open();
            q.last();
            const DbBook::CardReader reader(q, m_photoFolder, m_epoch);
            QHash<qint64, int> rowOf;
            for (int r = 0; r < q.recordCount(); ++r)
                rowOf.insert(reader.id(q, r), r);
            for (const QString &h : hrefs) {
                const auto it = wanted.constFind(h);
                const int r = it == wanted.constEnd() ? -1 : rowOf.value(*it, -1);
                // A name made from an id names that card only while no client named it.
                if (r < 0 || (derived.contains(h) && !reader.storedHref(q, r).isEmpty())) {
                    m_ready.append({h, false, {}, {}});
                    continue;
                }
                dav::FetchedCard card = reader.read(q, r, m_version, m_withText);
                card.href = h;
                m_ready.append(card);
            }
            q.close();
        }
        t.commit();
    }

    SharedDb &m_db;
    QString m_photoFolder, m_epoch;
    QStringList m_hrefs;
    dav::Version m_version;
    bool m_withText;
    qsizetype m_done = 0;
    QList<dav::FetchedCard> m_ready;
};

} // namespace

// ------------------------------------------------------------------ the book

DbBook::DbBook(SharedDb &db, const QString &photoFolder, const QString &scratchFolder, int passwordRounds)
    : m_db(db), m_photoFolder(photoFolder), m_scratchFolder(scratchFolder), m_passwords(db, passwordRounds)
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
    db::IBQuery &q = m_db.iRead;
    db::Closer closer{q};
    q.close();
    q.setSql(QStringLiteral("SELECT fio FROM pers WHERE pk_id = :id"));
    q.setParam(QStringLiteral("id"), *id);
    q.open();
    if (q.eof())
        return std::nullopt;
    return dav::User{login, q.asText(0), *id};
}

dav::Rights DbBook::rights(const dav::User &user)
{
    db::IBQuery &q = m_db.iRead;
    db::Closer closer{q};
    q.close();
    q.setSql(QStringLiteral("SELECT level FROM pers WHERE pk_id = :id"));
    q.setParam(QStringLiteral("id"), user.id);
    q.open();
    // As the desk has it: only "full" may change cards.
    return !q.eof() && q.asText(0) == QLatin1String("full") ? dav::Rights::Full : dav::Rights::ReadOnly;
}

QString DbBook::epoch()
{
    if (m_epoch.isEmpty())
        m_epoch = readMoment(m_db.IBDbase).epoch;
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
    core::inOneCommit(m_db.IBTrans, [&] {
        db::IBQuery &q = m_db.iSQL;
        q.close();
        q.setSql(QStringLiteral("DELETE FROM carddav_cards c WHERE c.deleted < DATEADD(%1 DAY TO CURRENT_TIMESTAMP) "
                                "AND NOT EXISTS (SELECT 1 FROM base b WHERE b.pk_id = c.card)")
                     .arg(-kTombstoneDays));
        q.execute();
        q.close();
    });
}

qint64 DbBook::tokenStartNow(const DbMoment &now)
{
    // Every transaction still running is not older than the last start, so
    // its changes come after either token alike.
    if (m_tokenStart >= 0 && m_tokenEpoch == now.epoch && m_tokenStart <= now.oldestActive) {
        db::IBQuery &q = m_db.iRead;
        db::Closer closer{q};
        q.close();
        q.setSql(QStringLiteral("SELECT FIRST 1 1 FROM carddav_cards WHERE txn >= :txn"));
        q.setParam(QStringLiteral("txn"), m_tokenStart);
        q.open();
        const bool changed = !q.eof();
        q.close();
        if (!changed)
            return m_tokenStart;
    }
    m_tokenStart = now.oldestActive;
    m_tokenEpoch = now.epoch;
    return m_tokenStart;
}

QString DbBook::syncToken()
{
    DbMoment now = readMoment(m_db.IBDbase);
    m_epoch = now.epoch;
    tidy();
    now.oldestActive = tokenStartNow(now);
    return tokenOf(now);
}

std::unique_ptr<dav::Cursor<dav::Member>> DbBook::members()
{
    return std::make_unique<MemberCursor>(m_db, epoch());
}

std::optional<dav::Book::Changes> DbBook::changesSince(const QString &token)
{
    // The new token before the listing: what commits meanwhile is in both.
    const DbMoment now = readMoment(m_db.IBDbase);
    m_epoch = now.epoch;
    const std::optional<qint64> since = tokenStart(token, now);
    if (!since)
        return std::nullopt;
    tidy();
    DbMoment from = now;
    from.oldestActive = tokenStartNow(now);
    return Changes{tokenOf(from), std::make_unique<ChangeCursor>(m_db, now.epoch, *since)};
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
    return std::make_unique<NamedCardsCursor>(m_db, m_photoFolder, epoch(), hrefs, version, withText);
}

std::unique_ptr<dav::Cursor<dav::FetchedCard>> DbBook::allCards(dav::Version version)
{
    return std::make_unique<AllCardsCursor>(m_db, m_photoFolder, epoch(), version);
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

Located locate(db::IBQuery &q, const QString &href)
{
    Located l;
    db::Closer closer{q};
    q.close();
    q.setSql(QStringLiteral("SELECT c.card, c.txn, b.pk_id AS alive FROM carddav_cards c "
                            "LEFT JOIN base b ON b.pk_id = c.card WHERE c.href = :href"));
    q.setParam(QStringLiteral("href"), storedName(href));
    q.open();
    if (!q.eof()) {
        l.card = q.asInt(0);
        l.txn = q.asInt(1);
        l.alive = !q.asText(2).isEmpty();
        l.tombstone = !l.alive;
        return l;
    }
    q.close();
    const std::optional<qint64> id = derivedId(href, QStringLiteral(".vcf"));
    if (!id)
        return l;
    q.setSql(QStringLiteral("SELECT (SELECT pk_id FROM base WHERE pk_id = :n) AS alive, c.card, c.href, c.txn "
                            "FROM rdb$database LEFT JOIN carddav_cards c ON c.card = :n"));
    q.setParam(QStringLiteral("n"), *id);
    q.open();
    if (!q.asText(2).isEmpty()) // the card has a name a client gave it
        return l;
    l.alive = !q.asText(0).isEmpty();
    l.tombstone = !l.alive && !q.asText(1).isEmpty();
    l.txn = q.asText(3).isEmpty() ? 0 : q.asInt(3);
    if (l.alive || l.tombstone)
        l.card = *id;
    return l;
}

// The name of another living card with that UID; empty when none.
QString uidHolder(db::IBQuery &q, const QString &uid, qint64 card)
{
    db::Closer closer{q};
    q.close();
    q.setSql(QStringLiteral("SELECT c.card, c.href FROM carddav_cards c JOIN base b ON b.pk_id = c.card "
                            "WHERE c.uid = :uid AND c.card <> :card"));
    q.setParam(QStringLiteral("uid"), storedName(uid));
    q.setParam(QStringLiteral("card"), card);
    q.open();
    if (!q.eof())
        return hrefOf(q.asInt(0), q.asText(1));
    q.close();
    const std::optional<qint64> id = derivedId(uid, QString());
    if (!id || *id == card)
        return QString();
    q.setSql(QStringLiteral("SELECT b.pk_id, c.href FROM base b LEFT JOIN carddav_cards c ON c.card = b.pk_id "
                            "WHERE b.pk_id = :n AND c.uid IS NULL"));
    q.setParam(QStringLiteral("n"), *id);
    q.open();
    return q.eof() ? QString() : hrefOf(q.asInt(0), q.asText(1));
}

void run(db::IBQuery &q, const QString &sql, const QList<QPair<QString, QVariant>> &params)
{
    q.close();
    q.setSql(sql);
    for (const auto &[name, value] : params) {
        if (value.isNull())
            q.setParamNull(name);
        else if (value.typeId() == QMetaType::QString)
            q.setParam(name, value.toString());
        else
            q.setParam(name, value.toLongLong());
    }
    q.execute();
    q.close();
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
    core::CardChecks checks(m_db.iRead);
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
        result = core::inOneUnit(m_db.IBTrans, [&]() -> dav::PutResult {
            db::IBQuery &q = m_db.iSQL;
            const Located at = locate(q, href);
            const QString holder = uidHolder(q, uid, at.alive ? at.card : 0);
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
                run(q, QStringLiteral("UPDATE base SET pk_id = pk_id WHERE pk_id = :id"),
                    {{QStringLiteral("id"), at.card}});
                run(q, QStringLiteral("UPDATE accounts SET bs_fk = bs_fk WHERE bs_fk = :id"),
                    {{QStringLiteral("id"), at.card}});
                const std::optional<core::CardRecord> stored = core::readCardRow(q, at.card);
                if (!stored)
                    return {dav::PutResult::PreconditionFailed, {}, {}};
                baseline = core::CardBaseline{*stored, core::readAccountsRow(q, at.card)};
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
                run(q, QStringLiteral("DELETE FROM carddav_cards WHERE card = :card"),
                    {{QStringLiteral("card"), at.card}});
            run(q,
                QStringLiteral("UPDATE carddav_cards c SET uid = NULL WHERE uid = :uid "
                               "AND NOT EXISTS (SELECT 1 FROM base b WHERE b.pk_id = c.card)"),
                {{QStringLiteral("uid"), storedName(uid)}});
            const core::SaveResult r = editor.insert(change, user.id, makeStamp(user.id));
            run(q, QStringLiteral("UPDATE carddav_cards SET href = :href, uid = :uid WHERE card = :card"),
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
    return core::inOneUnit(m_db.IBTrans, [&]() -> dav::RemoveResult {
        db::IBQuery &q = m_db.iSQL;
        const Located at = locate(q, href);
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
