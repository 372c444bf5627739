// The duplicate search window and the merge window, driven as a user does.

#include "app/messages.h"
#include "app/session.h"
#include "duplicates/duplicatewindows.h"
#include "register/mainwindow.h"
#include "uitest.h"

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTreeWidget>
#include <QtTest>

using namespace Qt::StringLiterals;
using uitest::find;
using uitest::Program;

class TestDuplicateWindows : public QObject
{
    Q_OBJECT

private slots:
    // The groups are found beside the window and listed with their reasons;
    // a merge keeps the values ticked (one changed by keyboard) and deletes
    // the other card; "Не дубликаты" keeps a group from coming back until
    // the marks are forgotten; a user without full rights is refused.
    void findMergeAndTellApart()
    {
        Program p;
        p.addUser(QStringLiteral("Иванов"), QStringLiteral("ivanov"), QStringLiteral("x"), QStringLiteral("full"));
        const qint64 a = p.addCard({{u"fam"_s, u"Орлов"_s},
                                    {u"name1"_s, u"Олег"_s},
                                    {u"hmob"_s, u"+7 903 000-00-01"_s},
                                    {u"wtel"_s, u"111"_s}});
        const qint64 b = p.addCard({{u"fam"_s, u"ОРЛОВ"_s},
                                    {u"name1"_s, u"олег"_s},
                                    {u"hmob"_s, u"89030000001"_s},
                                    {u"wtel"_s, u"222"_s},
                                    {u"hmail"_s, u"o@x"_s}});
        p.addCard({{u"fam"_s, u"Орлов"_s}, {u"name1"_s, u"Олег"_s}, {u"hmob"_s, u"+7 903 999-99-99"_s}});
        const qint64 d = p.addCard({{u"fam"_s, u"Ким"_s}, {u"name1"_s, u"Ли"_s}, {u"wmail"_s, u"Li@Kim.ru"_s}});
        const qint64 e = p.addCard({{u"fam"_s, u"Ли"_s}, {u"name1"_s, u"Ким"_s}, {u"hmail"_s, u"li@kim.ru"_s}});
        TMF *mf = p.createWindows();
        p.loginDirect(QStringLiteral("ivanov"));
        TDupF *dup = p.forms.DupF;
        auto search = [&] {
            dup->FormActivate();
            QTRY_VERIFY_WITH_TIMEOUT(!dup->searching(), 10000);
        };
        search();
        QCOMPARE(dup->groups().size(), 2);
        QCOMPARE(dup->sBar->text().trimmed(), QStringLiteral("Найдено групп: 2"));
        QCOMPARE(dup->Tree->topLevelItem(0)->text(0),
                 QStringLiteral("Группа 1: тот же мобильный телефон (карточек: 2)"));
        QCOMPARE(dup->Tree->topLevelItem(1)->child(1)->text(4), QStringLiteral("li@kim.ru"));

        // The merge of the first group: the work phone of the second card picked by keyboard.
        dup->Tree->setCurrentItem(dup->Tree->topLevelItem(0)->child(0));
        // Opened and left once first: opened again, it shows the group alone.
        int rowsFirst = -1;
        uitest::whileModal([&] { dup->bt_merge->click(); },
                           [&](QWidget *w) {
                               rowsFirst = qobject_cast<TMrgF *>(w)->Table->rowCount();
                               qobject_cast<TMrgF *>(w)->bt_cancel->click();
                           });
        QVERIFY(rowsFirst > 0);
        QStringList rows;
        uitest::whileModal([&] { dup->bt_merge->click(); },
                           [&](QWidget *w) {
                               auto *mrg = qobject_cast<TMrgF *>(w);
                               QVERIFY(mrg);
                               QTableWidget *t = mrg->Table;
                               for (int r = 0; r < t->rowCount(); ++r)
                                   rows << t->verticalHeaderItem(r)->text();
                               const int wtel = int(rows.indexOf(QStringLiteral("Телефон (рабочий)")));
                               QVERIFY(wtel >= 0);
                               QCOMPARE(t->item(wtel, 0)->checkState(), Qt::Checked); // the first card's by default
                               t->setFocus();
                               t->setCurrentCell(wtel, 1);
                               QTest::keyClick(t, Qt::Key_Space);
                               QCOMPARE(t->item(wtel, 0)->checkState(), Qt::Unchecked);
                               QCOMPARE(t->item(wtel, 1)->checkState(), Qt::Checked);
                               mrg->bt_ok->click();
                           });
        QCOMPARE(int(rows.size()), rowsFirst);
        // Only the fields that differ are asked about.
        QVERIFY(rows.contains(QStringLiteral("E-mail (личный)")));
        QVERIFY(!rows.contains(QStringLiteral("Отдел")));
        testdb::Peek peek(p.dbPath);
        QCOMPARE(peek.count(QStringLiteral("SELECT pk_id FROM base WHERE pk_id = %1").arg(b)), 0);
        QCOMPARE(peek.value(QStringLiteral("SELECT wtel || '/' || hmail FROM base WHERE pk_id = %1").arg(a)),
                 QStringLiteral("222/o@x"));
        QTRY_VERIFY_WITH_TIMEOUT(!dup->searching(), 10000); // found anew after the merge
        QCOMPARE(dup->groups().size(), 1);

        // Told apart: not listed again, also after a new search; forgotten: back.
        dup->Tree->setCurrentItem(dup->Tree->topLevelItem(0));
        dup->bt_distinctClick();
        QTRY_VERIFY_WITH_TIMEOUT(!dup->searching(), 10000);
        QCOMPARE(dup->groups().size(), 0);
        search();
        QCOMPARE(dup->groups().size(), 0);
        msg::script({msg::Answer::Yes});
        dup->bt_forgetClick();
        QTRY_VERIFY_WITH_TIMEOUT(!dup->searching(), 10000);
        QCOMPARE(dup->groups().size(), 1);
        QCOMPARE(dup->groups()[0].group.ids, (QList<qint64>{d, e}));

        // Read rights: refused like every other full-rights command.
        p.session->SessionUser.level = QStringLiteral("read");
        msg::takeShown();
        find<QAction>(mf, QStringLiteral("N23"))->trigger();
        const QList<msg::Shown> shown = msg::takeShown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].text, QStringLiteral("Недостаточно прав"));
    }
};

QTEST_MAIN(TestDuplicateWindows)
#include "tst_duplicatewindows.moc"
