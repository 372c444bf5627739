// The main window's import and export of card files: the menu items, the
// question before anything is stored, the report, and the choice between
// the list's cards and the selected one.

#include "app/messages.h"
#include "app/filedialog.h"
#include "core/listmodel.h"
#include "core/refvalues.h"
#include "db/cp1251.h"
#include "register/mainwindow.h"
#include "uitest.h"

#include <QAction>
#include <QFile>
#include <QProgressDialog>
#include <QPushButton>
#include <QStringEncoder>
#include <QtTest>

using namespace Qt::StringLiterals;
using uitest::find;
using uitest::Program;

namespace {

const QString kFile = QStringLiteral(ZENTRAX_TEST_DATA "/cards/v30_address_book.vcf");

struct Fixture
{
    explicit Fixture(const QString &level = QStringLiteral("full"))
    {
        // The file's first card is stored already (same name and e-mail).
        p.addCard({{u"fam"_s, u"Кузнецов"_s},
                   {u"name1"_s, u"Дмитрий"_s},
                   {u"name2"_s, u"Олегович"_s},
                   {u"wmail"_s, u"dima@mail.ru"_s},
                   {u"work"_s, u"Р"_s},
                   {u"post"_s, u"П"_s},
                   {u"wtel"_s, u"1"_s},
                   {u"dep"_s, u""_s}});
        p.addCard({{u"fam"_s, u"Абрамов"_s},
                   {u"name1"_s, u"Ян"_s},
                   {u"name2"_s, u""_s},
                   {u"wmail"_s, u"a@b.ru"_s},
                   {u"work"_s, u"Р"_s},
                   {u"post"_s, u"П"_s},
                   {u"wtel"_s, u"2"_s},
                   {u"dep"_s, u""_s}});
        p.createWindows();
        p.loginDirect(QStringLiteral("tester"), level);
        mf = p.mf;
        mf->FillList();
        msg::takeShown();
    }
    void trigger(const char *action) { find<QAction>(mf, QLatin1String(action))->trigger(); }
    Program p;
    TMF *mf = nullptr;
};

} // namespace

class TestCardFiles : public QObject
{
    Q_OBJECT

private slots:
    // The user is asked, with the file's figures, before anything is
    // stored; the answer decides the cards that look stored already.
    void importAsksFirst_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("cards");
        QTest::newRow("skip the stored one") << 0 << 3;
        QTest::newRow("add it as well") << 1 << 4;
        QTest::newRow("cancel") << 2 << 2;
    }
    void importAsksFirst()
    {
        QFETCH(int, answer);
        QFETCH(int, cards);
        Fixture f;
        filedlg::script({kFile});
        msg::scriptChoices({answer});
        f.trigger("N21");
        const QList<msg::Shown> shown = msg::takeShown();
        QVERIFY(!shown.isEmpty());
        QCOMPARE(shown[0].buttons, msg::Buttons::Choice);
        QVERIFY2(shown[0].text.contains(QStringLiteral("карточек — 2")), qPrintable(shown[0].text));
        QVERIFY(shown[0].text.contains(QStringLiteral("дата рождения): 1.")));
        QCOMPARE(shown[0].choices, (QStringList{QStringLiteral("Пропустить похожие"), QStringLiteral("Добавить все"),
                                                QStringLiteral("Отмена")}));
        QCOMPARE(f.mf->model()->cardCount(), cards);
        if (answer == 2) {
            QCOMPARE(shown.size(), 1);
            return;
        }
        QCOMPARE(shown.size(), 2);
        QVERIFY2(shown[1].text.contains(QStringLiteral("Сохранено: %1.").arg(cards - 2)), qPrintable(shown[1].text));
        // The added card's work place went into its book; a skipped card's did not.
        QCOMPARE(core::RefValues(f.mf->db.access).contains(sql::Ref::Organization, QStringLiteral("АО «Техносфера»")),
                 answer == 1);
    }

    // A file not in UTF-8 is named with the encoding taken and its first
    // card before anything is stored, so that a wrong guess is seen in time.
    void importNamesEncoding_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("told");
        const QString csv = u"Фамилия;Имя\r\nСмирнов;Олег\r\nОрлова;Ольга\r\n"_s;
        QByteArray cp1251;
        QVERIFY(cp1251::encode(csv, cp1251));
        QStringEncoder utf16(QStringEncoder::Utf16LE, QStringEncoder::Flag::WriteBom);
        const QString first = u" Первая карточка: «Смирнов Олег»."_s;
        QTest::newRow("Windows-1251") << cp1251 << u"Файл прочитан в кодировке Windows-1251."_s + first;
        QTest::newRow("UTF-16") << QByteArray(utf16.encode(csv)) << u"Файл прочитан в кодировке UTF-16."_s + first;
        QTest::newRow("UTF-8") << csv.toUtf8() << QString();
        QByteArray vcard;
        QVERIFY(cp1251::encode(u"BEGIN:VCARD\r\nVERSION:2.1\r\nN:Смирнов;Олег\r\nEND:VCARD\r\n"_s, vcard));
        QTest::newRow("vCard in Windows-1251") << vcard << u"Файл прочитан в кодировке Windows-1251."_s + first;
    }
    void importNamesEncoding()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, told);
        Fixture f;
        const QString path = f.p.root.filePath(QStringLiteral("cards.txt"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        file.close();
        filedlg::script({path});
        msg::scriptChoices({1}); // cancel
        f.trigger("N21");
        const QList<msg::Shown> shown = msg::takeShown();
        QCOMPARE(shown.size(), 1);
        // The question as it was, the encoding said after the figures.
        QVERIFY2(shown[0].text.startsWith(u"Файл «cards.txt»"_s), qPrintable(shown[0].text));
        QVERIFY2(shown[0].text.endsWith(u"Сохранить карточки в базе данных?"_s), qPrintable(shown[0].text));
        if (told.isEmpty())
            QVERIFY2(!shown[0].text.contains(u"кодировке"_s), qPrintable(shown[0].text));
        else
            QVERIFY2(shown[0].text.contains(told), qPrintable(shown[0].text));
        QCOMPARE(f.mf->model()->cardCount(), 2);
    }

    // A file is read with the progress window up from the start: its Cancel
    // stops the reading, and nothing is asked or stored.
    void importReadingCancelled()
    {
        Fixture f;
        const QString path = f.p.root.filePath(QStringLiteral("many.vcf"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        // Long enough to be read for a good while after the window shows.
        for (int i = 0; i < 200000; ++i)
            file.write("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Карточка" + QByteArray::number(i) +
                       ";Имя\r\nEMAIL:a@b.ru\r\nEND:VCARD\r\n");
        file.close();
        filedlg::script({path});
        QString label;
        const QStringList modal =
            uitest::whileModal([&] { f.trigger("N21"); },
                               [&](QWidget *w) {
                                   auto *progress = qobject_cast<QProgressDialog *>(w);
                                   QVERIFY(progress);
                                   label = progress->labelText();
                                   find<QPushButton>(progress, QStringLiteral("CardsProgressCancel"))->click();
                               });
        QCOMPARE(modal, QStringList{QStringLiteral("QProgressDialog")});
        QCOMPARE(label, QStringLiteral("Чтение файла..."));
        QCOMPARE(msg::takeShown().size(), 0);
        QCOMPARE(f.mf->model()->cardCount(), 2);
    }

    // Importing is for users with full rights, as a new card is.
    void readOnlyUserCannotImport()
    {
        Fixture f(QStringLiteral("read"));
        filedlg::script({kFile});
        f.trigger("N21");
        QCOMPARE(msg::takeShown().value(0).text, QStringLiteral("Недостаточно прав"));
        QCOMPARE(filedlg::asked(), 0);
        QCOMPARE(f.mf->model()->cardCount(), 2);
    }

    // The export asks for the list's cards or the selected one, and writes
    // the type chosen in the save dialog.
    void exportListOrSelected_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("begins");
        QTest::addColumn<int>("cards");
        QTest::newRow("the list as vCard 3.0") << 0 << int(core::CardFormat::VCard3) << "BEGIN:VCARD" << 2;
        QTest::newRow("the selected one as CSV") << 1 << int(core::CardFormat::Csv) << "\xEF\xBB\xBF" << 1;
    }
    void exportListOrSelected()
    {
        QFETCH(int, answer);
        QFETCH(int, type);
        QFETCH(QString, begins);
        QFETCH(int, cards);
        Fixture f;
        f.mf->selectRow(1); // Кузнецов, after Абрамов
        const QString path = f.p.root.filePath(QStringLiteral("out"));
        msg::scriptChoices({answer});
        filedlg::scriptSave(path, core::CardFormat(type));
        f.trigger("N22");
        const QList<msg::Shown> shown = msg::takeShown();
        QCOMPARE(shown.size(), 2);
        QVERIFY(shown[0].text.contains(QStringLiteral("(«Кузнецов Дмитрий Олегович»)")));
        QVERIFY2(shown[1].text.startsWith(QStringLiteral("Выгружено карточек: %1.").arg(cards)),
                 qPrintable(shown[1].text));
        QFile out(path);
        QVERIFY(out.open(QIODevice::ReadOnly));
        const QByteArray bytes = out.readAll();
        QVERIFY(bytes.startsWith(begins.toUtf8()));
        QCOMPARE(bytes.count("Кузнецов"), 2 - answer); // the N and FN lines of a vCard, one CSV cell
        QCOMPARE(bytes.contains("Абрамов"), answer == 0);
        if (type == int(core::CardFormat::VCard3))
            QCOMPARE(bytes.count("VERSION:3.0"), cards);
    }
};

QTEST_MAIN(TestCardFiles)
#include "tst_cardfiles.moc"
