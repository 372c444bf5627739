#include "stamp.h"

QString stripFileChars(const QString &text)
{
    static const QString dropped = QStringLiteral("\"*./:<>?\\|");
    QString out;
    out.reserve(text.size());
    for (QChar c : text)
        if (!dropped.contains(c))
            out += c;
    return out;
}

QString makeStamp(qint64 userId, const QDateTime &at)
{
    // A fixed day.month.year and hours:minutes:seconds form, whatever the locale.
    return stripFileChars(QString::number(userId) + QLatin1Char('_') +
                          at.date().toString(QStringLiteral("dd.MM.yyyy")) + QLatin1Char('_') +
                          at.time().toString(QStringLiteral("HH:mm:ss")));
}
