#include "cardfile.h"

#include "csvtext.h"
#include "filetext.h"
#include "vcard.h"

#include "core/cardfields.h"

#include <QDate>
#include <QHash>
#include <QRegularExpression>
#include <QUrl>

namespace core {

namespace {

const QString kPhotoLabel = QStringLiteral("Фотография");

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

// A stored full date that reads back the same: written as a vCard date.
std::optional<QDate> fullDate(const QString &stored)
{
    const QDate d = QDate::fromString(stored, QStringLiteral("dd.MM.yyyy"));
    if (d.isValid() && d.toString(QStringLiteral("dd.MM.yyyy")) == stored)
        return d;
    return std::nullopt;
}

// "DD.MM.    ": a birthday without its year; the month and day, else nothing.
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

QString noYear(int month, int day)
{
    return QStringLiteral("%1.%2.    ").arg(day, 2, 10, QLatin1Char('0')).arg(month, 2, 10, QLatin1Char('0'));
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

QString joined(const QStringList &parts, const QString &sep = QStringLiteral(" "))
{
    QStringList out;
    for (const QString &p : parts)
        if (!p.trimmed().isEmpty())
            out << p.trimmed();
    return out.join(sep);
}

QString yesNo(const QString &flag)
{
    return flag == QLatin1String("1") ? QStringLiteral("да") : QStringLiteral("нет");
}

bool isYes(const QString &text)
{
    static const QStringList yes = {QStringLiteral("1"),    QStringLiteral("да"),     QStringLiteral("yes"),
                                    QStringLiteral("true"), QStringLiteral("x"),      QStringLiteral("+"),
                                    QStringLiteral("д"),    QStringLiteral("истина"), QStringLiteral("y")};
    return yes.contains(text.trimmed().toLower());
}

// The program's names of the social networks (as its card offers them).
QString networkName(const QString &given)
{
    static const QHash<QString, QString> known = {
        {QStringLiteral("vk"), QStringLiteral("VK")},
        {QStringLiteral("vkontakte"), QStringLiteral("VK")},
        {QStringLiteral("facebook"), QStringLiteral("Facebook")},
        {QStringLiteral("twitter"), QStringLiteral("Twitter")},
        {QStringLiteral("linkedin"), QStringLiteral("Linkedln")},
        {QStringLiteral("instagram"), QStringLiteral("Instagram")},
        {QStringLiteral("wechat"), QStringLiteral("WeChat")},
        {QStringLiteral("qq"), QStringLiteral("QQ")},
        {QStringLiteral("weibo"), QStringLiteral("Weibo")},
        {QStringLiteral("telegram"), QStringLiteral("Telegram")},
    };
    return known.value(given.trimmed().toLower(), given.trimmed());
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

enum class Side { None, Work, Home };

QString sideText(Side s)
{
    return s == Side::Work ? QStringLiteral(" (рабочий)") : s == Side::Home ? QStringLiteral(" (личный)") : QString();
}

struct Entry
{
    QString value;
    Side side = Side::None;
};

// Values for a pair of fields, work and home: those marked for one side go
// there, then the unmarked fill what is still empty (work first). What finds
// no room, and no equal value, becomes a line of "Прочее".
void place(QString &work, QString &home, const QList<Entry> &entries, const QString &what, QStringList &extra)
{
    QStringList placed;
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
            placed << v;
        }
}

// What a file's card holds before it is laid onto the card's fields.
struct Gathered
{
    CardRecord card = emptyCard();
    QList<Entry> phones, mobiles, mails, skypes;
    QList<QPair<QString, QString>> nets; // network, address
    std::optional<Accounts> exactAccounts;
    bool exactOther = false;
    QString fullName;
    QStringList extra; // lines for "Прочее"
    QStringList notes;
    QByteArray photo;
    QString photoName;
    QString bdateText; // the stored text of a date that is no date, when told
};

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
    QStringList taken;
    if (g.exactAccounts) {
        out.accounts = g.exactAccounts;
        for (int k = 0; k < 4; ++k)
            taken << g.exactAccounts->address[k].trimmed();
    }
    Accounts found;
    int used = 0;
    for (const auto &[net, address] : g.nets) {
        const QString a = address.trimmed();
        if (a.isEmpty() || taken.contains(a))
            continue;
        taken << a;
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

// ---------------------------------------------------------------- vCard in

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

QString withoutScheme(const QString &value, const QString &scheme)
{
    return value.startsWith(scheme + QLatin1Char(':'), Qt::CaseInsensitive) ? value.mid(scheme.size() + 1) : value;
}

CardData fromVCard(const vcard::Card &vc)
{
    Gathered g;
    // A group's label (item1.X-ABLabel) says what its other lines are.
    QHash<QString, QString> labels;
    for (const vcard::Property &p : vc.properties)
        if (p.name == QLatin1String("X-ABLABEL") && !p.group.isEmpty())
            labels.insert(p.group.toLower(), vcard::unescape(p.value));
    QStringList notes;
    bool haveN = false;
    for (const vcard::Property &p : vc.properties) {
        const QString label = p.group.isEmpty() ? QString() : labels.value(p.group.toLower());
        const QString text = vcard::unescape(p.value);
        const QStringList types = p.types();
        const QString &n = p.name;
        if (n == QLatin1String("N") && !haveN) {
            const QStringList c = vcard::components(p.value);
            setValue(g.card, QStringLiteral("fam"), c.value(0));
            setValue(g.card, QStringLiteral("name1"), c.value(1));
            setValue(g.card, QStringLiteral("name2"), c.value(2));
            haveN = true;
            const QString prefix = joined({c.value(3), c.value(4)});
            if (!prefix.isEmpty())
                g.extra << QStringLiteral("Обращение: ") + prefix;
        } else if (n == QLatin1String("FN")) {
            if (g.fullName.isEmpty())
                g.fullName = text;
        } else if (n == QLatin1String("ORG")) {
            const QStringList c = vcard::components(p.value);
            if (g.card.value(QStringLiteral("work")).isEmpty() && g.card.value(QStringLiteral("dep")).isEmpty()) {
                setValue(g.card, QStringLiteral("work"), c.value(0));
                setValue(g.card, QStringLiteral("dep"), joined(c.mid(1), QStringLiteral(", ")));
            } else {
                g.extra << QStringLiteral("Организация: ") + joined(c, QStringLiteral(", "));
            }
        } else if (n == QLatin1String("TITLE")) {
            if (g.card.value(QStringLiteral("post")).isEmpty())
                setValue(g.card, QStringLiteral("post"), text);
            else
                g.extra << QStringLiteral("Должность: ") + text;
        } else if (n == QLatin1String("ROLE")) {
            g.extra << QStringLiteral("Роль: ") + text;
        } else if (n == QLatin1String("BDAY")) {
            QString d = text.trimmed();
            // 1604-03-15 with X-APPLE-OMIT-YEAR=1604: a birthday without its year.
            const QString omit = p.paramValues(QStringLiteral("X-APPLE-OMIT-YEAR")).value(0);
            if (!omit.isEmpty() && d.startsWith(omit))
                d = QStringLiteral("--") + d.mid(omit.size()).remove(QLatin1Char('-'));
            setValue(g.card, QStringLiteral("bdate"), storedDate(d));
        } else if (n == QLatin1String("TEL")) {
            const QString number = withoutScheme(text, QStringLiteral("tel")).trimmed();
            const QString l = label.toLower();
            const Side side = sideOfTypes(types, label);
            if (types.contains(QLatin1String("fax")) || l.contains(QLatin1String("fax")) ||
                l.contains(QStringLiteral("факс")))
                g.extra << QStringLiteral("Факс") + sideText(side) + QStringLiteral(": ") + number;
            else if (types.contains(QLatin1String("pager")) || l.contains(QLatin1String("pager")))
                g.extra << QStringLiteral("Пейджер: ") + number;
            else if (types.contains(QLatin1String("cell")) || types.contains(QLatin1String("mobile")) ||
                     types.contains(QLatin1String("iphone")) || l.contains(QLatin1String("mobile")) ||
                     l.contains(QLatin1String("cell")) || l.contains(QStringLiteral("моб")) ||
                     l.contains(QStringLiteral("сот")))
                g.mobiles << Entry{number, side};
            else
                g.phones << Entry{number, side};
        } else if (n == QLatin1String("EMAIL")) {
            g.mails << Entry{withoutScheme(text, QStringLiteral("mailto")).trimmed(), sideOfTypes(types, label)};
        } else if (n == QLatin1String("IMPP") || n == QLatin1String("X-SKYPE") ||
                   n == QLatin1String("X-SKYPE-USERNAME")) {
            const QString service = p.paramValues(QStringLiteral("X-SERVICE-TYPE")).value(0).toLower();
            const bool skype = n != QLatin1String("IMPP") || service == QLatin1String("skype") ||
                               text.startsWith(QLatin1String("skype:"), Qt::CaseInsensitive);
            if (skype)
                g.skypes << Entry{withoutScheme(text, QStringLiteral("skype")).trimmed(), sideOfTypes(types, label)};
            else
                g.extra << QStringLiteral("Мессенджер: ") + text.trimmed();
        } else if (n == QLatin1String("X-SOCIALPROFILE")) {
            QString net;
            for (const QString &t : p.paramValues(QStringLiteral("TYPE")))
                if (net.isEmpty())
                    net = networkName(t);
            if (net.isEmpty())
                net = networkOfAddress(text);
            g.nets.append({net, text.trimmed()});
        } else if (n == QLatin1String("URL")) {
            QString net;
            for (const QString &t : p.paramValues(QStringLiteral("TYPE")))
                if (!QStringList{QStringLiteral("work"), QStringLiteral("home"), QStringLiteral("pref"),
                                 QStringLiteral("internet"), QStringLiteral("x-other")}
                         .contains(t.toLower()) &&
                    net.isEmpty())
                    net = networkName(t);
            if (net.isEmpty() && !label.isEmpty() && !label.startsWith(QLatin1String("_$!<")))
                net = label;
            if (net.isEmpty())
                net = networkOfAddress(text);
            g.nets.append({net, text.trimmed()});
        } else if (n == QLatin1String("NOTE")) {
            QString &rem = g.card.values[QStringLiteral("rem")];
            rem += (rem.isEmpty() ? QString() : QStringLiteral("\r\n")) + text;
        } else if (n == QLatin1String("PHOTO")) {
            if (!g.photo.isEmpty())
                continue;
            if (!p.binary.isEmpty())
                g.photo = p.binary;
            else if (!text.trimmed().isEmpty())
                g.notes << QStringLiteral("фотография задана ссылкой (%1) и не загружена").arg(text.trimmed().left(80));
        } else if (n == QLatin1String("ADR")) {
            const QStringList c = vcard::components(p.value);
            g.extra << QStringLiteral("Адрес") + sideText(sideOfTypes(types, label)) + QStringLiteral(": ") +
                           joined({c.value(0), c.value(1), c.value(2), c.value(3), c.value(4), c.value(5), c.value(6)},
                                  QStringLiteral(", "));
        } else if (n == QLatin1String("NICKNAME")) {
            g.extra << QStringLiteral("Псевдоним: ") + text;
        } else if (n == QLatin1String("ANNIVERSARY") || n == QLatin1String("X-ANNIVERSARY")) {
            g.extra << QStringLiteral("Годовщина: ") + text;
        } else if (n == QLatin1String("X-ZENTRAX-BDATE")) {
            g.bdateText = text;
        } else if (n == QLatin1String("X-ZENTRAX-PASSPORT") || n == QLatin1String("X-ZENTRAX-VISA")) {
            const QStringList c = vcard::components(p.value);
            const bool passport = n == QLatin1String("X-ZENTRAX-PASSPORT");
            const QStringList cols = passport ? QStringList{QStringLiteral("ps"), QStringLiteral("pnum"),
                                                            QStringLiteral("pdate1"), QStringLiteral("pdate2")}
                                              : QStringList{QStringLiteral("vs"), QStringLiteral("vnum"),
                                                            QStringLiteral("vdate1"), QStringLiteral("vdate2")};
            for (int i = 0; i < 4; ++i)
                setValue(g.card, cols[i], i < 2 ? c.value(i) : (c.value(i).isEmpty() ? emptyDate() : c.value(i)));
        } else if (n == QLatin1String("X-ZENTRAX-HABITS")) {
            for (const QString &h : vcard::components(p.value, QLatin1Char(',')))
                if (flagColumns().contains(h.trimmed().toLower()))
                    setValue(g.card, h.trimmed().toLower(), QStringLiteral("1"));
        } else if (n == QLatin1String("X-ZENTRAX-OTHER")) {
            setValue(g.card, QStringLiteral("other"), text);
        } else if (n == QLatin1String("X-ZENTRAX-ACCOUNTS")) {
            const QStringList c = vcard::components(p.value);
            Accounts a;
            for (int k = 0; k < 4; ++k) {
                a.network[k] = c.value(2 * k);
                a.address[k] = c.value(2 * k + 1);
            }
            g.exactAccounts = a;
        } else if (n == QLatin1String("X-ZENTRAX-PHOTO-NAME")) {
            g.photoName = text;
        }
    }
    return finish(g);
}

// ------------------------------------------------------------------ CSV in

QString normalized(const QString &header)
{
    QString h = header.trimmed().toLower();
    h.replace(QChar(u'ё'), QChar(u'е'));
    h.replace(QLatin1Char('_'), QLatin1Char(' '));
    return h.simplified();
}

struct Column
{
    enum Kind {
        Ignore,
        Field,    // one of the card's columns, as is (dates and flags read)
        FullName, // the whole name: the surname when no part of the name is told
        Fio,      // "ФИО": surname, name, patronymic in that order
        BirthYear,
        BirthMonth,
        BirthDay, // a day of the month, or a whole date
        Phone,
        Mobile,
        Email,
        Skype,
        Web,
        AccountNetwork,
        AccountAddress,
        PhotoName,
        Photo,
        PairLabel, // "Phone 1 - Label": says what "Phone 1 - Value" is
        PairValue,
        Other, // kept in "Прочее" as "header: value"
    } kind = Other;
    QString column;
    Side side = Side::None;
    int index = 0;  // the account's place
    QString family; // of a pair: phone, e-mail, website, im, ...
    QString header;
};

bool has(const QString &h, std::initializer_list<const char *> words)
{
    for (const char *w : words)
        if (h.contains(QString::fromUtf8(w)))
            return true;
    return false;
}

Side sideOfHeader(const QString &h)
{
    if (has(h, {"business", "work", "рабоч", "служеб", "(раб"}))
        return Side::Work;
    if (has(h, {"home", "personal", "домаш", "личн"}))
        return Side::Home;
    return Side::None;
}

Column classify(const QString &header, const QStringList &allNormalized)
{
    Column c;
    c.header = header.trimmed();
    const auto as = [&c](Column::Kind kind, int index = 0) {
        c.kind = kind;
        c.index = index;
        return c;
    };
    const QString h = normalized(header);
    // This program's own header first.
    for (const CardField &f : cardFields())
        if (normalized(f.label) == h) {
            c.kind = Column::Field;
            c.column = f.column;
            return c;
        }
    for (int k = 0; k < 4; ++k) {
        if (h == normalized(accountLabel(true, k)))
            return as(Column::AccountNetwork, k);
        if (h == normalized(accountLabel(false, k)))
            return as(Column::AccountAddress, k);
    }
    if (h == normalized(photoNameLabel()))
        return as(Column::PhotoName);
    if (h == normalized(kPhotoLabel) || h == QLatin1String("photo"))
        return as(Column::Photo);

    // Pairs of columns as some address books write them: "Phone 1 - Label", "Phone 1 - Value".
    static const QRegularExpression pair(QStringLiteral("^(.+?) (\\d+) - (.+)$"));
    if (const auto m = pair.match(h); m.hasMatch()) {
        const QString family = m.captured(1), part = m.captured(3);
        c.family = family + QLatin1Char(' ') + m.captured(2);
        if (family == QLatin1String("organization")) {
            if (m.captured(2) == QLatin1String("1")) {
                c.kind = Column::Field;
                c.column = part == QLatin1String("name")         ? QStringLiteral("work")
                           : part == QLatin1String("title")      ? QStringLiteral("post")
                           : part == QLatin1String("department") ? QStringLiteral("dep")
                                                                 : QString();
                if (!c.column.isEmpty())
                    return c;
            }
            c.kind = Column::Other;
            return c;
        }
        if (part == QLatin1String("type") || part == QLatin1String("label") || part == QLatin1String("service"))
            return as(Column::PairLabel);
        // An address told whole ("Formatted") is kept once, without its parts.
        if (family == QLatin1String("address") && part != QLatin1String("formatted") &&
            allNormalized.contains(QStringLiteral("address %1 - formatted").arg(m.captured(2))))
            return as(Column::Ignore);
        c.kind = Column::PairValue;
        return c;
    }

    static const QHash<QString, QString> fields = {
        {QStringLiteral("last name"), QStringLiteral("fam")},
        {QStringLiteral("family name"), QStringLiteral("fam")},
        {QStringLiteral("surname"), QStringLiteral("fam")},
        {QStringLiteral("first name"), QStringLiteral("name1")},
        {QStringLiteral("given name"), QStringLiteral("name1")},
        {QStringLiteral("middle name"), QStringLiteral("name2")},
        {QStringLiteral("additional name"), QStringLiteral("name2")},
        {QStringLiteral("company"), QStringLiteral("work")},
        {QStringLiteral("organization"), QStringLiteral("work")},
        {QStringLiteral("organisation"), QStringLiteral("work")},
        {QStringLiteral("organization name"), QStringLiteral("work")},
        {QStringLiteral("организация"), QStringLiteral("work")},
        {QStringLiteral("компания"), QStringLiteral("work")},
        {QStringLiteral("department"), QStringLiteral("dep")},
        {QStringLiteral("organization department"), QStringLiteral("dep")},
        {QStringLiteral("подразделение"), QStringLiteral("dep")},
        {QStringLiteral("job title"), QStringLiteral("post")},
        {QStringLiteral("organization title"), QStringLiteral("post")},
        {QStringLiteral("position"), QStringLiteral("post")},
        {QStringLiteral("notes"), QStringLiteral("rem")},
        {QStringLiteral("note"), QStringLiteral("rem")},
        {QStringLiteral("заметки"), QStringLiteral("rem")},
        {QStringLiteral("примечание"), QStringLiteral("rem")},
        {QStringLiteral("комментарий"), QStringLiteral("rem")},
        {QStringLiteral("comments"), QStringLiteral("rem")},
        {QStringLiteral("birthday"), QStringLiteral("bdate")},
        {QStringLiteral("birth date"), QStringLiteral("bdate")},
        {QStringLiteral("date of birth"), QStringLiteral("bdate")},
    };
    if (const auto it = fields.constFind(h); it != fields.constEnd()) {
        c.kind = Column::Field;
        c.column = *it;
        return c;
    }
    if (h == QStringLiteral("фио") || h == QStringLiteral("ф.и.о.") || h == QStringLiteral("ф. и. о."))
        return as(Column::Fio);
    if (h == QLatin1String("name") || h == QLatin1String("full name") || h == QLatin1String("display name") ||
        h == QStringLiteral("отображаемое имя") || h == QStringLiteral("полное имя"))
        return as(Column::FullName);
    if (h == QLatin1String("birth year") || h == QStringLiteral("год рождения"))
        return as(Column::BirthYear);
    if (h == QLatin1String("birth month") || h == QStringLiteral("месяц рождения"))
        return as(Column::BirthMonth);
    if (h == QLatin1String("birth day") || h == QStringLiteral("день рождения"))
        return as(Column::BirthDay);
    static const QStringList ignored = {
        QStringLiteral("labels"),    QStringLiteral("group membership"), QStringLiteral("categories"),
        QStringLiteral("категории"), QStringLiteral("file as"),          QStringLiteral("initials"),
        QStringLiteral("инициалы"),  QStringLiteral("sensitivity"),      QStringLiteral("priority"),
        QStringLiteral("private"),   QStringLiteral("важность"),         QStringLiteral("пометка"),
    };
    if (ignored.contains(h) || has(h, {"yomi", "phonetic", "display name", "отображаемое имя эл", " type", "тип эл"}))
        return as(Column::Ignore);
    c.side = sideOfHeader(h);
    if (has(h, {"skype"}))
        return as(Column::Skype);
    if (has(h, {"e-mail", "email", "эл. почт", "электронн", "почта"}))
        return as(Column::Email);
    if (has(h, {"mobile", "cell", "мобил", "сотов"}))
        return as(Column::Mobile);
    if (has(h, {"fax", "факс", "pager", "пейджер"}))
        return as(Column::Other);
    if (has(h, {"phone", "телефон"})) {
        // The office's and home's numbers and the main one go into the card's
        // fields; a car phone, an assistant's, a callback number into "Прочее".
        static const QStringList main = {QStringLiteral("phone"),         QStringLiteral("телефон"),
                                         QStringLiteral("primary phone"), QStringLiteral("основной телефон"),
                                         QStringLiteral("phone number"),  QStringLiteral("номер телефона")};
        const bool plain =
            main.contains(h) || QStringList{QStringLiteral("business phone"),   QStringLiteral("work phone"),
                                            QStringLiteral("home phone"),       QStringLiteral("рабочий телефон"),
                                            QStringLiteral("домашний телефон"), QStringLiteral("личный телефон")}
                                    .contains(h);
        return as(plain ? Column::Phone : Column::Other);
    }
    if (has(h, {"web page", "website", "homepage", "веб-страница", "сайт", "url"}))
        return as(Column::Web);
    return c;
}

QString pairFamily(const QString &family)
{
    const QString f = family.section(QLatin1Char(' '), 0, -2);
    if (f == QLatin1String("phone") || f == QStringLiteral("телефон"))
        return QStringLiteral("phone");
    if (f == QLatin1String("e-mail") || f == QLatin1String("email"))
        return QStringLiteral("email");
    if (f == QLatin1String("website"))
        return QStringLiteral("web");
    if (f == QLatin1String("im"))
        return QStringLiteral("im");
    return QString();
}

// A control character (NUL and the like, not a tab or a line break) in a
// field: such a field is left out, with a note.
std::optional<char16_t> controlIn(const QString &v)
{
    for (QChar c : v)
        if ((c.unicode() < 0x20 && c != QLatin1Char('\t') && c != QLatin1Char('\r') && c != QLatin1Char('\n')) ||
            c.unicode() == 0x7F)
            return c.unicode();
    return std::nullopt;
}

// Whether the table's first row names at least one column this program knows.
bool knownHeader(const QStringList &header)
{
    QStringList allNormalized;
    for (const QString &h : header)
        allNormalized << normalized(h);
    for (const QString &h : header)
        if (const Column::Kind k = classify(h, allNormalized).kind; k != Column::Other && k != Column::Ignore)
            return true;
    return false;
}

QList<CardData> fromCsv(const csv::Table &t, QStringList &problems)
{
    QList<CardData> out;
    if (t.rows.isEmpty())
        return out;
    QStringList allNormalized;
    for (const QString &h : t.rows.first())
        allNormalized << normalized(h);
    QList<Column> cols;
    for (const QString &h : t.rows.first())
        cols << classify(h, allNormalized);
    // A "День рождения" holding a day of the month goes with "Месяц рождения".
    bool monthColumn = false;
    for (const Column &c : cols)
        monthColumn = monthColumn || c.kind == Column::BirthMonth;

    for (qsizetype r = 1; r < t.rows.size(); ++r) {
        const QStringList &row = t.rows[r];
        if (row.size() > cols.size() && !row.mid(cols.size()).join(QString()).trimmed().isEmpty())
            problems << QStringLiteral(
                            "Строка %1: полей больше, чем в заголовке (%2 вместо %3); лишние записаны в «Прочее».")
                            .arg(t.lines[r])
                            .arg(row.size())
                            .arg(cols.size());
        Gathered g;
        QHash<QString, QString> pairLabels;
        for (qsizetype i = 0; i < cols.size() && i < row.size(); ++i)
            if (cols[i].kind == Column::PairLabel)
                pairLabels.insert(cols[i].family, row[i].trimmed().remove(QLatin1String("* ")));
        QString year, month, day;
        QString exactNet[4], exactAdr[4];
        bool exactAccounts = false;
        for (qsizetype i = 0; i < row.size(); ++i) {
            const QString v = csv::asTyped(row[i]); // a formula's text, as our export wrote it
            if (v.trimmed().isEmpty())
                continue;
            if (const std::optional<char16_t> bad = controlIn(v)) {
                problems << QStringLiteral("Строка %1, столбец %2: управляющий символ (код %3) — поле не сохранено.")
                                .arg(t.lines[r])
                                .arg(i + 1)
                                .arg(int(*bad));
                continue;
            }
            if (i >= cols.size()) {
                g.extra << QStringLiteral("Поле %1: ").arg(i + 1) + v.trimmed();
                continue;
            }
            const Column &c = cols[i];
            switch (c.kind) {
            case Column::Ignore:
            case Column::PairLabel:
                break;
            case Column::Field:
                if (isDateColumn(c.column))
                    setValue(g.card, c.column, storedDate(v));
                else if (flagColumns().contains(c.column))
                    setValue(g.card, c.column, isYes(v) ? QStringLiteral("1") : QStringLiteral("0"));
                else if (c.column == QLatin1String("wtel") || c.column == QLatin1String("htel"))
                    g.phones << Entry{v, c.column[0] == u'w' ? Side::Work : Side::Home};
                else if (c.column == QLatin1String("wmob") || c.column == QLatin1String("hmob"))
                    g.mobiles << Entry{v, c.column[0] == u'w' ? Side::Work : Side::Home};
                else if (c.column == QLatin1String("wmail") || c.column == QLatin1String("hmail"))
                    g.mails << Entry{v, c.column[0] == u'w' ? Side::Work : Side::Home};
                else if (c.column == QLatin1String("wskype") || c.column == QLatin1String("hskype"))
                    g.skypes << Entry{v, c.column[0] == u'w' ? Side::Work : Side::Home};
                else if (c.column == QLatin1String("rem") || c.column == QLatin1String("other")) {
                    QString memo = v;
                    memo.replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
                        .replace(QLatin1Char('\r'), QLatin1Char('\n'));
                    QString &stored = g.card.values[c.column];
                    stored += (stored.isEmpty() ? QString() : QStringLiteral("\r\n")) +
                              memo.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
                } else if (g.card.value(c.column).isEmpty())
                    setValue(g.card, c.column, v);
                else
                    g.extra << c.header + QStringLiteral(": ") + v.trimmed();
                break;
            case Column::FullName:
                if (g.fullName.isEmpty())
                    g.fullName = v;
                break;
            case Column::Fio: {
                const QStringList w = v.simplified().split(QLatin1Char(' '));
                setValue(g.card, QStringLiteral("fam"), w.value(0));
                setValue(g.card, QStringLiteral("name1"), w.value(1));
                setValue(g.card, QStringLiteral("name2"), w.mid(2).join(QLatin1Char(' ')));
                break;
            }
            case Column::BirthYear:
                year = v.trimmed();
                break;
            case Column::BirthMonth:
                month = v.trimmed();
                break;
            case Column::BirthDay:
                if (monthColumn && v.trimmed().size() <= 2)
                    day = v.trimmed();
                else
                    setValue(g.card, QStringLiteral("bdate"), storedDate(v));
                break;
            case Column::Phone:
                g.phones << Entry{v, c.side};
                break;
            case Column::Mobile:
                g.mobiles << Entry{v, c.side};
                break;
            case Column::Email:
                g.mails << Entry{v, c.side};
                break;
            case Column::Skype:
                g.skypes << Entry{v, c.side};
                break;
            case Column::Web:
                g.nets.append({networkOfAddress(v), v.trimmed()});
                break;
            case Column::AccountNetwork:
                exactNet[c.index] = v;
                exactAccounts = true;
                break;
            case Column::AccountAddress:
                exactAdr[c.index] = v;
                exactAccounts = true;
                break;
            case Column::PhotoName:
                g.photoName = v.trimmed();
                break;
            case Column::Photo: {
                const QString s = v.trimmed();
                const qsizetype comma = s.indexOf(QLatin1Char(','));
                if (s.startsWith(QLatin1String("data:"), Qt::CaseInsensitive) && comma > 0 &&
                    s.left(comma).contains(QLatin1String(";base64"), Qt::CaseInsensitive))
                    g.photo = QByteArray::fromBase64(s.mid(comma + 1).toLatin1());
                else
                    g.notes << QStringLiteral("фотография задана ссылкой (%1) и не загружена").arg(s.left(80));
                break;
            }
            case Column::PairValue: {
                const QString label = pairLabels.value(c.family);
                const QString family = pairFamily(c.family);
                // One cell may hold several values: "a ::: b".
                for (const QString &one : v.split(QStringLiteral(" ::: "), Qt::SkipEmptyParts)) {
                    const QString l = label.toLower();
                    const Side side = sideOfTypes({}, label);
                    if (family == QLatin1String("phone")) {
                        if (l.contains(QLatin1String("fax")) || l.contains(QLatin1String("pager")))
                            g.extra << label + QStringLiteral(": ") + one.trimmed();
                        else if (l.contains(QLatin1String("mobile")) || l.contains(QLatin1String("cell")) ||
                                 l.contains(QStringLiteral("моб")))
                            g.mobiles << Entry{one, side};
                        else
                            g.phones << Entry{one, side};
                    } else if (family == QLatin1String("email")) {
                        g.mails << Entry{one, side};
                    } else if (family == QLatin1String("web")) {
                        g.nets.append({networkOfAddress(one), one.trimmed()});
                    } else if (family == QLatin1String("im") && l.contains(QLatin1String("skype"))) {
                        g.skypes << Entry{one, Side::None};
                    } else {
                        g.extra << c.header.section(QStringLiteral(" - "), 0, 0) +
                                       (label.isEmpty() ? QString() : QStringLiteral(" (") + label + QLatin1Char(')')) +
                                       QStringLiteral(": ") + one.trimmed();
                    }
                }
                break;
            }
            case Column::Other:
                g.extra << c.header + QStringLiteral(": ") + v.trimmed();
                break;
            }
        }
        if (!month.isEmpty() && !day.isEmpty()) {
            bool ok = false;
            const QString d = dateOf(year.isEmpty() ? 0 : year.toInt(), month.toInt(), day.toInt(), &ok);
            if (ok)
                setValue(g.card, QStringLiteral("bdate"), d);
        }
        if (exactAccounts) {
            Accounts a;
            for (int k = 0; k < 4; ++k) {
                a.network[k] = exactNet[k];
                a.address[k] = exactAdr[k];
            }
            g.exactAccounts = a;
        }
        CardData card = finish(g);
        card.line = t.lines[r];
        out << card;
    }
    return out;
}

// --------------------------------------------------------------- vCard out

QString paramValue(QString v)
{
    v.remove(QLatin1Char('"'));
    v.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    if (v.contains(QLatin1Char(',')) || v.contains(QLatin1Char(';')) || v.contains(QLatin1Char(':')))
        return QLatin1Char('"') + v + QLatin1Char('"');
    return v;
}

} // namespace

// ------------------------------------------------------------------ public

QString CardData::name() const
{
    const QString n = joined(
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
        out = dateOf(m.captured(3).toInt(), m.captured(2).toInt(), m.captured(1).toInt(), &ok);
    else if (const auto m = dm.match(t); m.hasMatch())
        out = dateOf(0, m.captured(2).toInt(), m.captured(1).toInt(), &ok);
    else if (const auto m = iso.match(t); m.hasMatch())
        out = dateOf(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt(), &ok);
    else if (const auto m = noYearIso.match(t); m.hasMatch())
        out = dateOf(0, m.captured(1).toInt(), m.captured(2).toInt(), &ok);
    else if (const auto m = slash.match(t); m.hasMatch()) {
        // Month first, as the address books that write slashes do, unless it cannot be a month.
        int month = m.captured(1).toInt(), day = m.captured(2).toInt();
        if (month > 12)
            std::swap(month, day);
        out = dateOf(m.captured(3).toInt(), month, day, &ok);
    } else if (zeros.match(t).hasMatch())
        return emptyDate(); // "0.0.00": a date left empty
    return ok ? out : t;
}

QByteArray vcardOf(const CardData &data, CardFormat format)
{
    const bool v4 = format == CardFormat::VCard4;
    const CardRecord &c = data.card;
    const auto v = [&c](const char *column) { return c.value(QLatin1String(column)); };
    const auto esc = [](const QString &t) { return vcard::escape(t); };
    const auto types = [v4](std::initializer_list<const char *> list) {
        QStringList t;
        for (const char *x : list)
            t << (v4 ? QString::fromLatin1(x) : QString::fromLatin1(x).toUpper());
        return QStringLiteral(";TYPE=") + t.join(QLatin1Char(','));
    };
    QByteArray out = "BEGIN:VCARD\r\n";
    out += vcard::contentLine(QStringLiteral("VERSION"), v4 ? QStringLiteral("4.0") : QStringLiteral("3.0"));
    out += vcard::contentLine(QStringLiteral("PRODID"), QStringLiteral("-//Zentrax//Zentrax//RU"));
    out += vcard::contentLine(QStringLiteral("N"), esc(v("fam")) + QLatin1Char(';') + esc(v("name1")) +
                                                       QLatin1Char(';') + esc(v("name2")) + QStringLiteral(";;"));
    out += vcard::contentLine(QStringLiteral("FN"), esc(data.name()));
    if (!v("work").isEmpty() || !v("dep").isEmpty())
        out += vcard::contentLine(QStringLiteral("ORG"),
                                  esc(v("work")) + (v("dep").isEmpty() ? QString() : QLatin1Char(';') + esc(v("dep"))));
    if (!v("post").isEmpty())
        out += vcard::contentLine(QStringLiteral("TITLE"), esc(v("post")));
    const QString bdate = v("bdate");
    if (const auto d = fullDate(bdate)) {
        out += vcard::contentLine(QStringLiteral("BDAY"),
                                  d->toString(v4 ? QStringLiteral("yyyyMMdd") : QStringLiteral("yyyy-MM-dd")));
    } else if (const auto md = dayWithoutYear(bdate)) {
        const QString mmdd =
            QStringLiteral("%1-%2").arg(md->first, 2, 10, QLatin1Char('0')).arg(md->second, 2, 10, QLatin1Char('0'));
        if (v4)
            out += vcard::contentLine(QStringLiteral("BDAY"),
                                      QStringLiteral("--") + QString(mmdd).remove(QLatin1Char('-')));
        else // the form older phones know: a year that stands for none
            out += vcard::contentLine(QStringLiteral("BDAY;X-APPLE-OMIT-YEAR=1604"), QStringLiteral("1604-") + mmdd);
    } else if (!bdate.trimmed().isEmpty() && bdate != emptyDate()) {
        out += vcard::contentLine(QStringLiteral("X-ZENTRAX-BDATE"), esc(bdate));
    }
    const struct
    {
        const char *column;
        std::initializer_list<const char *> types;
    } phones[] = {{"wtel", {"work", "voice"}},
                  {"htel", {"home", "voice"}},
                  {"wmob", {"work", "cell"}},
                  {"hmob", {"home", "cell"}}};
    for (const auto &p : phones)
        if (!v(p.column).isEmpty())
            out += vcard::contentLine(QStringLiteral("TEL") + types(p.types), esc(v(p.column)));
    for (const auto &[column, side] : {std::pair{"wmail", "work"}, std::pair{"hmail", "home"}})
        if (!v(column).isEmpty())
            out += vcard::contentLine(QStringLiteral("EMAIL") + (v4 ? types({side}) : types({"internet", side})),
                                      esc(v(column)));
    for (const auto &[column, side] : {std::pair{"wskype", "work"}, std::pair{"hskype", "home"}})
        if (!v(column).isEmpty()) {
            if (v4)
                out += vcard::contentLine(QStringLiteral("IMPP") + types({side}),
                                          QStringLiteral("skype:") + esc(v(column)));
            else
                out += vcard::contentLine(QStringLiteral("X-SKYPE") + types({side}), esc(v(column)));
        }
    if (data.accounts)
        for (int k = 0; k < 4; ++k) {
            const QString &address = data.accounts->address[k];
            if (address.trimmed().isEmpty())
                continue;
            const QString net = data.accounts->network[k].trimmed();
            const QString type = net.isEmpty() ? QString() : QStringLiteral(";TYPE=") + paramValue(net);
            out += vcard::contentLine(QStringLiteral("X-SOCIALPROFILE") + type, esc(address));
            out += vcard::contentLine(QStringLiteral("URL") + type, esc(address));
        }
    if (!v("rem").isEmpty())
        out += vcard::contentLine(QStringLiteral("NOTE"), esc(v("rem")));
    if (!data.photo.isEmpty()) {
        const QString ext = pictureExtension(data.photo);
        const QString b64 = QString::fromLatin1(data.photo.toBase64());
        if (v4)
            out += vcard::contentLine(QStringLiteral("PHOTO"),
                                      QStringLiteral("data:") + mediaTypeOf(ext) + QStringLiteral(";base64,") + b64);
        else
            out += vcard::contentLine(
                QStringLiteral("PHOTO;ENCODING=b") +
                    (ext.isEmpty() ? QString()
                                   : QStringLiteral(";TYPE=") +
                                         (ext == QLatin1String("jpg") ? QStringLiteral("JPEG") : ext.toUpper())),
                b64);
        out += vcard::contentLine(QStringLiteral("X-ZENTRAX-PHOTO-NAME"), esc(data.photoName));
    }
    // What no standard property holds, for this program's own import.
    for (const auto &[name, cols] :
         {std::pair{"X-ZENTRAX-PASSPORT", QStringList{QStringLiteral("ps"), QStringLiteral("pnum"),
                                                      QStringLiteral("pdate1"), QStringLiteral("pdate2")}},
          std::pair{"X-ZENTRAX-VISA", QStringList{QStringLiteral("vs"), QStringLiteral("vnum"),
                                                  QStringLiteral("vdate1"), QStringLiteral("vdate2")}}}) {
        QStringList parts;
        bool any = false;
        for (const QString &col : cols) {
            QString value = c.value(col);
            if (isDateColumn(col) && value == emptyDate())
                value.clear();
            any = any || !value.isEmpty();
            parts << esc(value);
        }
        if (any)
            out += vcard::contentLine(QLatin1String(name), parts.join(QLatin1Char(';')));
    }
    QStringList habits;
    for (const QString &f : flagColumns())
        if (c.value(f) == QLatin1String("1"))
            habits << f;
    if (!habits.isEmpty())
        out += vcard::contentLine(QStringLiteral("X-ZENTRAX-HABITS"), habits.join(QLatin1Char(',')));
    if (!v("other").isEmpty())
        out += vcard::contentLine(QStringLiteral("X-ZENTRAX-OTHER"), esc(v("other")));
    if (data.accounts) {
        QStringList parts;
        for (int k = 0; k < 4; ++k)
            parts << esc(data.accounts->network[k]) << esc(data.accounts->address[k]);
        out += vcard::contentLine(QStringLiteral("X-ZENTRAX-ACCOUNTS"), parts.join(QLatin1Char(';')));
    }
    out += "END:VCARD\r\n";
    return out;
}

QByteArray csvHeader()
{
    QStringList h;
    for (const CardField &f : cardFields())
        h << f.label;
    for (int k = 0; k < 4; ++k)
        h << accountLabel(true, k) << accountLabel(false, k);
    h << photoNameLabel() << kPhotoLabel;
    return QByteArray("\xEF\xBB\xBF") + csv::record(h).toUtf8();
}

QByteArray csvRowOf(const CardData &data)
{
    QStringList row;
    for (const CardField &f : cardFields()) {
        const QString v = data.card.value(f.column);
        if (flagColumns().contains(f.column))
            row << yesNo(v);
        else if (isDateColumn(f.column) && v == emptyDate())
            row << QString();
        else if (const auto md = isDateColumn(f.column) ? dayWithoutYear(v) : std::nullopt)
            row << v.left(5);
        else
            row << v;
    }
    for (int k = 0; k < 4; ++k)
        row << (data.accounts ? data.accounts->network[k] : QString())
            << (data.accounts ? data.accounts->address[k] : QString());
    if (data.photo.isEmpty())
        row << QString() << QString();
    else
        row << data.photoName
            << QStringLiteral("data:") + mediaTypeOf(pictureExtension(data.photo)) + QStringLiteral(";base64,") +
                   QString::fromLatin1(data.photo.toBase64());
    // A text that a spreadsheet would run as a formula is written so that it stays text.
    for (QString &cell : row)
        cell = csv::neutralized(cell);
    return csv::record(row).toUtf8();
}

CardFile readCards(const QByteArray &bytes)
{
    CardFile out;
    if (vcard::looksLikeVCard(bytes)) {
        out.kind = QStringLiteral("vCard");
        const vcard::Parsed parsed = vcard::parse(bytes);
        out.problems = parsed.problems;
        for (const vcard::Card &vc : parsed.cards) {
            CardData c = fromVCard(vc);
            c.line = vc.line;
            out.cards << c;
        }
    } else {
        const QString text = filetext::decodeFile(bytes, &out.problems);
        const csv::Table table = csv::parse(text);
        if (table.rows.size() < 1 || table.rows.first().size() < 2) {
            out.error =
                QStringLiteral("Файл не похож ни на файл vCard (он начинается строкой BEGIN:VCARD), ни на "
                               "таблицу CSV (первая строка — названия столбцов через запятую или точку с запятой).");
            return out;
        }
        if (!knownHeader(table.rows.first())) {
            out.error = QStringLiteral("В первой строке таблицы CSV нет ни одного известного названия столбца "
                                       "(«Фамилия», «Имя», «Телефон», «E-mail», «First Name», ...): карточки из неё "
                                       "не прочитать. Проверьте, что первая строка — заголовок, а файл сохранён в "
                                       "UTF-8 или Windows-1251.");
            return out;
        }
        out.kind = QStringLiteral("CSV");
        out.cards = fromCsv(table, out.problems);
    }
    for (qsizetype i = 0; i < out.cards.size(); ++i)
        out.cards[i].number = int(i + 1);
    return out;
}

} // namespace core
