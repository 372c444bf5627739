#include "cardfields.h"

namespace core {

namespace {

const QString kEmptyDate = QStringLiteral("  .  .    ");
const QString kPhotoNameLabel = QStringLiteral("Файл фотографии");

} // namespace

const QStringList &flagColumns()
{
    static const QStringList c = {QStringLiteral("smok"), QStringLiteral("alc"),   QStringLiteral("fish"),
                                  QStringLiteral("hunt"), QStringLiteral("paint"), QStringLiteral("art"),
                                  QStringLiteral("mus"),  QStringLiteral("trav"),  QStringLiteral("cook"),
                                  QStringLiteral("sport")};
    return c;
}

bool isDateColumn(const QString &c)
{
    return c == QLatin1String("bdate") || c == QLatin1String("pdate1") || c == QLatin1String("pdate2") ||
           c == QLatin1String("vdate1") || c == QLatin1String("vdate2");
}

QString accountLabel(bool network, int k)
{
    return (network ? QStringLiteral("Сеть %1") : QStringLiteral("Адрес %1")).arg(k + 1);
}

const QString &photoNameLabel()
{
    return kPhotoNameLabel;
}

const QString &emptyDate()
{
    return kEmptyDate;
}

const QList<CardField> &cardFields()
{
    static const QList<CardField> fields = {
        {QStringLiteral("fam"), QStringLiteral("Фамилия")},
        {QStringLiteral("name1"), QStringLiteral("Имя")},
        {QStringLiteral("name2"), QStringLiteral("Отчество")},
        {QStringLiteral("work"), QStringLiteral("Место работы")},
        {QStringLiteral("dep"), QStringLiteral("Отдел")},
        {QStringLiteral("post"), QStringLiteral("Должность")},
        {QStringLiteral("bdate"), QStringLiteral("Дата рождения")},
        {QStringLiteral("wtel"), QStringLiteral("Телефон (рабочий)")},
        {QStringLiteral("htel"), QStringLiteral("Телефон (личный)")},
        {QStringLiteral("wmob"), QStringLiteral("Мобильный (рабочий)")},
        {QStringLiteral("hmob"), QStringLiteral("Мобильный (личный)")},
        {QStringLiteral("wmail"), QStringLiteral("E-mail (рабочий)")},
        {QStringLiteral("hmail"), QStringLiteral("E-mail (личный)")},
        {QStringLiteral("wskype"), QStringLiteral("Skype (рабочий)")},
        {QStringLiteral("hskype"), QStringLiteral("Skype (личный)")},
        {QStringLiteral("ps"), QStringLiteral("Паспорт: серия")},
        {QStringLiteral("pnum"), QStringLiteral("Паспорт: номер")},
        {QStringLiteral("pdate1"), QStringLiteral("Паспорт: дата выдачи")},
        {QStringLiteral("pdate2"), QStringLiteral("Паспорт: действителен до")},
        {QStringLiteral("vs"), QStringLiteral("Виза: серия")},
        {QStringLiteral("vnum"), QStringLiteral("Виза: номер")},
        {QStringLiteral("vdate1"), QStringLiteral("Виза: дата выдачи")},
        {QStringLiteral("vdate2"), QStringLiteral("Виза: действительна до")},
        {QStringLiteral("smok"), QStringLiteral("Курение")},
        {QStringLiteral("alc"), QStringLiteral("Алкоголь")},
        {QStringLiteral("fish"), QStringLiteral("Рыбалка")},
        {QStringLiteral("hunt"), QStringLiteral("Охота")},
        {QStringLiteral("paint"), QStringLiteral("Живопись")},
        {QStringLiteral("art"), QStringLiteral("Искусство")},
        {QStringLiteral("mus"), QStringLiteral("Музыка")},
        {QStringLiteral("trav"), QStringLiteral("Туризм")},
        {QStringLiteral("cook"), QStringLiteral("Кулинария")},
        {QStringLiteral("sport"), QStringLiteral("Спорт")},
        {QStringLiteral("other"), QStringLiteral("Прочее")},
        {QStringLiteral("rem"), QStringLiteral("Примечания")},
    };
    return fields;
}

QString fieldLabel(const QString &column)
{
    for (const CardField &f : cardFields())
        if (f.column == column)
            return f.label;
    for (int k = 0; k < 4; ++k) {
        if (column == QStringLiteral("sn%1").arg(k + 1))
            return accountLabel(true, k);
        if (column == QStringLiteral("adr%1").arg(k + 1))
            return accountLabel(false, k);
    }
    if (column == QLatin1String("fpath"))
        return kPhotoNameLabel;
    return column;
}

CardRecord emptyCard()
{
    CardRecord r;
    for (const QString &c : cardColumns())
        r.values.insert(c, isDateColumn(c) ? kEmptyDate : flagColumns().contains(c) ? QStringLiteral("0") : QString());
    return r;
}

} // namespace core
