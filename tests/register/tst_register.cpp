// The main window's list: search, sort, keys, birthdays and the commands on cards.

#include "program/windowset.h"
#include "app/loginwindow.h"
#include "app/messages.h"
#include "app/session.h"
#include "card/cardwindow.h"
#include "db/cp1251.h"
#include "core/listmodel.h"
#include "core/liststatement.h"
#include "core/refvalues.h"
#include "referencesql.h"
#include "register/mainwindow.h"
#include "uitest.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QToolButton>
#include <QAccessible>
#include <QStatusBar>
#include <QtTest>

using namespace Qt::StringLiterals;
using uitest::find;
using uitest::Program;
using Cols = QList<QPair<QString, QString>>;

namespace {

// A card that every empty filter lists: one non-NULL column in each group.
Cols card(const QString &fam, const QString &name1, const QString &post, const QString &work = QStringLiteral("Фирма"))
{
    return {{u"fam"_s, fam},   {u"name1"_s, name1}, {u"name2"_s, u""_s}, {u"post"_s, post},
            {u"work"_s, work}, {u"dep"_s, u""_s},   {u"wmail"_s, u""_s}, {u"wtel"_s, u""_s}};
}

QStringList names(TMF *mf)
{
    return uitest::listColumn(mf, 1);
}

// The main window's controls, found by their names.
struct MainControls
{
    explicit MainControls(const QObject *mf)
        : ed_name(find<QLineEdit>(mf, QStringLiteral("ed_name"))),
          ed_work(find<QLineEdit>(mf, QStringLiteral("ed_work"))),
          ed_mail(find<QLineEdit>(mf, QStringLiteral("ed_mail"))),
          ed_tel(find<QLineEdit>(mf, QStringLiteral("ed_tel"))),
          bx_post(find<QComboBox>(mf, QStringLiteral("bx_post"))),
          check_pos(find<QCheckBox>(mf, QStringLiteral("check_pos"))),
          MonthBox(find<QComboBox>(mf, QStringLiteral("MonthBox"))),
          lb_bdate(find<QLabel>(mf, QStringLiteral("lb_bdate"))), Grid(find<QTableView>(mf, QStringLiteral("Grid"))),
          N6(find<QAction>(mf, QStringLiteral("N6"))), N7(find<QAction>(mf, QStringLiteral("N7"))),
          N8(find<QAction>(mf, QStringLiteral("N8")))
    {
    }
    QLineEdit *ed_name, *ed_work, *ed_mail, *ed_tel;
    QComboBox *bx_post;
    QCheckBox *check_pos;
    QComboBox *MonthBox;
    QLabel *lb_bdate;
    QTableView *Grid;
    QAction *N6, *N7, *N8;
};

} // namespace

class TestRegister : public QObject
{
    Q_OBJECT

private slots:
    void searchAndSort()
    {
        Program p;
        p.addCard(card(u"Иванов"_s, u"Пётр"_s, u"Инженер"_s, u"Альфа"_s));
        p.addCard(card(u"иванова"_s, u"Анна"_s, u"бухгалтер"_s, u"Бета"_s));
        p.addCard(card(u"Петров"_s, u"Иван"_s, u"Водитель"_s, u"Гамма"_s));
        p.addCard(card(u"Сивцев"_s, u"Олег"_s, u"Аналитик"_s, u"Дельта"_s));
        p.addCard({{u"fam"_s, u"Безпоста"_s},
                   {u"work"_s, u"x"_s},
                   {u"wmail"_s, u"x"_s},
                   {u"wtel"_s, u"x"_s}}); // post NULL: never listed
        p.addCard({{u"fam"_s, u"Беззвонка"_s},
                   {u"post"_s, u"x"_s},
                   {u"work"_s, u"x"_s},
                   {u"wmail"_s, u"x"_s}}); // no phone at all
        p.addCard({{u"fam"_s, u"Телефонов"_s},
                   {u"post"_s, u"Кладовщик"_s},
                   {u"work"_s, u"x"_s},
                   {u"wmail"_s, u"m"_s},
                   {u"hmob"_s, u"+7 912 555-01-02"_s}});
        p.addCard({{u"fam"_s, u"Почтов"_s},
                   {u"post"_s, u"Курьер"_s},
                   {u"work"_s, u"x"_s},
                   {u"hmail"_s, u"Box@Mail.RU"_s},
                   {u"htel"_s, u"22-33"_s}});
        TMF *mf = p.createWindows();
        const MainControls ui(mf);
        p.loginDirect(QStringLiteral("user"));

        mf->FillList();
        QCOMPARE(names(mf), (QStringList{u"Иванов Пётр "_s, u"иванова Анна "_s, u"Петров Иван "_s, u"Почтов  "_s,
                                         u"Сивцев Олег "_s, u"Телефонов  "_s}));
        // Column contents: work and department, post, the hidden id.
        QCOMPARE(uitest::listColumn(mf, 2).first(), QStringLiteral("Альфа "));
        QCOMPARE(uitest::listColumn(mf, 3).first(), QStringLiteral("Инженер"));
        QVERIFY(ui.Grid->isColumnHidden(0));
        QCOMPARE(mf->model()->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral(" Имя "));

        // Lower-case Cyrillic, begins-with over surname, first name and patronymic.
        ui.ed_name->setText(QStringLiteral("ив"));
        QCOMPARE(names(mf), (QStringList{u"Иванов Пётр "_s, u"иванова Анна "_s, u"Петров Иван "_s}));
        // Contains: typed while the index is still read beside the window,
        // each keystroke shows the statement's rows at once; then the same
        // from the index.
        ui.check_pos->click();
        const QStringList containsIv{u"Иванов Пётр "_s, u"иванова Анна "_s, u"Петров Иван "_s, u"Сивцев Олег "_s};
        QCOMPARE(names(mf), containsIv);
        ui.ed_name->setText(QStringLiteral("ива"));
        QCOMPARE(names(mf), (QStringList{u"Иванов Пётр "_s, u"иванова Анна "_s, u"Петров Иван "_s}));
        ui.ed_name->setText(QStringLiteral("олег"));
        QCOMPARE(names(mf), QStringList{u"Сивцев Олег "_s});
        QTest::qWait(300); // the index is read by now and answers
        ui.ed_name->setText(QStringLiteral("ив"));
        QCOMPARE(names(mf), containsIv);
        ui.check_pos->click();

        // A phone is found in any of the four phone columns; e-mail in either.
        mf->BitBtn1Click();
        ui.ed_tel->setText(QStringLiteral("+7 912"));
        QCOMPARE(names(mf), QStringList{u"Телефонов  "_s});
        ui.ed_tel->setText(QStringLiteral("22-33"));
        QCOMPARE(names(mf), QStringList{u"Почтов  "_s});
        ui.ed_tel->clear();
        ui.ed_mail->setText(QStringLiteral("box@mail"));
        QCOMPARE(names(mf), QStringList{u"Почтов  "_s});
        ui.ed_mail->clear();
        ui.ed_work->setText(QStringLiteral("бет"));
        QCOMPARE(names(mf), QStringList{u"иванова Анна "_s});
        ui.ed_work->clear();
        ui.bx_post->setEditText(QStringLiteral("БУХ"));
        QCOMPARE(names(mf), QStringList{u"иванова Анна "_s});

        // Wildcards typed by the user stay wildcards.
        mf->BitBtn1Click();
        ui.ed_name->setText(QStringLiteral("_ванов"));
        QCOMPARE(names(mf), (QStringList{u"Иванов Пётр "_s, u"иванова Анна "_s}));
        ui.ed_name->setText(QStringLiteral("%олег"));
        QCOMPARE(names(mf), QStringList{u"Сивцев Олег "_s});

        // Nothing found: one empty row, no id, the commands do nothing.
        ui.ed_name->setText(QStringLiteral("Щщщ"));
        QCOMPARE(mf->model()->cardCount(), 0);
        QCOMPARE(mf->model()->rowCount(), 1);
        QCOMPARE(mf->selectedId(), QString());
        msg::takeShown();
        QCOMPARE(uitest::whileModal([&] {
                     mf->N15Click();
                     mf->N3Click();
                     mf->N17Click();
                 }),
                 QStringList());
        QVERIFY(msg::shown().isEmpty());

        // Sorting: by post, then back by name; one item checked at a time.
        mf->BitBtn1Click();
        ui.N8->trigger();
        QCOMPARE(uitest::listColumn(mf, 3).first(), QStringLiteral("Аналитик"));
        QVERIFY(ui.N8->isChecked() && !ui.N6->isChecked());
        ui.N7->trigger();
        QCOMPARE(uitest::listColumn(mf, 2).last(), QStringLiteral("Дельта ")); // Latin sorts before Cyrillic
        ui.N6->trigger();
        QVERIFY(ui.N6->isChecked() && !ui.N7->isChecked() && !ui.N8->isChecked());
        QCOMPARE(names(mf).first(), QStringLiteral("Иванов Пётр "));

        // Typed SQL is only text: no database error, no change to the data.
        const int before = mf->model()->cardCount();
        for (const QString &bad : {QStringLiteral("'"), QStringLiteral("\\"), QStringLiteral("'; delete from base; --"),
                                   QStringLiteral("\"")}) {
            for (QLineEdit *e : {ui.ed_name, ui.ed_work, ui.ed_mail, ui.ed_tel}) {
                e->setText(bad);
                QCOMPARE(mf->model()->cardCount(), 0);
                e->clear();
            }
            ui.bx_post->setEditText(bad);
            QCOMPARE(mf->model()->cardCount(), 0);
            ui.bx_post->setEditText(QString());
        }
        QVERIFY(msg::shown().isEmpty());
        QCOMPARE(mf->model()->cardCount(), before);

        // Text outside CP1251: a clear message and the list keeps what it showed.
        ui.ed_name->setText(QStringLiteral("Ив"));
        const QStringList shownBefore = names(mf);
        ui.ed_name->setText(QStringLiteral("Ив日"));
        QCOMPARE(names(mf), shownBefore);
        QCOMPARE(msg::shown().size(), 1);
        QVERIFY(msg::shown().first().text.contains(QStringLiteral("Windows-1251")));
    }

    // What a screen reader does to the list acts as a user's click would.
    void screenReaderActions()
    {
        Program p;
        p.addCard(card(u"Иванов"_s, u"Пётр"_s, u"Инженер"_s));
        const qint64 sivtsev = p.addCard(card(u"Сивцов"_s, u"Олег"_s, u"Аналитик"_s));
        p.addCard(card(u"Яковлев"_s, u"Ян"_s, u"Повар"_s));
        TMF *mf = p.createWindows();
        p.loginDirect(QStringLiteral("user"));
        mf->FillList();
        find<QLineEdit>(mf, QStringLiteral("ed_name"))->setText(QStringLiteral("ив"));
        QCOMPARE(names(mf), QStringList{u"Иванов Пётр "_s});
        // The search mode toggled through the box's accessible action refills the list.
        auto *pos = find<QCheckBox>(mf, QStringLiteral("check_pos"));
        QAccessible::queryAccessibleInterface(pos)->actionInterface()->doAction(
            QAccessibleActionInterface::toggleAction());
        QVERIFY(pos->isChecked());
        QCOMPARE(names(mf), (QStringList{u"Иванов Пётр "_s, u"Сивцов Олег "_s}));

        // A row selected through the table's accessible interface is the current card.
        mf->BitBtn1Click();
        auto *grid = find<QTableView>(mf, QStringLiteral("Grid"));
        mf->selectRow(2);
        QAccessibleInterface *table = QAccessible::queryAccessibleInterface(grid);
        QVERIFY(table && table->tableInterface());
        QVERIFY(table->tableInterface()->selectRow(1));
        QCOMPARE(mf->selectedId(), QString::number(sivtsev));
        QCOMPARE(mf->selectedRow(), 1);
    }

    // Seen on screenshots: clipped headers, overlapping status panels.
    void layoutAtDefaultAndNarrowSizes()
    {
        Program p;
        TMF *mf = p.createWindows();
        mf->show();
        QVERIFY(QTest::qWaitForWindowExposed(mf));
        auto *grid = find<QTableView>(mf, QStringLiteral("Grid"));
        const QFontMetrics fm = grid->horizontalHeader()->fontMetrics();
        for (int c = 1; c < ListModel::kColumns; ++c)
            QVERIFY2(grid->columnWidth(c) >= fm.horizontalAdvance(ListModel::header(c)),
                     qPrintable(ListModel::header(c)));
        // The window cannot be narrowed below its status bar's fixed panels.
        int panels = 0;
        for (int i = 0; i < 4; ++i)
            panels += find<QLabel>(mf, QStringLiteral("sBar%1").arg(i))->width();
        QVERIFY(panels >= 750);
        QVERIFY2(mf->minimumWidth() > panels, qPrintable(QString::number(mf->minimumWidth())));
        mf->resize(300, 500);
        QVERIFY(mf->width() > panels);
    }

    void databaseMadeByAnotherTool()
    {
        Program p;
        // Ids by generator and trigger, other lengths, CHAR columns, NULLs, no BLOB notes.
        testdb::freshDatabase(p.folder, QStringLiteral("unused.fdb"));
        QFile::remove(p.dbPath);
        db::IBDatabase::create(p.dbPath);
        p.exec(QStringLiteral(
            "CREATE TABLE Base (pk_id INTEGER NOT NULL PRIMARY KEY, fam VARCHAR(30) CHARACTER SET WIN1251, "
            "name1 CHAR(20) CHARACTER SET WIN1251, name2 VARCHAR(20) CHARACTER SET WIN1251, work VARCHAR(50) "
            "CHARACTER SET WIN1251, dep VARCHAR(10) CHARACTER SET WIN1251, post VARCHAR(15) CHARACTER SET WIN1251, "
            "bdate CHAR(10) CHARACTER SET WIN1251, wtel VARCHAR(12) CHARACTER SET WIN1251, htel VARCHAR(12) CHARACTER "
            "SET WIN1251, wmob VARCHAR(12) CHARACTER SET WIN1251, hmob VARCHAR(12) CHARACTER SET WIN1251, wmail "
            "VARCHAR(40) CHARACTER SET WIN1251, hmail VARCHAR(40) CHARACTER SET WIN1251, other VARCHAR(2000) "
            "CHARACTER SET WIN1251);\n"
            "CREATE GENERATOR gen_base;\n"
            "CREATE TRIGGER base_bi FOR Base ACTIVE BEFORE INSERT AS BEGIN IF (NEW.pk_id IS NULL) THEN "
            "NEW.pk_id = GEN_ID(gen_base, 1); END;\n"
            "CREATE TABLE pers (pk_id INTEGER NOT NULL, fio VARCHAR(40) CHARACTER SET WIN1251, login VARCHAR(10) "
            "CHARACTER SET WIN1251, pass VARCHAR(10) CHARACTER SET WIN1251, level VARCHAR(4) CHARACTER SET WIN1251);\n"
            "INSERT INTO pers VALUES (7, 'Старый', 'old', 'pw', 'full');\n"
            "INSERT INTO Base (fam, name1, post, work, dep, bdate, wtel, wmail) VALUES ('Ёжиков', 'Олег', "
            "'Сторож', 'Склад', NULL, '01.02.1970', NULL, 'a@b');\n"
            "UPDATE Base SET htel = '2';\n"
            "INSERT INTO Base (fam, name1, post, work, wtel, wmail) VALUES ('Ангелов', NULL, 'Повар', NULL, "
            "'1', NULL);\n"
            "UPDATE Base SET hmail = 'h', dep = 'Кухня' WHERE fam = 'Ангелов'"));
        TMF *mf = p.createWindows();
        const MainControls ui(mf);
        QVERIFY(mf->OpenDatabase());
        // A login longer than the column is still only compared, not truncated into an error.
        TLF *lf = uitest::forms(mf).LF;
        auto *PBox = find<QComboBox>(lf, QStringLiteral("PBox"));
        auto *bt_login = find<QPushButton>(lf, QStringLiteral("bt_login"));
        lf->FormActivate();
        PBox->setEditText(QStringLiteral("a-login-much-longer-than-ten"));
        bt_login->click();
        QCOMPARE(msg::takeShown().first().text, QStringLiteral("Пользователь с данным логином не зарегистрирован!"));
        PBox->setEditText(QStringLiteral("old"));
        find<QLineEdit>(lf, QStringLiteral("ed_pass"))->setText(QStringLiteral("pw"));
        bt_login->click();
        QCOMPARE(p.session->SessionUser.id, 7);

        p.session->FirstActivation = false;
        mf->FillList();
        QCOMPARE(names(mf), (QStringList{u"Ангелов  "_s, u"Ёжиков Олег                 "_s}));
        QCOMPARE(uitest::listColumn(mf, 2), (QStringList{u" Кухня"_s, u"Склад "_s}));
        QCOMPARE(uitest::listColumn(mf, 0), (QStringList{u"2"_s, u"1"_s}));
        ui.ed_name->setText(QStringLiteral("ёж"));
        QCOMPARE(names(mf).size(), 1);
        ui.ed_name->setText(QString(300, QLatin1Char('x'))); // longer than any column
        QCOMPARE(mf->model()->cardCount(), 0);
        QVERIFY(msg::shown().isEmpty());
        ui.MonthBox->setCurrentIndex(1);
        QCOMPARE(ui.lb_bdate->text(), QStringLiteral("Дни рождения - 1"));
    }

    void selectionKeysAndRows()
    {
        Program p;
        for (int i = 0; i < 12; ++i)
            p.addCard(card(QStringLiteral("Фам%1").arg(i, 2, 10, QLatin1Char('0')), u"И"_s, u"П"_s));
        TMF *mf = p.createWindows();
        const MainControls ui(mf);
        p.loginDirect(QStringLiteral("user"), QStringLiteral("read"));
        mf->show();
        mf->FillList();
        QCOMPARE(mf->selectedRow(), 0);
        mf->selectRow(10);
        QCOMPARE(mf->selectedId(), uitest::listColumn(mf, 0).at(10));
        // The row number stays across a refill, and is clamped when the list shrinks.
        mf->N8Click();
        QCOMPARE(mf->selectedRow(), 10);
        ui.ed_name->setText(QStringLiteral("Фам0"));
        QCOMPARE(mf->model()->cardCount(), 10);
        QCOMPARE(mf->selectedRow(), 9);

        // List keys lead to the commands; Alt+F4 is left to the window manager.
        ui.Grid->setFocus();
        QCOMPARE(uitest::whileModal([&] { QTest::keyClick(ui.Grid, Qt::Key_Return); }), QStringList{u"TRF"_s});
        QCOMPARE(p.session->CardMode, CardMode::Read);
        QCOMPARE(uitest::whileModal([&] { mf->GridDblClick(); }), QStringList{u"TRF"_s});
        msg::takeShown();
        QCOMPARE(uitest::whileModal([&] { QTest::keyClick(ui.Grid, Qt::Key_F4); }), QStringList());
        QCOMPARE(msg::takeShown().first().text, QStringLiteral("Недостаточно прав")); // read-only user
        QVERIFY(!mf->GridKeyDown(Qt::Key_F4, Qt::AltModifier));
        QCOMPARE(uitest::whileModal([&] { QTest::keyClick(ui.Grid, Qt::Key_F7); }), QStringList());
        QCOMPARE(msg::takeShown().first().text, QStringLiteral("Недостаточно прав"));
        p.session->SessionUser.level = QStringLiteral("full");
        QCOMPARE(uitest::whileModal([&] { QTest::keyClick(ui.Grid, Qt::Key_F4); }), QStringList{u"TRF"_s});
        QCOMPARE(p.session->CardMode, CardMode::Edit);
        QCOMPARE(uitest::whileModal([&] { QTest::keyClick(ui.Grid, Qt::Key_F7); }), QStringList{u"TRF"_s});
        QCOMPARE(p.session->CardMode, CardMode::New);

        // Column shares follow the grid's width.
        mf->resize(1000, 700);
        QApplication::processEvents();
        const int w = ui.Grid->viewport()->width(); // the cells' room, without the scroll bar
        // A column that its header would not fit takes the room from the names' column.
        const double shares[] = {0, 0.22, 0.20, 0.19, 0.11, 0.10, 0.18};
        int total = 0, wanted = 0;
        for (int c = 1; c < ListModel::kColumns; ++c) {
            total += ui.Grid->columnWidth(c);
            wanted += int(w * shares[c]);
        }
        QCOMPARE(total, wanted);
        QCOMPARE(ui.Grid->columnWidth(6), int(w * 0.18));
        QCOMPARE(ui.Grid->columnWidth(2), int(w * 0.20));
        QVERIFY(ui.Grid->columnWidth(1) <= int(w * 0.22));

        // A name too long for its column wraps and the row grows (never inside paint).
        p.addCard(card(QStringLiteral("Очень-очень-длинная фамилия, которая точно не поместится в одну строку колонки"),
                       u"Имя"_s, u"П"_s));
        mf->db.IBTrans.commit();
        mf->BitBtn1Click();
        mf->N6Click();
        QVERIFY(uitest::listColumn(mf, 1).first().startsWith(QStringLiteral("Очень")));
        ui.Grid->setColumnWidth(1, 120);
        ui.Grid->viewport()->repaint();
        QTRY_VERIFY(ui.Grid->rowHeight(0) > 18);
        const int grown = ui.Grid->rowHeight(0);
        ui.Grid->setColumnWidth(1, 2000);
        ui.Grid->viewport()->repaint();
        QApplication::processEvents();
        QCOMPARE(ui.Grid->rowHeight(0), grown); // never shrinks by itself
        mf->FillList();
        QCOMPARE(ui.Grid->rowHeight(0), 18); // a refill starts over
    }

    void largeListArrivesInSlices_data()
    {
        QTest::addColumn<bool>("anyPosition");
        QTest::newRow("list statement") << false;
        QTest::newRow("search index") << true;
    }
    // A long list shows its first rows at once and the rest arrives from the
    // event loop, whether the statement or the "any position" index finds it.
    void largeListArrivesInSlices()
    {
        QFETCH(bool, anyPosition);
        Program p;
        p.addCards(3000, [](int i) {
            return Cols{{u"fam"_s, QStringLiteral("Ф%1").arg(i, 5, 10, QLatin1Char('0'))},
                        {u"name1"_s, u"И"_s},
                        {u"post"_s, u"П"_s},
                        {u"work"_s, u"Р"_s},
                        {u"wmail"_s, u"m"_s},
                        {u"wtel"_s, u"t"_s}};
        });
        TMF *mf = p.createWindows();
        const MainControls ui(mf);
        p.loginDirect(QStringLiteral("user"));
        ui.check_pos->setChecked(anyPosition);
        QTRY_VERIFY(!mf->isFilling());
        mf->FillList();
        QVERIFY(mf->isFilling());
        QVERIFY(mf->model()->cardCount() >= 1 && mf->model()->cardCount() < 3000);
        QTRY_VERIFY(!mf->isFilling());
        QCOMPARE(mf->model()->cardCount(), 3000);
        QCOMPARE(uitest::listColumn(mf, 1).last(), QStringLiteral("Ф02999 И "));

        // The selected row number survives a refill that arrives in slices.
        mf->selectRow(2500);
        mf->N6Click();
        QTRY_VERIFY(!mf->isFilling());
        QCOMPARE(mf->selectedRow(), 2500);

        // Saves and failed statements elsewhere leave a fill under way alone: the list arrives whole.
        mf->FillList();
        QVERIFY(mf->isFilling());
        core::RefValues(mf->db.access).add(sql::Ref::Post, QStringLiteral("Новая"));
        db::IBQuery failing(&mf->db.IBDbase, &mf->db.IBTrans);
        failing.setSql(QStringLiteral("INSERT INTO nosuchtable (x) VALUES (1)"));
        QVERIFY_THROWS_EXCEPTION(db::DbError, failing.execute());
        QVERIFY(mf->isFilling());
        QTRY_VERIFY(!mf->isFilling());
        QCOMPARE(mf->model()->cardCount(), 3000);

        // A new search during a fill replaces it: no rows of the old one follow.
        mf->FillList();
        ui.ed_name->setText(QStringLiteral("ф0001"));
        QCOMPARE(mf->model()->cardCount(), 10);
        QTest::qWait(50);
        QCOMPARE(mf->model()->cardCount(), 10);
        QVERIFY(!mf->isFilling());
    }

    void deleteCommand()
    {
        Program p;
        const qint64 a = p.addCard(card(u"Аверин"_s, u"А"_s, u"П"_s));
        p.addCard(card(u"Борин"_s, u"Б"_s, u"П"_s));
        p.exec(QStringLiteral("INSERT INTO accounts (bs_fk, sn1) VALUES (%1, 'VK');\n"
                              "INSERT INTO accounts (bs_fk, sn1) VALUES (%1, 'QQ')")
                   .arg(a));
        TMF *mf = p.createWindows();
        p.loginDirect(QStringLiteral("user"));
        mf->FillList();
        mf->selectRow(0);
        msg::script({msg::Answer::No});
        mf->N17Click();
        QCOMPARE(msg::shown().last().caption, QStringLiteral("Удаление"));
        QCOMPARE(msg::shown().last().buttons, msg::Buttons::YesNo);
        QCOMPARE(mf->model()->cardCount(), 2);
        msg::script({msg::Answer::Yes});
        mf->N17Click();
        QCOMPARE(names(mf), QStringList{u"Борин Б "_s});
        QCOMPARE(mf->selectedRow(), 0);
        testdb::Peek peek(p.dbPath);
        QCOMPARE(peek.count(QStringLiteral("SELECT * FROM accounts")), 0);
        QCOMPARE(peek.count(QStringLiteral("SELECT * FROM base")), 1);

        p.session->SessionUser.level = QStringLiteral("read");
        msg::takeShown();
        mf->N17Click();
        QCOMPARE(msg::takeShown().first().text, QStringLiteral("Недостаточно прав"));
        QCOMPARE(mf->model()->cardCount(), 1);
    }

    void birthdays()
    {
        Program p;
        p.addCard({{u"fam"_s, u"Март70"_s}, {u"post"_s, u"x"_s}, {u"bdate"_s, u"03.03.1970"_s}});
        p.addCard({{u"fam"_s, u"Март85"_s}, {u"post"_s, u"x"_s}, {u"bdate"_s, u"01.03.1985"_s}});
        p.addCard({{u"fam"_s, u"Пустая"_s}, {u"post"_s, u"x"_s}, {u"bdate"_s, u"  .  .    "_s}});
        p.addCard({{u"fam"_s, u"Короткая"_s}, {u"post"_s, u"x"_s}, {u"bdate"_s, u"3.3.1990"_s}});
        p.addCard({{u"fam"_s, u"Май"_s}, {u"post"_s, u"x"_s}, {u"bdate"_s, u"09.05.1990"_s}});
        TMF *mf = p.createWindows();
        const MainControls ui(mf);
        p.loginDirect(QStringLiteral("user"));
        mf->FillList();
        ui.MonthBox->setCurrentIndex(2); // March
        QCOMPARE(ui.lb_bdate->text(), QStringLiteral("Дни рождения - 2"));
        QCOMPARE(mf->model()->cardCount(), 0); // the list does not change with the month
        mf->btDateClick();
        QCOMPARE(uitest::listColumn(mf, 4), (QStringList{u"01.03.1985"_s, u"03.03.1970"_s}));
        ui.MonthBox->setCurrentIndex(0);
        QCOMPARE(ui.lb_bdate->text(), QStringLiteral("Дни рождения - 0"));
        mf->btDateClick();
        QCOMPARE(mf->model()->cardCount(), 0);
        QCOMPARE(mf->model()->rowCount(), 1);
        QCOMPARE(monthPattern(5), QStringLiteral("%.05.%"));

        // The statements the program runs find the same cards, in the same order, as the literal ones.
        p.addCard({{u"fam"_s, u"Т1"_s}, {u"bdate"_s, u"  .05.    "_s}});
        p.addCard({{u"fam"_s, u"Т2"_s}, {u"bdate"_s, u"01.02.05.0"_s}});
        p.addCard({{u"fam"_s, u"Т3"_s}, {u"bdate"_s, u"ab.05.cdef"_s}});
        p.addCard({{u"fam"_s, u"Т4"_s}, {u"bdate"_s, u"3.05.1990"_s}});
        p.addCard({{u"fam"_s, u"Т5"_s}, {u"bdate"_s, u"05.05.2005"_s}});
        p.addCard({{u"fam"_s, u"Т6"_s}, {u"bdate"_s, u""_s}});
        p.addCard({{u"fam"_s, u"Т7"_s}, {u"bdate"_s, QString()}});
        p.addCard({{u"fam"_s, u"Т8"_s}, {u"bdate"_s, u".05."_s}});
        p.addCard({{u"fam"_s, u"Т9"_s}, {u"bdate"_s, u"1.5.1990"_s}});
        p.addCard({{u"fam"_s, u"Т10"_s}, {u"bdate"_s, u"12.05.19 5"_s}});
        p.addCard({{u"fam"_s, u"Т11"_s}, {u"bdate"_s, u"12x05.1995"_s}});
        mf->db.IBTrans.commit();
        db::IBQuery q(&mf->db.IBDbase, &mf->db.IBTrans);
        auto ids = [&](const QString &sqlText) {
            q.close();
            q.setSql(sqlText);
            q.open();
            q.last();
            QStringList out;
            for (int r = 0; r < q.recordCount(); ++r)
                out << q.textAt(r, q.fieldIndex(u"bdate"_s)) + QLatin1Char('#') + q.textAt(r, q.fieldIndex(u"pk_id"_s));
            q.close();
            return out;
        };
        for (int month = 1; month <= 12; ++month) {
            QStringList literal = ids(likeOnlyBirthdayListSql(month));
            QCOMPARE(ids(birthdayListSql(month)), literal);
            q.setSql(birthdayCountSql(month));
            q.open();
            q.last();
            QCOMPARE(q.recordCount(), int(literal.size()));
            q.close();
        }
        QCOMPARE(ids(birthdayListSql(5)).size(), 8); // every text holding ".05."
        QCOMPARE(monthPattern(12), QStringLiteral("%.12.%"));
    }
};

QTEST_MAIN(TestRegister)
#include "tst_register.moc"
