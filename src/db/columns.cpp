#include "columns.h"

#include "cp1251.h"
#include "access.h"

#include <QLocale>

namespace db {

QHash<QString, int> textColumnLengths(Access &db, const QString &table)
{
    QHash<QString, int> out;
    Rows rows = db.read(QStringLiteral("SELECT TRIM(rf.RDB$FIELD_NAME) AS col, f.RDB$CHARACTER_LENGTH AS len, "
                                       "f.RDB$FIELD_TYPE AS ftype FROM RDB$RELATION_FIELDS rf JOIN RDB$FIELDS f "
                                       "ON f.RDB$FIELD_NAME = rf.RDB$FIELD_SOURCE WHERE rf.RDB$RELATION_NAME = :t"),
                        {{QStringLiteral("t"), table.toUpper()}});
    while (rows.next()) {
        const qint64 type = rows.number(QStringLiteral("ftype"));
        if (type == 14 || type == 37) // CHAR, VARCHAR
            out.insert(rows.text(QStringLiteral("col")), int(rows.number(QStringLiteral("len"))));
    }
    return out;
}

QString characterCount(qsizetype n)
{
    const qsizetype tens = n % 100, ones = n % 10;
    const char *word = (tens >= 11 && tens <= 14) ? "знаков"
                       : ones == 1                ? "знак"
                       : (ones >= 2 && ones <= 4) ? "знака"
                                                  : "знаков";
    return QLocale().toString(n) + QLatin1Char(' ') + QString::fromUtf8(word);
}

QString valueProblem(const QString &field, const QString &value, int maxLength)
{
    const qsizetype bad = cp1251::firstUnencodable(value);
    if (bad >= 0) // every character before it is in the page, so its index counts characters
        return QStringLiteral("В поле «%1» на %2-м месте стоит символ %3, который нельзя сохранить в базе данных "
                              "(она хранит текст в кодировке Windows-1251).\rЗамените или удалите этот символ.")
            .arg(field, QString::number(bad + 1), cp1251::describeChar(value, bad));
    if (maxLength > 0 && value.size() > maxLength)
        return QStringLiteral("Текст в поле «%1» слишком длинный: %2, а база данных хранит не больше %3.\r"
                              "Сократите его.")
            .arg(field, characterCount(value.size()))
            .arg(maxLength);
    return QString();
}

} // namespace db
