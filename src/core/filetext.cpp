#include "filetext.h"

#include "db/cp1251.h"

#include <QStringDecoder>

namespace filetext {

namespace {

// UTF-8 when the bytes are well-formed UTF-8, else Windows-1251; decoded once.
QString utf8Or1251(const QByteArray &bytes)
{
    QStringDecoder d(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString s = d.decode(bytes);
    return d.hasError() ? cp1251::decode(bytes) : s;
}

} // namespace

QString decode(const QByteArray &bytes, const QString &charset)
{
    const QString name = charset.trimmed().toUpper();
    if (name == QLatin1String("WINDOWS-1251") || name == QLatin1String("CP1251") || name == QLatin1String("WIN1251") ||
        name == QLatin1String("CP-1251"))
        return cp1251::decode(bytes);
    if (name == QLatin1String("ISO-8859-1") || name == QLatin1String("LATIN1"))
        return QString::fromLatin1(bytes);
    if (!name.isEmpty() && name != QLatin1String("UTF-8") && name != QLatin1String("UTF8") &&
        name != QLatin1String("US-ASCII") && name != QLatin1String("ASCII")) {
        QStringDecoder d(name.toLatin1().constData());
        if (d.isValid()) {
            const QString s = d.decode(bytes);
            if (!d.hasError())
                return s;
        }
    }
    return utf8Or1251(bytes);
}

QString decodeFile(const QByteArray &bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.mid(3));
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        QStringDecoder d(QStringDecoder::Utf16);
        return d.decode(bytes);
    }
    return utf8Or1251(bytes);
}

} // namespace filetext
