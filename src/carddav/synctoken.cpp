#include "synctoken.h"

#include "db/ibase.h"

#include <QCryptographicHash>
#include <QStringList>

namespace davdb {

DbMoment readMoment(db::IBDatabase &database)
{
    DbMoment m;
    db::IBTransaction t(&database, db::IBTransaction::Kind::Read);
    {
        db::IBQuery q(&database, &t);
        q.setSql(QStringLiteral("SELECT MON$OLDEST_ACTIVE AS oat, MON$NEXT_TRANSACTION AS nxt, "
                                "CAST(MON$CREATION_DATE AS VARCHAR(40)) AS made, "
                                "DATEDIFF(DAY FROM DATE '2000-01-01' TO CURRENT_DATE) AS today FROM MON$DATABASE"));
        q.open();
        m.oldestActive = q.asInt(QStringLiteral("oat"));
        m.next = q.asInt(QStringLiteral("nxt"));
        m.day = q.asInt(QStringLiteral("today"));
        m.epoch = QString::fromLatin1(
            QCryptographicHash::hash(q.asText(QStringLiteral("made")).toUtf8(), QCryptographicHash::Sha256)
                .left(4)
                .toHex());
        q.close();
    }
    t.commit();
    return m;
}

QString tokenOf(const DbMoment &moment)
{
    return QStringLiteral("%1-%2-%3").arg(moment.epoch).arg(moment.oldestActive).arg(moment.day);
}

std::optional<qint64> tokenStart(const QString &token, const DbMoment &now)
{
    const QStringList parts = token.split(QLatin1Char('-'));
    if (parts.size() != 3 || parts[0] != now.epoch)
        return std::nullopt;
    bool okTxn = false, okDay = false;
    const qint64 txn = parts[1].toLongLong(&okTxn);
    const qint64 day = parts[2].toLongLong(&okDay);
    if (!okTxn || !okDay || txn < 0 || txn > now.next || day > now.day || now.day - day > kTokenDays)
        return std::nullopt;
    return txn;
}

QByteArray etagOf(const QString &epoch, qint64 txn)
{
    return QByteArray::number(kWriterVersion) + '-' + epoch.toLatin1() + '-' + QByteArray::number(txn);
}

} // namespace davdb
