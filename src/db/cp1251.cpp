#include "cp1251.h"

#include <array>

namespace cp1251 {
namespace {

// Unicode code points of the bytes 0x80..0xFF; 0 marks the unassigned 0x98.
constexpr std::array<char16_t, 128> kHigh = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0000, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457, 0x0410,
    0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D,
    0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A,
    0x042B, 0x042C, 0x042D, 0x042E, 0x042F, 0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444,
    0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};

// An unassigned byte reads as a private-use character of its own, so that a
// value written by another program goes back byte for byte.
constexpr char16_t kUndefinedBase = 0xF700;

char16_t charOf(unsigned char b)
{
    if (b < 0x80)
        return b;
    const char16_t u = kHigh[b - 0x80];
    return u ? u : char16_t(kUndefinedBase + b);
}

// Byte of each UTF-16 unit, 0 for none (U+0000 is handled apart).
const std::array<unsigned char, 0x10000> &byteTable()
{
    static const auto table = [] {
        std::array<unsigned char, 0x10000> t{};
        for (int b = 1; b < 256; ++b)
            t[charOf(static_cast<unsigned char>(b))] = static_cast<unsigned char>(b);
        return t;
    }();
    return table;
}

int byteOf(char16_t u)
{
    if (u == 0)
        return 0;
    const unsigned char b = byteTable()[u];
    return b ? b : -1;
}

// Lower-case byte -> upper-case byte for the letters of the page.
unsigned char upperByte(unsigned char b)
{
    if (b >= 'a' && b <= 'z')
        return b - 32;
    if (b >= 0xE0)
        return b - 32; // а..я -> А..Я
    switch (b) {
    case 0xB8:
        return 0xA8; // ё
    case 0x90:
        return 0x80; // ђ
    case 0x83:
        return 0x81; // ѓ
    case 0x9A:
        return 0x8A; // љ
    case 0x9C:
        return 0x8C; // њ
    case 0x9D:
        return 0x8D; // ќ
    case 0x9E:
        return 0x8E; // ћ
    case 0x9F:
        return 0x8F; // џ
    case 0xA2:
        return 0xA1; // ў
    case 0xBC:
        return 0xA3; // ј
    case 0xB4:
        return 0xA5; // ґ
    case 0xBA:
        return 0xAA; // є
    case 0xBF:
        return 0xAF; // ї
    case 0xB3:
        return 0xB2; // і
    case 0xBE:
        return 0xBD; // ѕ
    default:
        return b;
    }
}

} // namespace

bool encode(const QString &text, QByteArray &out, qsizetype *badPos)
{
    out.clear();
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const int b = byteOf(text[i].unicode());
        if (b < 0) {
            if (badPos)
                *badPos = i;
            return false;
        }
        out.append(char(b));
    }
    return true;
}

QString decode(const char *data, qsizetype len)
{
    QString s(len, Qt::Uninitialized);
    QChar *d = s.data();
    for (qsizetype i = 0; i < len; ++i)
        d[i] = QChar(charOf(static_cast<unsigned char>(data[i])));
    return s;
}

qsizetype firstUnencodable(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i)
        if (byteOf(text[i].unicode()) < 0)
            return i;
    return -1;
}

bool isUndefinedByte(QChar c)
{
    const char16_t u = c.unicode();
    return u >= kUndefinedBase + 0x80 && u <= kUndefinedBase + 0xFF && kHigh[u - kUndefinedBase - 0x80] == 0;
}

QString describeChar(const QString &text, qsizetype pos)
{
    if (pos < 0 || pos >= text.size())
        return QString();
    // The low half of a pair is described with its high half.
    if (text[pos].isLowSurrogate() && pos > 0 && text[pos - 1].isHighSurrogate())
        --pos;
    QString shown;
    char32_t code = text[pos].unicode();
    if (text[pos].isHighSurrogate() && pos + 1 < text.size() && text[pos + 1].isLowSurrogate()) {
        code = QChar::surrogateToUcs4(text[pos], text[pos + 1]);
        shown = text.mid(pos, 2);
    } else if (text[pos].isSurrogate()) {
        shown = QChar(QChar::ReplacementCharacter); // half a pair cannot be shown
    } else {
        shown = text[pos];
    }
    return QStringLiteral("«%1» (U+%2)")
        .arg(shown, QString::number(code, 16).toUpper().rightJustified(4, QLatin1Char('0')));
}

QString upper(const QString &text)
{
    QString r = text;
    for (QChar &c : r) {
        int b = byteOf(c.unicode());
        if (b < 0)
            continue;
        unsigned char u = upperByte(static_cast<unsigned char>(b));
        if (u != b)
            c = QChar(charOf(u));
    }
    return r;
}

} // namespace cp1251
