// The habits line of the printed form: the rules beyond the common cases,
// which tst_printout reads back from the produced workbook.

#include "core/cellmap.h"

#include <QtTest>

using namespace Qt::StringLiterals;

class TestCellMap : public QObject
{
    Q_OBJECT

private slots:
    void habitsLine_data()
    {
        QTest::addColumn<QStringList>("flags"); // column=value
        QTest::addColumn<QString>("other");
        QTest::addColumn<QString>("line");
        QTest::newRow("order fixed, not the columns'") << QStringList{u"paint=1"_s, u"smok=1"_s, u"cook=1"_s} << ""
                                                       << "курение, кулинария, живопись";
        QTest::newRow("only the text 1 sets a flag")
            << QStringList{u"smok= 1"_s, u"alc=1 "_s, u"fish=true"_s, u"hunt=11"_s, u"art=0"_s, u"mus=1"_s} << ""
            << "музыка";
        QTest::newRow("blanks before the comma stay") << QStringList{} << "а , "
                                                      << "а ";
        QTest::newRow("a tab stays") << QStringList{} << "а\t"
                                     << "а\t";
        QTest::newRow("a line break stays") << QStringList{u"art=1"_s} << "а,\r\n"
                                            << "искусство, а,\r\n";
        QTest::newRow("a no-break space stays")
            << QStringList{} << QString::fromUtf8("а\u00A0") << QString::fromUtf8("а\u00A0");
        QTest::newRow("a comma only") << QStringList{} << ","
                                      << "";
        QTest::newRow("other unchanged inside") << QStringList{u"smok=1"_s} << "  а,  б  "
                                                << "курение,   а,  б";
    }

    void habitsLine()
    {
        QFETCH(QStringList, flags);
        QFETCH(QString, other);
        QFETCH(QString, line);
        core::CardRecord c;
        for (const QString &f : flags)
            c.values.insert(f.section(QLatin1Char('='), 0, 0), f.section(QLatin1Char('='), 1));
        c.values.insert(QStringLiteral("other"), other);
        QCOMPARE(core::habitsLine(c), line);
    }
};

QTEST_APPLESS_MAIN(TestCellMap)
#include "tst_cellmap.moc"
