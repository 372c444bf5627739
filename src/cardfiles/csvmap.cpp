// Cards to and from CSV: a table's columns told by their headers (this
// program's own, the address books' and the spreadsheets' in English and
// Russian) and laid onto the card's fields, and the card written as a row.

#include "cardfile.h"
#include "cardmap.h"
#include "csvtext.h"

#include "core/cardfields.h"

#include <QHash>
#include <QRegularExpression>
#include <QSet>

namespace core {

namespace {

const QString kPhotoLabel = QStringLiteral("Фотография");

} // namespace

namespace cardmap {

// ------------------------------------------------------------------ CSV in

namespace {

bool isYes(const QString &text)
{
    static const QStringList yes = {QStringLiteral("1"),    QStringLiteral("да"),     QStringLiteral("yes"),
                                    QStringLiteral("true"), QStringLiteral("x"),      QStringLiteral("+"),
                                    QStringLiteral("д"),    QStringLiteral("истина"), QStringLiteral("y")};
    return yes.contains(text.trimmed().toLower());
}

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

Column classify(const QString &header, const QSet<QString> &allNormalized)
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

} // namespace

// Whether the table's first row names at least one column this program knows.
bool knownHeader(const QStringList &header)
{
    QSet<QString> allNormalized;
    for (const QString &h : header)
        allNormalized.insert(normalized(h));
    for (const QString &h : header)
        if (const Column::Kind k = classify(h, allNormalized).kind; k != Column::Other && k != Column::Ignore)
            return true;
    return false;
}

QList<CardData> fromCsv(const csv::Table &t, QStringList &problems, const std::atomic_bool *cancel)
{
    QList<CardData> out;
    if (t.rows.isEmpty())
        return out;
    QSet<QString> allNormalized;
    for (const QString &h : t.rows.first())
        allNormalized.insert(normalized(h));
    QList<Column> cols;
    for (const QString &h : t.rows.first())
        cols << classify(h, allNormalized);
    // A "День рождения" holding a day of the month goes with "Месяц рождения".
    bool monthColumn = false;
    for (const Column &c : cols)
        monthColumn = monthColumn || c.kind == Column::BirthMonth;

    for (qsizetype r = 1; r < t.rows.size(); ++r) {
        if (cancel && cancel->load(std::memory_order_relaxed))
            return out;
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

} // namespace cardmap

// ----------------------------------------------------------------- CSV out

namespace {

QString yesNo(const QString &flag)
{
    return flag == QLatin1String("1") ? QStringLiteral("да") : QStringLiteral("нет");
}

} // namespace

QByteArray csvHeader()
{
    QStringList h;
    for (const CardField &f : cardFields())
        h << f.label;
    for (int k = 0; k < 4; ++k)
        h << accountLabel(true, k) << accountLabel(false, k);
    // No photo: a whole picture in one cell is more than a spreadsheet's
    // cell holds, and a table saved back by one would come back without it.
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
        else if (const auto md = isDateColumn(f.column) ? cardmap::dayWithoutYear(v) : std::nullopt)
            row << v.left(5);
        else
            row << v;
    }
    for (int k = 0; k < 4; ++k)
        row << (data.accounts ? data.accounts->network[k] : QString())
            << (data.accounts ? data.accounts->address[k] : QString());
    // A text that a spreadsheet would run as a formula is written so that it stays text.
    for (QString &cell : row)
        cell = csv::neutralized(cell);
    return csv::record(row).toUtf8();
}

} // namespace core
