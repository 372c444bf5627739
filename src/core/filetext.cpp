#include "filetext.h"

#include "db/cp1251.h"

#include <QStringDecoder>

namespace filetext {

bool isUtf8(const QByteArray &bytes)
{
    QStringDecoder d(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString s = d.decode(bytes);
    Q_UNUSED(s);
    return !d.hasError();
}

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
    return isUtf8(bytes) ? QString::fromUtf8(bytes) : cp1251::decode(bytes);
}

QString decodeFile(const QByteArray &bytes, QString *encoding)
{
    auto told = [encoding](const char *name) {
        if (encoding)
            *encoding = QLatin1String(name);
    };
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        told("UTF-8");
        return QString::fromUtf8(bytes.mid(3));
    }
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        told("UTF-16");
        QStringDecoder d(QStringDecoder::Utf16);
        return d.decode(bytes);
    }
    if (isUtf8(bytes)) {
        told("UTF-8");
        return QString::fromUtf8(bytes);
    }
    told("Windows-1251");
    return cp1251::decode(bytes);
}

} // namespace filetext
