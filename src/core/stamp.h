#pragma once
#include <QDateTime>
#include <QString>

// The text without the characters a file name may not hold: " * . / : < > ? \ |
QString stripFileChars(const QString &text);

// The creation stamp of a card: user id, date and time, e.g. 3_06122026_101747.
// It also names the card's photo folder.
QString makeStamp(qint64 userId, const QDateTime &at = QDateTime::currentDateTime());
