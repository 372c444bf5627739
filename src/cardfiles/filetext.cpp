#include "filetext.h"

#include "db/cp1251.h"

#include <QStringDecoder>
#include <algorithm>
#include <vector>

namespace filetext {

namespace {

// Tells `taken` the encoding, when asked.
void tell(QString *taken, const QString &name)
{
    if (taken)
        *taken = name;
}

// UTF-8 when the bytes are well-formed UTF-8, else Windows-1251; decoded once.
QString utf8Or1251(const QByteArray &bytes, QString *taken)
{
    QStringDecoder d(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString s = d.decode(bytes);
    if (!d.hasError()) {
        tell(taken, QStringLiteral("UTF-8"));
        return s;
    }
    tell(taken, QLatin1String(kWindows1251));
    return cp1251::decode(bytes);
}

} // namespace

QString decode(const QByteArray &bytes, const QString &charset, QString *taken)
{
    const QString name = charset.trimmed().toUpper();
    if (name == QLatin1String("WINDOWS-1251") || name == QLatin1String("CP1251") || name == QLatin1String("WIN1251") ||
        name == QLatin1String("CP-1251")) {
        tell(taken, QLatin1String(kWindows1251));
        return cp1251::decode(bytes);
    }
    if (name == QLatin1String("ISO-8859-1") || name == QLatin1String("LATIN1")) {
        tell(taken, QStringLiteral("ISO-8859-1"));
        return QString::fromLatin1(bytes);
    }
    if (!name.isEmpty() && name != QLatin1String("UTF-8") && name != QLatin1String("UTF8") &&
        name != QLatin1String("US-ASCII") && name != QLatin1String("ASCII")) {
        QStringDecoder d(name.toLatin1().constData());
        if (d.isValid()) {
            const QString s = d.decode(bytes);
            if (!d.hasError()) {
                tell(taken, charset.trimmed());
                return s;
            }
        }
    }
    return utf8Or1251(bytes, taken);
}

namespace {

// The length of the well-formed UTF-8 sequence at `p` (0 when there is none).
int utf8Length(const uchar *p, qsizetype left)
{
    const uchar c = p[0];
    if (c < 0x80)
        return 1;
    int n = 0;
    char32_t least = 0;
    if ((c & 0xE0) == 0xC0) {
        n = 2;
        least = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        n = 3;
        least = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        n = 4;
        least = 0x10000;
    } else {
        return 0;
    }
    if (left < n)
        return 0;
    char32_t cp = c & (0x7F >> n);
    for (int i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    return cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) ? 0 : n;
}

// UTF-16 without a byte-order mark: text in UTF-8 or Windows-1251 has no
// zero bytes, while in UTF-16 every ASCII character (separators, line
// breaks) has one, always on the same side (-1: none such, 0: little-endian,
// 1: big-endian).
int utf16Side(const QByteArray &bytes)
{
    const qsizetype n = std::min<qsizetype>(bytes.size() & ~qsizetype(1), 4000);
    if (n < 4)
        return -1;
    qsizetype zeroHigh = 0, zeroLow = 0;
    for (qsizetype i = 0; i < n; i += 2) {
        zeroHigh += bytes[i + 1] == '\0';
        zeroLow += bytes[i] == '\0';
    }
    const qsizetype least = std::max<qsizetype>(2, n / 2 / 20);
    if (zeroHigh >= least && zeroLow * 10 <= zeroHigh)
        return 0;
    if (zeroLow >= least && zeroHigh * 10 <= zeroLow)
        return 1;
    return -1;
}

constexpr int kNotesShown = 10;

} // namespace

QString decodeFile(const QByteArray &bytes, QStringList *notes, QString *taken)
{
    tell(taken, QStringLiteral("UTF-8"));
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.mid(3));
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        tell(taken, QStringLiteral("UTF-16"));
        QStringDecoder d(QStringDecoder::Utf16);
        return d.decode(bytes);
    }
    if (const int side = utf16Side(bytes); side >= 0) {
        QStringDecoder d(side == 0 ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE);
        tell(taken, QStringLiteral("UTF-16"));
        if (notes)
            *notes << QStringLiteral("Файл прочитан в кодировке UTF-16 (без метки порядка байтов).");
        return d.decode(bytes);
    }
    // Where the bytes are not UTF-8, and how many of its characters beyond ASCII are.
    const auto *p = reinterpret_cast<const uchar *>(bytes.constData());
    std::vector<qsizetype> stray;
    qsizetype wide = 0;
    for (qsizetype i = 0; i < bytes.size();) {
        const int n = utf8Length(p + i, bytes.size() - i);
        if (n == 0) {
            stray.push_back(i++);
            continue;
        }
        wide += n > 1;
        i += n;
    }
    if (stray.empty())
        return QString::fromUtf8(bytes);
    // A few stray bytes in a UTF-8 file (a word processor's apostrophe):
    // UTF-8 all the same, those bytes read as Windows-1251, each named.
    if (wide > 0 && qsizetype(stray.size()) * 20 <= wide + qsizetype(stray.size())) {
        QString out;
        // The lines are counted on from the last stray byte, not from its line's start.
        qsizetype from = 0, line = 1, lineStart = 0, counted = 0;
        int told = 0;
        for (qsizetype at : stray) {
            out += QString::fromUtf8(bytes.constData() + from, at - from);
            const QString ch = cp1251::decode(bytes.mid(at, 1));
            out += ch;
            for (; counted < at; ++counted)
                if (bytes[counted] == '\n') {
                    ++line;
                    lineStart = counted + 1;
                }
            if (notes && told++ < kNotesShown)
                *notes << QStringLiteral("Строка %1, байт %2 от начала строки: 0x%3 — не UTF-8; прочитан как «%4».")
                              .arg(line)
                              .arg(at - lineStart + 1)
                              .arg(uint(p[at]), 2, 16, QLatin1Char('0'))
                              .arg(ch);
            from = at + 1;
        }
        out += QString::fromUtf8(bytes.constData() + from, bytes.size() - from);
        if (notes && told > kNotesShown)
            *notes << QStringLiteral("И ещё байтов не в UTF-8: %1.").arg(told - kNotesShown);
        return out;
    }
    if (notes)
        *notes << QStringLiteral("Файл прочитан в кодировке Windows-1251 (он не в UTF-8).");
    tell(taken, QLatin1String(kWindows1251));
    return cp1251::decode(bytes);
}

} // namespace filetext
