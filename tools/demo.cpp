#include "demo.h"

#include "db/ibase.h"
#include "db/statements.h"

#include <QDate>

namespace demo {
namespace {

// splitmix64: a small generator whose sequence is the same everywhere.
struct Rng
{
    quint64 s;
    explicit Rng(quint64 seed) : s(seed * 0x9E3779B97F4A7C15ULL + 0x1234567ULL) {}
    quint64 next()
    {
        quint64 z = (s += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    int below(int n) { return int(next() % quint64(n)); }
    bool chance(int percent) { return below(100) < percent; }
};

const QStringList kSurnames = {
    QStringLiteral("Иванов"),   QStringLiteral("Смирнов"),  QStringLiteral("Кузнецов"),
    QStringLiteral("Попов"),    QStringLiteral("Васильев"), QStringLiteral("Петров"),
    QStringLiteral("Соколов"),  QStringLiteral("Михайлов"), QStringLiteral("Новиков"),
    QStringLiteral("Фёдоров"),  QStringLiteral("Морозов"),  QStringLiteral("Волков"),
    QStringLiteral("Алексеев"), QStringLiteral("Лебедев"),  QStringLiteral("Семёнов"),
    QStringLiteral("Егоров"),   QStringLiteral("Павлов"),   QStringLiteral("Козлов"),
    QStringLiteral("Степанов"), QStringLiteral("Николаев"), QStringLiteral("Орлов"),
    QStringLiteral("Андреев"),  QStringLiteral("Макаров"),  QStringLiteral("Никитин"),
    QStringLiteral("Захаров"),  QStringLiteral("Зайцев"),   QStringLiteral("Соловьёв"),
    QStringLiteral("Борисов"),  QStringLiteral("Яковлев"),  QStringLiteral("Григорьев"),
    QStringLiteral("Романов"),  QStringLiteral("Воробьёв"), QStringLiteral("Сергеев"),
    QStringLiteral("Кузьмин"),  QStringLiteral("Фролов"),   QStringLiteral("Александров"),
    QStringLiteral("Дмитриев"), QStringLiteral("Королёв"),  QStringLiteral("Гусев"),
    QStringLiteral("Киселёв"),  QStringLiteral("Ильин"),    QStringLiteral("Максимов"),
    QStringLiteral("Поляков"),  QStringLiteral("Сорокин"),  QStringLiteral("Виноградов"),
    QStringLiteral("Ковалёв"),  QStringLiteral("Белов"),    QStringLiteral("Медведев"),
    QStringLiteral("Антонов"),  QStringLiteral("Тарасов"),  QStringLiteral("Жуков"),
    QStringLiteral("Баранов"),  QStringLiteral("Филиппов"), QStringLiteral("Комаров"),
    QStringLiteral("Давыдов"),  QStringLiteral("Беляев"),   QStringLiteral("Герасимов"),
    QStringLiteral("Богданов"), QStringLiteral("Осипов"),   QStringLiteral("Сидоров"),
};
const QStringList kSurnamesLatin = {
    QStringLiteral("ivanov"),   QStringLiteral("smirnov"),   QStringLiteral("kuznetsov"),
    QStringLiteral("popov"),    QStringLiteral("vasiliev"),  QStringLiteral("petrov"),
    QStringLiteral("sokolov"),  QStringLiteral("mikhailov"), QStringLiteral("novikov"),
    QStringLiteral("fedorov"),  QStringLiteral("morozov"),   QStringLiteral("volkov"),
    QStringLiteral("alekseev"), QStringLiteral("lebedev"),   QStringLiteral("semenov"),
    QStringLiteral("egorov"),   QStringLiteral("pavlov"),    QStringLiteral("kozlov"),
    QStringLiteral("stepanov"), QStringLiteral("nikolaev"),  QStringLiteral("orlov"),
    QStringLiteral("andreev"),  QStringLiteral("makarov"),   QStringLiteral("nikitin"),
    QStringLiteral("zakharov"), QStringLiteral("zaitsev"),   QStringLiteral("soloviev"),
    QStringLiteral("borisov"),  QStringLiteral("yakovlev"),  QStringLiteral("grigoriev"),
    QStringLiteral("romanov"),  QStringLiteral("vorobiev"),  QStringLiteral("sergeev"),
    QStringLiteral("kuzmin"),   QStringLiteral("frolov"),    QStringLiteral("aleksandrov"),
    QStringLiteral("dmitriev"), QStringLiteral("korolev"),   QStringLiteral("gusev"),
    QStringLiteral("kiselev"),  QStringLiteral("ilin"),      QStringLiteral("maksimov"),
    QStringLiteral("polyakov"), QStringLiteral("sorokin"),   QStringLiteral("vinogradov"),
    QStringLiteral("kovalev"),  QStringLiteral("belov"),     QStringLiteral("medvedev"),
    QStringLiteral("antonov"),  QStringLiteral("tarasov"),   QStringLiteral("zhukov"),
    QStringLiteral("baranov"),  QStringLiteral("filippov"),  QStringLiteral("komarov"),
    QStringLiteral("davydov"),  QStringLiteral("belyaev"),   QStringLiteral("gerasimov"),
    QStringLiteral("bogdanov"), QStringLiteral("osipov"),    QStringLiteral("sidorov"),
};
const QStringList kMaleNames = {
    QStringLiteral("Александр"),  QStringLiteral("Алексей"), QStringLiteral("Андрей"),   QStringLiteral("Борис"),
    QStringLiteral("Василий"),    QStringLiteral("Виктор"),  QStringLiteral("Владимир"), QStringLiteral("Геннадий"),
    QStringLiteral("Дмитрий"),    QStringLiteral("Евгений"), QStringLiteral("Иван"),     QStringLiteral("Игорь"),
    QStringLiteral("Константин"), QStringLiteral("Михаил"),  QStringLiteral("Николай"),  QStringLiteral("Олег"),
    QStringLiteral("Павел"),      QStringLiteral("Пётр"),    QStringLiteral("Роман"),    QStringLiteral("Сергей"),
    QStringLiteral("Юрий"),       QStringLiteral("Артём"),   QStringLiteral("Максим"),   QStringLiteral("Григорий"),
};
const QStringList kFemaleNames = {
    QStringLiteral("Анна"),      QStringLiteral("Елена"),   QStringLiteral("Ольга"),    QStringLiteral("Татьяна"),
    QStringLiteral("Наталья"),   QStringLiteral("Ирина"),   QStringLiteral("Светлана"), QStringLiteral("Мария"),
    QStringLiteral("Екатерина"), QStringLiteral("Юлия"),    QStringLiteral("Людмила"),  QStringLiteral("Галина"),
    QStringLiteral("Марина"),    QStringLiteral("Дарья"),   QStringLiteral("Алёна"),    QStringLiteral("Вера"),
    QStringLiteral("Ксения"),    QStringLiteral("Надежда"), QStringLiteral("Полина"),   QStringLiteral("Софья"),
};
// Patronymic stems: father's name -> (male, female) endings.
const QStringList kPatronymicMale = {
    QStringLiteral("Александрович"), QStringLiteral("Алексеевич"), QStringLiteral("Андреевич"),
    QStringLiteral("Борисович"),     QStringLiteral("Викторович"), QStringLiteral("Владимирович"),
    QStringLiteral("Дмитриевич"),    QStringLiteral("Иванович"),   QStringLiteral("Игоревич"),
    QStringLiteral("Михайлович"),    QStringLiteral("Николаевич"), QStringLiteral("Олегович"),
    QStringLiteral("Павлович"),      QStringLiteral("Петрович"),   QStringLiteral("Сергеевич"),
    QStringLiteral("Юрьевич"),
};
const QStringList kPatronymicFemale = {
    QStringLiteral("Александровна"), QStringLiteral("Алексеевна"), QStringLiteral("Андреевна"),
    QStringLiteral("Борисовна"),     QStringLiteral("Викторовна"), QStringLiteral("Владимировна"),
    QStringLiteral("Дмитриевна"),    QStringLiteral("Ивановна"),   QStringLiteral("Игоревна"),
    QStringLiteral("Михайловна"),    QStringLiteral("Николаевна"), QStringLiteral("Олеговна"),
    QStringLiteral("Павловна"),      QStringLiteral("Петровна"),   QStringLiteral("Сергеевна"),
    QStringLiteral("Юрьевна"),
};
const QStringList kOrgs = {
    QStringLiteral("ООО «Северный ветер»"),
    QStringLiteral("АО «Уралмашзавод»"),
    QStringLiteral("ПАО «Сбербанк»"),
    QStringLiteral("ООО «Ромашка»"),
    QStringLiteral("ЗАО «Техносфера»"),
    QStringLiteral("ГБУЗ «Городская больница № 7»"),
    QStringLiteral("ООО «Вектор-Строй»"),
    QStringLiteral("АО «Транснефть — Прикамье»"),
    QStringLiteral("ООО «Балтийская логистика»"),
    QStringLiteral("ФГУП «Почта России»"),
    QStringLiteral("ООО «Медиагруппа Восток»"),
    QStringLiteral("ИП Сорокин А. В."),
    QStringLiteral("АНО «Центр развития»"),
    QStringLiteral("ООО «Агрохолдинг Кубань»"),
    QStringLiteral("МГУ им. М. В. Ломоносова"),
    QStringLiteral("ООО «Софтлайн Трейд»"),
    QStringLiteral("АО «Волжский трубный завод»"),
    QStringLiteral("Администрация г. Казани"),
    QStringLiteral("ООО «Сибирские окна»"),
    QStringLiteral("Siemens AG"),
};
const QStringList kDeps = {
    QStringLiteral("Бухгалтерия"),
    QStringLiteral("Отдел кадров"),
    QStringLiteral("Отдел продаж"),
    QStringLiteral("Юридический отдел"),
    QStringLiteral("Отдел снабжения"),
    QStringLiteral("ИТ-отдел"),
    QStringLiteral("Планово-экономический отдел"),
    QStringLiteral("Отдел маркетинга"),
    QStringLiteral("Служба безопасности"),
    QStringLiteral("Производственный цех № 2"),
    QStringLiteral("Дирекция"),
    QStringLiteral("Отдел логистики"),
};
const QStringList kPosts = {
    QStringLiteral("Генеральный директор"),
    QStringLiteral("Главный бухгалтер"),
    QStringLiteral("Бухгалтер"),
    QStringLiteral("Менеджер по продажам"),
    QStringLiteral("Ведущий инженер"),
    QStringLiteral("Инженер-программист"),
    QStringLiteral("Юрисконсульт"),
    QStringLiteral("Начальник отдела"),
    QStringLiteral("Заместитель директора"),
    QStringLiteral("Специалист по кадрам"),
    QStringLiteral("Экономист"),
    QStringLiteral("Секретарь"),
    QStringLiteral("Водитель"),
    QStringLiteral("Кладовщик"),
    QStringLiteral("Маркетолог"),
    QStringLiteral("Аналитик"),
};
const QStringList kNets = {QStringLiteral("VK"), QStringLiteral("Telegram"), QStringLiteral("Linkedln"),
                           QStringLiteral("Facebook"), QStringLiteral("Instagram")};
const QStringList kNotes = {
    QStringLiteral("Предпочитает звонки после 10:00."),
    QStringLiteral("Знакомы с выставки «Иннопром».\r\nПросил прислать каталог."),
    QStringLiteral("Не любит, когда опаздывают."),
    QStringLiteral("Дети: сын и дочь. Любит футбол."),
};

QString digits(Rng &r, int n)
{
    QString s;
    for (int i = 0; i < n; ++i)
        s += QChar(u'0' + r.below(10));
    return s;
}

QString phone(Rng &r, bool mobile)
{
    if (mobile)
        return QStringLiteral("+7 9%1 %2-%3-%4").arg(digits(r, 2), digits(r, 3), digits(r, 2), digits(r, 2));
    return QStringLiteral("(%1) %2-%3-%4").arg(QStringLiteral("495"), digits(r, 3), digits(r, 2), digits(r, 2));
}

QString date(Rng &r, int fromYear, int years)
{
    const QDate d = QDate(fromYear, 1, 1).addDays(r.below(years * 365));
    return d.toString(QStringLiteral("dd.MM.yyyy"));
}

const QString kEmptyDate = QStringLiteral("  .  .    ");

} // namespace

const QStringList &organizations()
{
    return kOrgs;
}
const QStringList &departments()
{
    return kDeps;
}
const QStringList &posts()
{
    return kPosts;
}

namespace {

Card generated(quint64 i)
{
    Rng r(i + 1);
    Card c;
    const int s = r.below(int(kSurnames.size()));
    const bool female = r.chance(45);
    c.fam = kSurnames[s] + (female ? QStringLiteral("а") : QString());
    c.name1 = female ? kFemaleNames[r.below(int(kFemaleNames.size()))] : kMaleNames[r.below(int(kMaleNames.size()))];
    c.name2 = female ? kPatronymicFemale[r.below(int(kPatronymicFemale.size()))]
                     : kPatronymicMale[r.below(int(kPatronymicMale.size()))];
    c.work = kOrgs[r.below(int(kOrgs.size()))];
    c.dep = r.chance(80) ? kDeps[r.below(int(kDeps.size()))] : QString();
    c.post = kPosts[r.below(int(kPosts.size()))];
    c.bdate = r.chance(90) ? date(r, 1955, 48) : kEmptyDate;
    c.wtel = phone(r, false);
    c.htel = r.chance(30) ? phone(r, false) : QString();
    c.wmob = r.chance(70) ? phone(r, true) : QString();
    c.hmob = r.chance(60) ? phone(r, true) : QString();
    const QString latin = kSurnamesLatin[s] + (female ? QStringLiteral("a") : QString());
    c.wmail = QStringLiteral("%1.%2@%3.ru").arg(latin).arg(i % 1000).arg(QStringLiteral("corp%1").arg(r.below(50)));
    c.hmail = r.chance(40) ? QStringLiteral("%1%2@mail.ru").arg(latin).arg(r.below(100)) : QString();
    c.wskype = r.chance(20) ? QStringLiteral("%1.work").arg(latin) : QString();
    c.hskype = r.chance(10) ? latin : QString();
    const bool passport = r.chance(50);
    c.ps = passport ? digits(r, 2) + QLatin1Char(' ') + digits(r, 2) : QString();
    c.pnum = passport ? digits(r, 6) : QString();
    c.pdate1 = passport ? date(r, 2005, 15) : kEmptyDate;
    c.pdate2 = kEmptyDate;
    const bool visa = r.chance(15);
    c.vs = visa ? QStringLiteral("D") : QString();
    c.vnum = visa ? digits(r, 8) : QString();
    c.vdate1 = visa ? date(r, 2022, 2) : kEmptyDate;
    c.vdate2 = visa ? date(r, 2025, 3) : kEmptyDate;
    for (QString &f : c.flags)
        f = r.chance(25) ? QStringLiteral("1") : QStringLiteral("0");
    c.other = r.chance(10) ? kNotes[r.below(int(kNotes.size()))] : QString();
    c.rem = r.chance(5) ? kNotes[r.below(int(kNotes.size()))] : QString();
    c.hasAccounts = r.chance(20);
    if (c.hasAccounts) {
        for (int k = 0; k < 4; ++k) {
            if (k == 0 || r.chance(30)) {
                c.sn[k] = kNets[r.below(int(kNets.size()))];
                c.adr[k] = QStringLiteral("https://example.org/%1%2").arg(latin).arg(r.below(1000));
            } else {
                c.sn[k] = QStringLiteral("%1 ...").arg(k + 1);
            }
        }
    }
    return c;
}

} // namespace

bool isPlantedDuplicate(quint64 i)
{
    return i % 25 == 12;
}

Card card(quint64 i)
{
    if (!isPlantedDuplicate(i))
        return generated(i);
    const Card was = generated(i - 1);
    Card c = generated(i);
    const auto typed = [](const QString &name) { return name.toUpper().replace(QChar(0x0401), QChar(0x0415)); };
    c.fam = typed(was.fam);
    c.name1 = typed(was.name1);
    c.name2.clear();
    c.wmob.clear();
    c.hmob = was.wmob.isEmpty() ? was.hmob : was.wmob;
    if (c.hmob.isEmpty())
        c.wmail = was.wmail;
    return c;
}

qint64 addAdmin(db::IBDatabase &d, db::IBTransaction &t, const QString &password)
{
    db::IBQuery q(&d, &t);
    q.setSql(QStringLiteral("INSERT INTO pers (fio, login, pass, level) VALUES (:fio, :login, :pass, :level) "
                            "RETURNING pk_id"));
    q.setParam(QStringLiteral("fio"), QStringLiteral("Администратор"));
    q.setParam(QStringLiteral("login"), QStringLiteral("admin"));
    q.setParam(QStringLiteral("pass"), password);
    q.setParam(QStringLiteral("level"), QStringLiteral("full"));
    q.execute();
    const qint64 id = q.asInt(QStringLiteral("pk_id"));
    t.commit();
    return id;
}

void addReferences(db::IBDatabase &d, db::IBTransaction &t)
{
    db::IBQuery q(&d, &t);
    const struct
    {
        const char *table, *col;
        const QStringList &values;
    } lists[] = {{"organization", "org", kOrgs}, {"department", "dep", kDeps}, {"post", "post", kPosts}};
    for (const auto &l : lists) {
        q.setSql(QStringLiteral("INSERT INTO %1 (%2) VALUES (:v)").arg(QLatin1String(l.table), QLatin1String(l.col)));
        for (const QString &v : l.values) {
            q.setParam(QStringLiteral("v"), v);
            q.execute();
        }
    }
    t.commit();
}

void addCards(db::IBDatabase &d, db::IBTransaction &t, quint64 count, qint64 userId,
              const std::function<void(quint64)> &progress)
{
    db::IBQuery ins(&d, &t);
    ins.setSql(sql::insertCard());
    db::IBQuery acc(&d, &t);
    acc.setSql(QStringLiteral("INSERT INTO accounts (bs_fk, sn1, sn2, sn3, sn4, adr1, adr2, adr3, adr4) "
                              "VALUES (:bs_fk, :sn1, :sn2, :sn3, :sn4, :adr1, :adr2, :adr3, :adr4)"));
    static const char *flagCols[10] = {"smok", "alc", "fish", "hunt", "paint", "art", "mus", "trav", "cook", "sport"};
    const QString stampBase = QStringLiteral("%1_%2_").arg(userId).arg(QStringLiteral("07122026"));
    for (quint64 i = 0; i < count; ++i) {
        const Card c = card(i);
        const auto p = [&](const char *name, const QString &v) { ins.setParam(QLatin1String(name), v); };
        p("fam", c.fam);
        p("name1", c.name1);
        p("name2", c.name2);
        p("work", c.work);
        p("dep", c.dep);
        p("post", c.post);
        p("bdate", c.bdate);
        p("wtel", c.wtel);
        p("htel", c.htel);
        p("wmob", c.wmob);
        p("hmob", c.hmob);
        p("wmail", c.wmail);
        p("hmail", c.hmail);
        p("wskype", c.wskype);
        p("hskype", c.hskype);
        p("ps", c.ps);
        p("pnum", c.pnum);
        p("pdate1", c.pdate1);
        p("pdate2", c.pdate2);
        p("vs", c.vs);
        p("vnum", c.vnum);
        p("vdate1", c.vdate1);
        p("vdate2", c.vdate2);
        for (int k = 0; k < 10; ++k)
            p(flagCols[k], c.flags[k]);
        p("other", c.other);
        p("rem", c.rem);
        const quint64 sec = (i * 7) % 86400;
        p("sysinfo", stampBase + QStringLiteral("%1%2%3")
                                     .arg(sec / 3600, 2, 10, QLatin1Char('0'))
                                     .arg(sec / 60 % 60, 2, 10, QLatin1Char('0'))
                                     .arg(sec % 60, 2, 10, QLatin1Char('0')));
        ins.setParam(QStringLiteral("fdt"), userId);
        ins.setParam(QStringLiteral("ldt"), userId);
        p("fpath", QString());
        ins.execute();
        if (c.hasAccounts) {
            acc.setParam(QStringLiteral("bs_fk"), ins.asInt(QStringLiteral("pk_id")));
            for (int k = 0; k < 4; ++k) {
                acc.setParam(QStringLiteral("sn%1").arg(k + 1), c.sn[k]);
                acc.setParam(QStringLiteral("adr%1").arg(k + 1), c.adr[k]);
            }
            acc.execute();
        }
        if ((i + 1) % 20000 == 0) {
            t.commit();
            if (progress)
                progress(i + 1);
        }
    }
    t.commit();
    if (progress)
        progress(count);
}

} // namespace demo
