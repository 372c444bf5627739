#include "cardfile.h"

#include "cardmap.h"
#include "csvtext.h"
#include "filetext.h"
#include "vcard.h"

#include "core/cardfields.h"

#include <QDate>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>

namespace core {

namespace cardmap {

namespace {

QString noYear(int month, int day)
{
    return QStringLiteral("%1.%2.    ").arg(day, 2, 10, QLatin1Char('0')).arg(month, 2, 10, QLatin1Char('0'));
}

// Values for a pair of fields, work and home: those marked for one side go
// there, then the unmarked fill what is still empty (work first). What finds
// no room, and no equal value, becomes a line of "Прочее".
void place(QString &work, QString &home, const QList<Entry> &entries, const QString &what, QStringList &extra)
{
    QSet<QString> placed; // a card may hold thousands: looked up, never searched
    for (bool marked : {true, false})
        for (const Entry &e : entries) {
            const QString v = e.value.trimmed();
            if (v.isEmpty() || (e.side != Side::None) != marked)
                continue;
            if (!marked && (placed.contains(v) || v == work || v == home))
                continue;
            QString *slot = e.side == Side::Work   ? &work
                            : e.side == Side::Home ? &home
                            : work.isEmpty()       ? &work
                                                   : &home;
            if (slot->isEmpty())
                *slot = e.value;
            else
                extra << what + sideText(e.side) + QStringLiteral(": ") + v;
            placed.insert(v);
        }
}

} // namespace

QString mediaTypeOf(const QString &extension)
{
    if (extension == QLatin1String("jpg"))
        return QStringLiteral("image/jpeg");
    if (extension == QLatin1String("tif"))
        return QStringLiteral("image/tiff");
    if (extension.isEmpty())
        return QStringLiteral("application/octet-stream");
    return QStringLiteral("image/") + extension;
}

// ---------------------------------------------------------------- dates

std::optional<QPair<int, int>> dayWithoutYear(const QString &stored)
{
    static const QRegularExpression re(QStringLiteral("^(\\d\\d)\\.(\\d\\d)\\.    $"));
    const auto m = re.match(stored);
    if (!m.hasMatch())
        return std::nullopt;
    const int day = m.captured(1).toInt(), month = m.captured(2).toInt();
    if (!QDate(2000, month, day).isValid())
        return std::nullopt;
    return QPair<int, int>{month, day};
}

QString dateOf(int year, int month, int day, bool *ok)
{
    *ok = false;
    // No year: "0000-03-15", or the 1604 some address books write for none.
    if (year == 0 || year == 1604) {
        *ok = QDate(2000, month, day).isValid(); // a leap year: 29 February is a birthday too
        return *ok ? noYear(month, day) : QString();
    }
    const QDate d(year, month, day);
    if (!d.isValid())
        return QString();
    *ok = true;
    return d.toString(QStringLiteral("dd.MM.yyyy"));
}

// ---------------------------------------------------------------- names

QString joined(const QStringList &parts, const QString &sep)
{
    QStringList out;
    for (const QString &p : parts)
        if (!p.trimmed().isEmpty())
            out << p.trimmed();
    return out.join(sep);
}

QString networkOfAddress(const QString &address)
{
    const QString host = QUrl::fromUserInput(address).host().toLower();
    static const QList<QPair<QString, QString>> hosts = {
        {QStringLiteral("vk.com"), QStringLiteral("VK")},
        {QStringLiteral("facebook.com"), QStringLiteral("Facebook")},
        {QStringLiteral("fb.com"), QStringLiteral("Facebook")},
        {QStringLiteral("twitter.com"), QStringLiteral("Twitter")},
        {QStringLiteral("x.com"), QStringLiteral("Twitter")},
        {QStringLiteral("linkedin.com"), QStringLiteral("Linkedln")},
        {QStringLiteral("instagram.com"), QStringLiteral("Instagram")},
        {QStringLiteral("t.me"), QStringLiteral("Telegram")},
        {QStringLiteral("weibo.com"), QStringLiteral("Weibo")},
    };
    for (const auto &[h, name] : hosts)
        if (host == h || host.endsWith(QLatin1Char('.') + h))
            return name;
    return QStringLiteral("Сайт");
}

// ------------------------------------------------------- placing values

QString sideText(Side s)
{
    return s == Side::Work ? QStringLiteral(" (рабочий)") : s == Side::Home ? QStringLiteral(" (личный)") : QString();
}

Side sideOfTypes(const QStringList &types, const QString &label)
{
    const QString l = label.toLower();
    if (types.contains(QLatin1String("work")) || l.contains(QLatin1String("work")) || l.contains(QStringLiteral("раб")))
        return Side::Work;
    if (types.contains(QLatin1String("home")) || l.contains(QLatin1String("home")) ||
        l.contains(QStringLiteral("дом")) || l.contains(QStringLiteral("личн")))
        return Side::Home;
    return Side::None;
}

void setValue(CardRecord &card, const QString &column, const QString &value)
{
    card.values[column] = value;
}

CardData finish(Gathered &g)
{
    CardData out;
    CardRecord &c = g.card;
    const auto col = [&c](const char *name) -> QString & { return c.values[QLatin1String(name)]; };
    QStringList extra = g.extra;
    place(col("wtel"), col("htel"), g.phones, QStringLiteral("Телефон"), extra);
    place(col("wmob"), col("hmob"), g.mobiles, QStringLiteral("Мобильный"), extra);
    place(col("wmail"), col("hmail"), g.mails, QStringLiteral("E-mail"), extra);
    place(col("wskype"), col("hskype"), g.skypes, QStringLiteral("Skype"), extra);
    if (!g.bdateText.isEmpty())
        col("bdate") = g.bdateText;
    if (col("fam").isEmpty() && col("name1").isEmpty() && col("name2").isEmpty())
        col("fam") = g.fullName.trimmed();

    // The accounts: the exact row when the file has it; else the networks found.
    QSet<QString> taken;
    if (g.exactAccounts) {
        out.accounts = g.exactAccounts;
        for (int k = 0; k < 4; ++k)
            taken.insert(g.exactAccounts->address[k].trimmed());
    }
    Accounts found;
    int used = 0;
    for (const auto &[net, address] : g.nets) {
        const QString a = address.trimmed();
        if (a.isEmpty() || taken.contains(a))
            continue;
        taken.insert(a);
        if (!g.exactAccounts && used < 4) {
            found.network[used] = net;
            found.address[used] = address;
            ++used;
        } else {
            extra << net + QStringLiteral(": ") + a;
        }
    }
    if (!g.exactAccounts && used > 0)
        out.accounts = found;

    if (!extra.isEmpty()) {
        QString &other = col("other");
        if (!other.isEmpty())
            other += QStringLiteral("\r\n");
        other += extra.join(QStringLiteral("\r\n"));
    }
    out.card = c;
    out.photo = g.photo;
    out.photoName = g.photoName;
    if (!out.photo.isEmpty()) {
        const QString ext = pictureExtension(out.photo);
        if (ext.isEmpty()) {
            out.notes << QStringLiteral("фотография в файле — не изображение JPEG, PNG, GIF, BMP, WebP или TIFF; "
                                        "карточка сохранена без неё");
            out.photo.clear();
            out.photoName.clear();
        } else if (out.photoName.isEmpty()) {
            out.photoName = QStringLiteral("photo.") + ext;
        }
    }
    out.notes += g.notes;
    return out;
}

} // namespace cardmap

// ------------------------------------------------------------------ public

QString CardData::name() const
{
    const QString n = cardmap::joined(
        {card.value(QStringLiteral("fam")), card.value(QStringLiteral("name1")), card.value(QStringLiteral("name2"))});
    if (!n.isEmpty())
        return n;
    for (const char *c : {"work", "wmail", "hmail", "wtel", "wmob", "hmob", "htel"})
        if (!card.value(QLatin1String(c)).trimmed().isEmpty())
            return card.value(QLatin1String(c)).trimmed();
    return QString();
}

bool CardData::isEmpty() const
{
    const CardRecord blank = emptyCard();
    for (const QString &c : cardColumns())
        if (card.value(c).trimmed() != blank.value(c).trimmed())
            return false;
    return !accounts && photo.isEmpty();
}

QString pictureExtension(const QByteArray &b)
{
    if (b.startsWith("\xFF\xD8\xFF"))
        return QStringLiteral("jpg");
    if (b.startsWith("\x89PNG\r\n\x1A\n"))
        return QStringLiteral("png");
    if (b.startsWith("GIF87a") || b.startsWith("GIF89a"))
        return QStringLiteral("gif");
    if (b.startsWith("BM") && b.size() > 14)
        return QStringLiteral("bmp");
    if (b.startsWith("RIFF") && b.mid(8, 4) == "WEBP")
        return QStringLiteral("webp");
    if (b.startsWith(QByteArray("II*\0", 4)) || b.startsWith(QByteArray("MM\0*", 4)))
        return QStringLiteral("tif");
    return QString();
}

QString reportLines(const QStringList &lines, int limit)
{
    if (limit <= 0 || lines.size() <= limit)
        return lines.join(QLatin1Char('\r'));
    return QStringList(lines.mid(0, limit)).join(QLatin1Char('\r')) +
           QStringLiteral("\r… и ещё %1.").arg(lines.size() - limit);
}

QString storedDate(const QString &text)
{
    const QString t = text.trimmed();
    if (t.isEmpty() || text == emptyDate())
        return emptyDate();
    static const QRegularExpression dmy(QStringLiteral("^(\\d{1,2})\\.(\\d{1,2})\\.(\\d{4})$"));
    static const QRegularExpression dm(QStringLiteral("^(\\d{1,2})\\.(\\d{1,2})\\.?$"));
    static const QRegularExpression iso(QStringLiteral("^(\\d{4})-?(\\d{2})-?(\\d{2})(T.*)?$"));
    static const QRegularExpression noYearIso(QStringLiteral("^--(\\d{2})-?(\\d{2})$"));
    static const QRegularExpression slash(QStringLiteral("^(\\d{1,2})/(\\d{1,2})/(\\d{4})$"));
    static const QRegularExpression zeros(QStringLiteral("^[0./ -]+$"));
    bool ok = false;
    QString out;
    if (const auto m = dmy.match(t); m.hasMatch())
        out = cardmap::dateOf(m.captured(3).toInt(), m.captured(2).toInt(), m.captured(1).toInt(), &ok);
    else if (const auto m = dm.match(t); m.hasMatch())
        out = cardmap::dateOf(0, m.captured(2).toInt(), m.captured(1).toInt(), &ok);
    else if (const auto m = iso.match(t); m.hasMatch())
        out = cardmap::dateOf(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt(), &ok);
    else if (const auto m = noYearIso.match(t); m.hasMatch())
        out = cardmap::dateOf(0, m.captured(1).toInt(), m.captured(2).toInt(), &ok);
    else if (const auto m = slash.match(t); m.hasMatch()) {
        // Month first, as the address books that write slashes do, unless it cannot be a month.
        int month = m.captured(1).toInt(), day = m.captured(2).toInt();
        if (month > 12)
            std::swap(month, day);
        out = cardmap::dateOf(m.captured(3).toInt(), month, day, &ok);
    } else if (zeros.match(t).hasMatch())
        return emptyDate(); // "0.0.00": a date left empty
    return ok ? out : t;
}

CardFile readCards(const QByteArray &bytes, const std::atomic_bool *cancel)
{
    CardFile out;
    const auto stopped = [&] {
        if (!cancel || !cancel->load(std::memory_order_relaxed))
            return false;
        out.cancelled = true;
        out.cards.clear();
        return true;
    };
    if (vcard::looksLikeVCard(bytes)) {
        out.kind = QStringLiteral("vCard");
        const vcard::Parsed parsed = vcard::parse(bytes, cancel);
        out.problems = parsed.problems;
        out.encoding = parsed.encoding;
        for (const vcard::Card &vc : parsed.cards) {
            if (stopped())
                return out;
            CardData c = cardmap::fromVCard(vc);
            c.line = vc.line;
            out.cards << c;
        }
    } else {
        QString taken;
        const QString text = filetext::decodeFile(bytes, &out.problems, &taken);
        if (taken != QLatin1String("UTF-8"))
            out.encoding = taken;
        const csv::Table table = csv::parse(text, cancel);
        if (stopped())
            return out;
        if (table.rows.size() < 1 || table.rows.first().size() < 2) {
            out.error =
                QStringLiteral("Файл не похож ни на файл vCard (он начинается строкой BEGIN:VCARD), ни на "
                               "таблицу CSV (первая строка — названия столбцов через запятую или точку с запятой).");
            return out;
        }
        if (!cardmap::knownHeader(table.rows.first())) {
            out.error = QStringLiteral("В первой строке таблицы CSV нет ни одного известного названия столбца "
                                       "(«Фамилия», «Имя», «Телефон», «E-mail», «First Name», ...): карточки из неё "
                                       "не прочитать. Проверьте, что первая строка — заголовок, а файл сохранён в "
                                       "UTF-8 или Windows-1251.");
            return out;
        }
        out.kind = QStringLiteral("CSV");
        out.cards = cardmap::fromCsv(table, out.problems, cancel);
    }
    if (stopped())
        return out;
    for (qsizetype i = 0; i < out.cards.size(); ++i)
        out.cards[i].number = int(i + 1);
    return out;
}

} // namespace core
