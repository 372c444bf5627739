#include "cellmap.h"

namespace core {

QString accountPlaceholder(int k)
{
    return QStringLiteral("%1 ...").arg(k + 1);
}

QString habitsLine(const CardRecord &card)
{
    struct Habit
    {
        const char *column;
        QString word;
    };
    static const Habit habits[] = {
        {"smok", QStringLiteral("курение, ")},  {"alc", QStringLiteral("алкоголь, ")},
        {"fish", QStringLiteral("рыбалка, ")},  {"hunt", QStringLiteral("охота, ")},
        {"art", QStringLiteral("искусство, ")}, {"mus", QStringLiteral("музыка, ")},
        {"trav", QStringLiteral("туризм, ")},   {"cook", QStringLiteral("кулинария, ")},
        {"sport", QStringLiteral("спорт, ")},   {"paint", QStringLiteral("живопись, ")},
    };
    QString line;
    for (const Habit &h : habits)
        if (card.value(QLatin1String(h.column)) == QLatin1String("1"))
            line += h.word;
    line += card.value(QStringLiteral("other"));

    qsizetype end = line.size();
    while (end > 0 && line.at(end - 1) == QLatin1Char(' '))
        --end;
    line.truncate(end);
    if (line.endsWith(QLatin1Char(',')))
        line.chop(1);
    return line;
}

QList<CellText> accountCells(const Accounts &accounts)
{
    QList<CellText> cells;
    int row = 18;
    for (int k = 0; k < 4; ++k) {
        const QString &name = accounts.network[k];
        if (name.isEmpty())
            continue;
        if (name != accountPlaceholder(k))
            cells.append({QStringLiteral("A%1").arg(row), name});
        cells.append({QStringLiteral("C%1").arg(row), accounts.address[k]});
        ++row;
    }
    return cells;
}

QList<CellText> cardCells(const CardRecord &card, const std::optional<Accounts> &accounts)
{
    auto v = [&card](const char *column) { return card.value(QLatin1String(column)); };
    const QString sp = QStringLiteral(" ");
    const QString from = QStringLiteral("с ");
    const QString to = QStringLiteral(" по ");
    QList<CellText> cells = {
        {QStringLiteral("D1"), v("fam") + sp + v("name1") + sp + v("name2")},
        {QStringLiteral("D2"), v("work") + QStringLiteral(", ") + v("dep")},
        {QStringLiteral("D3"), v("post")},
        {QStringLiteral("D4"), v("bdate")},
        {QStringLiteral("D5"), v("wtel")},
        {QStringLiteral("G5"), v("htel")},
        {QStringLiteral("D6"), v("wmob")},
        {QStringLiteral("G6"), v("hmob")},
        {QStringLiteral("D7"), v("wmail")},
        {QStringLiteral("G7"), v("hmail")},
        {QStringLiteral("D8"), v("wskype")},
        {QStringLiteral("G8"), v("hskype")},
        {QStringLiteral("D9"), v("ps") + QStringLiteral("-") + v("pnum")},
        {QStringLiteral("H9"), from + v("pdate1") + to + v("pdate2")},
        {QStringLiteral("D10"), v("vs") + QStringLiteral("-") + v("vnum")},
        {QStringLiteral("H10"), from + v("vdate1") + to + v("vdate2")},
    };
    const QString habits = habitsLine(card);
    if (!habits.isEmpty())
        cells.append({QStringLiteral("A13"), habits});
    if (accounts)
        cells += accountCells(*accounts);
    cells.append({QStringLiteral("A24"), v("rem")});
    return cells;
}

} // namespace core
