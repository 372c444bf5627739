// Cards to and from vCard: a vCard's properties laid onto the card's fields
// and the card written as a vCard 4.0 or 3.0.

#include "cardfile.h"
#include "cardmap.h"
#include "vcard.h"

#include "core/cardfields.h"

#include <QDate>
#include <QHash>

namespace core {

namespace cardmap {

// ---------------------------------------------------------------- vCard in

namespace {

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

QString withoutScheme(const QString &value, const QString &scheme)
{
    return value.startsWith(scheme + QLatin1Char(':'), Qt::CaseInsensitive) ? value.mid(scheme.size() + 1) : value;
}

} // namespace

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
            // A client that keeps the property as one text writes it back
            // with its commas escaped ("mus\,trav"); no habit has a comma.
            for (const QString &h : vcard::components(
                     QString(p.value).replace(QStringLiteral("\\,"), QStringLiteral(",")), QLatin1Char(',')))
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

} // namespace cardmap

// --------------------------------------------------------------- vCard out

namespace {

// A stored full date that reads back the same: written as a vCard date.
std::optional<QDate> fullDate(const QString &stored)
{
    const QDate d = QDate::fromString(stored, QStringLiteral("dd.MM.yyyy"));
    if (d.isValid() && d.toString(QStringLiteral("dd.MM.yyyy")) == stored)
        return d;
    return std::nullopt;
}

QString paramValue(QString v)
{
    v.remove(QLatin1Char('"'));
    v.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    if (v.contains(QLatin1Char(',')) || v.contains(QLatin1Char(';')) || v.contains(QLatin1Char(':')))
        return QLatin1Char('"') + v + QLatin1Char('"');
    return v;
}

} // namespace

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
    } else if (const auto md = cardmap::dayWithoutYear(bdate)) {
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
            out += vcard::contentLine(QStringLiteral("PHOTO"), QStringLiteral("data:") + cardmap::mediaTypeOf(ext) +
                                                                   QStringLiteral(";base64,") + b64);
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

} // namespace core
