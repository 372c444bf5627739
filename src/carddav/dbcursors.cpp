#include "dbcursors.h"

#include "dbbook.h"
#include "synctoken.h"

#include "cardfiles/cardfile.h"
#include "cardfiles/vcard.h"
#include "core/cardfields.h"
#include "core/photos.h"
#include "db/ibase.h"

#include <QHash>
#include <QRegularExpression>
#include <QSet>

namespace davdb {

namespace {

// Cards read by one statement of a multiget.
constexpr int kSlice = 100;
// Rows fetched at a time by a long listing.
constexpr int kFetch = 500;

const QString kCardSelect =
    QStringLiteral("SELECT b.*, a.pk_id AS acc_id, a.sn1, a.sn2, a.sn3, a.sn4, a.adr1, a.adr2, a.adr3, a.adr4, "
                   "c.href AS dav_href, c.uid AS dav_uid, c.txn AS dav_txn FROM base b "
                   "LEFT JOIN carddav_cards c ON c.card = b.pk_id LEFT JOIN accounts a ON a.pk_id = "
                   "(SELECT MIN(x.pk_id) FROM accounts x WHERE x.bs_fk = b.pk_id)");

QString derivedUid(qint64 id)
{
    return QStringLiteral("zentrax-%1").arg(id);
}

QString derivedHref(qint64 id)
{
    return derivedUid(id) + QStringLiteral(".vcf");
}

} // namespace

QString storedName(const QString &name)
{
    return QString::fromLatin1(name.toUtf8().toPercentEncoding("!$&'()*+,;=:@"));
}

QString shownName(const QString &stored)
{
    return QString::fromUtf8(QByteArray::fromPercentEncoding(stored.toLatin1()));
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

QString hrefOf(qint64 id, const QString &storedHref)
{
    return storedHref.isEmpty() ? derivedHref(id) : shownName(storedHref);
}

namespace {

// The rows of one statement, a slice at a time, in a read transaction of
// their own: a listing of every card is never in memory whole.
class RowStream
{
public:
    RowStream(db::IBDatabase &connection, const QString &sql, const std::function<void(db::IBQuery &)> &bind = {})
        : m_t(&connection, db::IBTransaction::Kind::Read), m_q(&connection, &m_t)
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

} // namespace

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
    MemberCursor(db::IBDatabase &connection, const QString &epoch)
        : m_rows(connection, QStringLiteral("SELECT b.pk_id, c.href, c.txn FROM base b "
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
    ChangeCursor(db::IBDatabase &connection, const QString &epoch, qint64 since)
        : m_rows(connection,
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
    AllCardsCursor(db::IBDatabase &connection, const QString &photoFolder, const QString &epoch, dav::Version version)
        : m_rows(connection, kCardSelect), m_reader(m_rows.query(), photoFolder, epoch), m_version(version)
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
    NamedCardsCursor(db::IBDatabase &connection, const QString &photoFolder, const QString &epoch,
                     const QStringList &hrefs, dav::Version version, bool withText)
        : m_connection(connection), m_photoFolder(photoFolder), m_epoch(epoch), m_hrefs(hrefs), m_version(version),
          m_withText(withText)
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
        db::IBTransaction t(&m_connection, db::IBTransaction::Kind::Read);
        {
            db::IBQuery q(&m_connection, &t);
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

    db::IBDatabase &m_connection;
    QString m_photoFolder, m_epoch;
    QStringList m_hrefs;
    dav::Version m_version;
    bool m_withText;
    qsizetype m_done = 0;
    QList<dav::FetchedCard> m_ready;
};

} // namespace

std::unique_ptr<dav::Cursor<dav::Member>> memberCursor(db::IBDatabase &connection, const QString &epoch)
{
    return std::make_unique<MemberCursor>(connection, epoch);
}

std::unique_ptr<dav::Cursor<dav::Change>> changeCursor(db::IBDatabase &connection, const QString &epoch, qint64 since)
{
    return std::make_unique<ChangeCursor>(connection, epoch, since);
}

std::unique_ptr<dav::Cursor<dav::FetchedCard>> namedCardsCursor(db::IBDatabase &connection, const QString &photoFolder,
                                                                const QString &epoch, const QStringList &hrefs,
                                                                dav::Version version, bool withText)
{
    return std::make_unique<NamedCardsCursor>(connection, photoFolder, epoch, hrefs, version, withText);
}

std::unique_ptr<dav::Cursor<dav::FetchedCard>> allCardsCursor(db::IBDatabase &connection, const QString &photoFolder,
                                                              const QString &epoch, dav::Version version)
{
    return std::make_unique<AllCardsCursor>(connection, photoFolder, epoch, version);
}

} // namespace davdb
