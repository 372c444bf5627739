// The printed form's texts: the habits line, the accounts rows and the whole
// cell map, worked out from a stored card.

#include "core/cellmap.h"

#include <QtTest>

using core::Accounts;
using core::CardRecord;
using core::CellText;

namespace {

CardRecord cardWith(const QStringList &setFlags, const QString &other)
{
    CardRecord c;
    for (const QString &f : setFlags)
        c.values.insert(f, QStringLiteral("1"));
    c.values.insert(QStringLiteral("other"), other);
    return c;
}

QStringList listed(const QList<CellText> &cells)
{
    QStringList out;
    for (const CellText &c : cells)
        out << c.cell + QLatin1Char('=') + c.text;
    return out;
}

const QStringList kAllFlags = {"paint", "sport", "cook", "trav", "mus", "art", "hunt", "fish", "alc", "smok"};

} // namespace

class TestCellMap : public QObject
{
    Q_OBJECT

private slots:
    void habitsLine_data()
    {
        QTest::addColumn<QStringList>("flags");
        QTest::addColumn<QString>("other");
        QTest::addColumn<QString>("line");
        QTest::newRow("all ten, in the fixed order whatever the columns' order")
            << kAllFlags << ""
            << "курение, алкоголь, рыбалка, охота, искусство, музыка, туризм, кулинария, спорт, живопись";
        QTest::newRow("two flags") << QStringList{"fish", "smok"} << "" << "курение, рыбалка";
        QTest::newRow("flag, then other") << QStringList{"cook"} << "шахматы" << "кулинария, шахматы";
        QTest::newRow("nothing") << QStringList{} << "" << "";
        QTest::newRow("two trailing blanks") << QStringList{} << "шахматы  " << "шахматы";
        QTest::newRow("trailing comma") << QStringList{} << "шахматы," << "шахматы";
        QTest::newRow("comma and blank") << QStringList{} << "шахматы, " << "шахматы";
        QTest::newRow("two commas lose one") << QStringList{} << "шахматы,," << "шахматы,";
        QTest::newRow("blanks only") << QStringList{} << "   " << "";
        QTest::newRow("a comma only") << QStringList{} << "," << "";
        QTest::newRow("blanks before the comma stay") << QStringList{} << "а , " << "а ";
        QTest::newRow("a tab stays") << QStringList{} << "а\t" << "а\t";
        QTest::newRow("a line break stays") << QStringList{"art"} << "а,\r\n" << "искусство, а,\r\n";
        QTest::newRow("a no-break space stays") << QStringList{} << QString::fromUtf8("а\u00A0") << QString::fromUtf8("а\u00A0");
        QTest::newRow("other unchanged inside") << QStringList{"smok"} << "  а,  б  " << "курение,   а,  б";
    }

    void habitsLine()
    {
        QFETCH(QStringList, flags);
        QFETCH(QString, other);
        QFETCH(QString, line);
        QCOMPARE(core::habitsLine(cardWith(flags, other)), line);
    }

    // Only the exact text "1" sets a flag.
    void flagsOtherThanOne()
    {
        CardRecord c;
        for (const QString &f : kAllFlags)
            c.values.insert(f, QStringLiteral("0"));
        c.values.insert(QStringLiteral("smok"), QStringLiteral(" 1"));
        c.values.insert(QStringLiteral("alc"), QStringLiteral("1 "));
        c.values.insert(QStringLiteral("fish"), QStringLiteral("true"));
        c.values.insert(QStringLiteral("hunt"), QStringLiteral("11"));
        QCOMPARE(core::habitsLine(c), QString());
        c.values.insert(QStringLiteral("hunt"), QStringLiteral("1"));
        QCOMPARE(core::habitsLine(c), QStringLiteral("охота"));
    }

    void accountRows_data()
    {
        QTest::addColumn<QStringList>("networks");
        QTest::addColumn<QStringList>("addresses");
        QTest::addColumn<QStringList>("cells");
        const QStringList addr{"a1", "a2", "a3", "a4"};
        QTest::newRow("first and third, no gap")
            << QStringList{"VK", "", "QQ", ""} << addr << QStringList{"A18=VK", "C18=a1", "A19=QQ", "C19=a3"};
        QTest::newRow("all four") << QStringList{"VK", "QQ", "Weibo", "свой сайт"} << addr
                                  << QStringList{"A18=VK", "C18=a1", "A19=QQ", "C19=a2", "A20=Weibo", "C20=a3",
                                                 "A21=свой сайт", "C21=a4"};
        QTest::newRow("placeholder writes only the address")
            << QStringList{"", "2 ...", "", ""} << addr << QStringList{"C18=a2"};
        QTest::newRow("another account's placeholder is a name")
            << QStringList{"2 ...", "", "", "4 ..."} << addr << QStringList{"A18=2 ...", "C18=a1", "C19=a4"};
        QTest::newRow("an address without a network is left out")
            << QStringList{"", "", "", ""} << addr << QStringList{};
        QTest::newRow("a network without an address")
            << QStringList{"", "", "", "VK"} << QStringList{"", "", "", ""} << QStringList{"A18=VK", "C18="};
    }

    void accountRows()
    {
        QFETCH(QStringList, networks);
        QFETCH(QStringList, addresses);
        QFETCH(QStringList, cells);
        Accounts a;
        for (int k = 0; k < 4; ++k) {
            a.network[k] = networks.at(k);
            a.address[k] = addresses.at(k);
        }
        QCOMPARE(listed(core::accountCells(a)), cells);
    }

    void wholeMap()
    {
        CardRecord c;
        const QList<QPair<const char *, const char *>> values = {
            {"fam", "Петров"}, {"name1", "Пётр"}, {"name2", "Петрович"}, {"work", "АО Вектор"}, {"dep", "Склад"},
            {"post", "Кладовщик"}, {"bdate", "01.02.1970"}, {"wtel", "1"}, {"htel", "2"}, {"wmob", "3"},
            {"hmob", "4"}, {"wmail", "w@x"}, {"hmail", "h@x"}, {"wskype", "ws"}, {"hskype", "hs"}, {"ps", "45 10"},
            {"pnum", "123456"}, {"pdate1", "01.01.2000"}, {"pdate2", "01.01.2020"}, {"vs", "V"}, {"vnum", "9"},
            {"vdate1", "02.02.2002"}, {"vdate2", "03.03.2003"}, {"mus", "1"}, {"rem", "строка\r\nещё"}};
        for (const auto &[k, v] : values)
            c.values.insert(QString::fromUtf8(k), QString::fromUtf8(v));
        Accounts a;
        a.network[1] = QStringLiteral("VK");
        a.address[1] = QStringLiteral("vk.com/p");
        QCOMPARE(listed(core::cardCells(c, a)),
                 (QStringList{"D1=Петров Пётр Петрович", "D2=АО Вектор, Склад", "D3=Кладовщик", "D4=01.02.1970",
                              "D5=1", "G5=2", "D6=3", "G6=4", "D7=w@x", "G7=h@x", "D8=ws", "G8=hs",
                              "D9=45 10-123456", "H9=с 01.01.2000 по 01.01.2020", "D10=V-9",
                              "H10=с 02.02.2002 по 03.03.2003", "A13=музыка", "A18=VK", "C18=vk.com/p",
                              "A24=строка\r\nещё"}));

        // An empty card: the separators stay, the habits line and the accounts are left out.
        CardRecord empty;
        const QString noDate = QStringLiteral("  .  .    ");
        for (const char *d : {"bdate", "pdate1", "pdate2", "vdate1", "vdate2"})
            empty.values.insert(QLatin1String(d), noDate);
        QCOMPARE(listed(core::cardCells(empty, std::nullopt)),
                 (QStringList{"D1=  ", "D2=, ", "D3=", "D4=" + noDate, "D5=", "G5=", "D6=", "G6=", "D7=", "G7=",
                              "D8=", "G8=", "D9=-", "H9=с " + noDate + " по " + noDate, "D10=-",
                              "H10=с " + noDate + " по " + noDate, "A24="}));
    }
};

QTEST_APPLESS_MAIN(TestCellMap)
#include "tst_cellmap.moc"
