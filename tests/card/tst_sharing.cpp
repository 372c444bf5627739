// Copies of the program sharing one database: what a colleague commits shows
// at the next read, and a save that meets a colleague's change is told.

#include "app/context.h"
#include "app/messages.h"
#include "app/session.h"
#include "card/cardwindow.h"
#include "core/listmodel.h"
#include "register/mainwindow.h"
#include "cardfixture.h"
#include "uitest.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QToolButton>
#include <QtTest>

using namespace Qt::StringLiterals;
using uitest::find;
using uitest::Program;

namespace {

// The shared fixture on one card that colleagues change too, open for editing.
struct Fixture : cardtest::CardFixture
{
    Fixture()
    {
        id = p.addCard(cardtest::listed(u"Общий"_s));
        mf->db.IBTrans.commit();
        mf->FillList();
    }
    void open() { CardFixture::open(CardMode::Edit, id); }
    QLineEdit *edit(const char *name) { return find<QLineEdit>(rf, QLatin1String(name)); }
    void save() { find<QToolButton>(rf, QStringLiteral("tb_save"))->click(); }
    QStringList shown()
    {
        QStringList t;
        for (const auto &s : msg::takeShown())
            t << s.caption + QLatin1Char(':') + s.text.section(QLatin1Char('\n'), 0, 0);
        return t;
    }

    qint64 id = 0;
};

const QString kConflict = QStringLiteral("Внимание!:Карточку только что изменил другой пользователь, или он как раз "
                                         "сохраняет её. Ваши изменения не сохранены и остались на экране.");

} // namespace

class TestSharing : public QObject
{
    Q_OBJECT

private slots:
    // A reading copy sees a colleague's new card, value and edit at its next read.
    void colleaguesWorkShows()
    {
        Fixture f;
        QCOMPARE(f.mf->model()->cardCount(), 1);
        f.p.addCard(cardtest::listed(u"Новенький"_s));
        f.p.exec(QStringLiteral("INSERT INTO organization (org) VALUES ('АО Коллега');\n"
                                "UPDATE base SET post = 'Директор' WHERE fam = 'Общий'"));
        f.mf->BitBtn1Click(); // the clear button refills the list
        QCOMPARE(f.mf->model()->cardCount(), 2);
        f.mf->FillRefLists();
        QCOMPARE(find<QComboBox>(f.rf, QStringLiteral("ed_work"))->findText(QStringLiteral("АО Коллега")), 0);
        f.open();
        QCOMPARE(find<QComboBox>(f.rf, QStringLiteral("ed_post"))->currentText(), QStringLiteral("Директор"));
        f.rf->close();
    }

    // The list follows what another writer commits, without a keystroke:
    // new, changed and deleted cards, in the search as in "any position";
    // the selected card stays selected and the typed search stays.
    void listFollowsColleagues()
    {
        Fixture f;
        const qint64 own = f.p.addCard(cardtest::listed(u"Яковлев"_s));
        f.mf->FillList();
        f.mf->selectRow(1);
        QCOMPARE(f.mf->selectedId(), QString::number(own));
        auto names = [&] {
            QStringList out;
            for (int r = 0; r < f.mf->model()->cardCount(); ++r)
                out << f.mf->model()->cell(r, 1).trimmed();
            return out;
        };
        f.p.exec(
            QStringLiteral("INSERT INTO base (fam, work, post, wmail, wtel) VALUES ('Аарон', 'Р', 'П', 'm', 't')"));
        QTRY_COMPARE_WITH_TIMEOUT(names(), (QStringList{u"Аарон"_s, u"Общий"_s, u"Яковлев"_s}), 10000);
        QCOMPARE(f.mf->selectedId(), QString::number(own)); // moved down a row with its card
        f.p.exec(QStringLiteral("UPDATE base SET fam = 'Борисов' WHERE fam = 'Общий'"));
        QTRY_COMPARE_WITH_TIMEOUT(names(), (QStringList{u"Аарон"_s, u"Борисов"_s, u"Яковлев"_s}), 10000);
        f.p.exec(QStringLiteral("DELETE FROM base WHERE fam = 'Аарон'"));
        QTRY_COMPARE_WITH_TIMEOUT(names(), (QStringList{u"Борисов"_s, u"Яковлев"_s}), 10000);
        QCOMPARE(f.mf->selectedId(), QString::number(own));
        // "Any position", with a search typed: the index follows too.
        f.mf->check_pos->setChecked(true);
        f.mf->ed_work->setText(QStringLiteral("р"));
        QCOMPARE(names(), (QStringList{u"Борисов"_s, u"Яковлев"_s}));
        f.p.exec(QStringLiteral(
            "INSERT INTO base (fam, work, post, wmail, wtel) VALUES ('Вагин', 'ООО Рога', 'П', 'm', 't')"));
        QTRY_COMPARE_WITH_TIMEOUT(names(), (QStringList{u"Борисов"_s, u"Вагин"_s, u"Яковлев"_s}), 10000);
        QCOMPARE(f.mf->ed_work->text(), QStringLiteral("р"));
    }

    // Two desks on one card: fields only the colleague changed stay his,
    // fields only this desk changed are written, and only a field both
    // changed brings the question, naming it. After "Нет" the next save
    // writes this desk's value there and reverts nothing else.
    void colleagueSavedTheCardMeanwhile()
    {
        Fixture f;
        f.open();
        f.p.exec(QStringLiteral("UPDATE base SET fam = 'Коллегин', wtel = '111', wmail = 'his@x'"));
        f.edit("ed_ps")->setText(QStringLiteral("4510"));
        f.edit("sn_1")->setText(QStringLiteral("vk.com/me"));
        f.save();
        QCOMPARE(f.shown(), QStringList());
        QCOMPARE(f.value(QStringLiteral("SELECT fam || '/' || wtel || '/' || ps FROM base")),
                 QStringLiteral("Коллегин/111/4510"));
        QCOMPARE(f.value(QStringLiteral("SELECT adr1 FROM accounts")), QStringLiteral("vk.com/me"));
        QCOMPARE(f.edit("ed_fam")->text(), QStringLiteral("Коллегин")); // the card shows what is stored
        QVERIFY(!f.rf->CardChanged);
        QCOMPARE(f.rf->windowTitle(), QStringLiteral("Редактирование"));

        // Both change the work phone: nothing is stored, the question names it.
        f.p.exec(QStringLiteral("UPDATE base SET wtel = '222', post = 'Директор'"));
        f.edit("ed_wtel")->setText(QStringLiteral("333"));
        f.edit("ed_pnum")->setText(QStringLiteral("777"));
        msg::script({msg::Answer::No});
        f.save();
        const QList<msg::Shown> shown = msg::takeShown();
        QCOMPARE(shown.size(), 1);
        QVERIFY(shown[0].text.startsWith(kConflict.section(QLatin1Char(':'), 1)));
        QVERIFY2(shown[0].text.contains(QStringLiteral("Вы оба изменили: «Стационарный телефон (рабочий)».")),
                 qPrintable(shown[0].text));
        QVERIFY(f.rf->CardChanged);
        QCOMPARE(f.rf->windowTitle(), QStringLiteral("Редактирование(!)"));
        QCOMPARE(f.value(QStringLiteral("SELECT wtel || '/' || COALESCE(pnum, '') FROM base")), QStringLiteral("222/"));
        // Saved again: this desk's phone over the colleague's, his post kept.
        f.save();
        QCOMPARE(f.shown(), QStringList());
        QCOMPARE(f.value(QStringLiteral("SELECT wtel || '/' || pnum || '/' || post || '/' || wmail FROM base")),
                 QStringLiteral("333/777/Директор/his@x"));

        // Taking the colleague's version: shown, unmarked, the edit dropped.
        f.p.exec(QStringLiteral("UPDATE base SET wtel = '444'"));
        f.edit("ed_wtel")->setText(QStringLiteral("555"));
        msg::script({msg::Answer::Yes});
        f.save();
        QCOMPARE(f.shown(), QStringList{kConflict});
        QCOMPARE(f.edit("ed_wtel")->text(), QStringLiteral("444"));
        QVERIFY(!f.rf->CardChanged);
        QCOMPARE(f.rf->windowTitle(), QStringLiteral("Редактирование"));
        QCOMPARE(f.value(QStringLiteral("SELECT wtel FROM base")), QStringLiteral("444"));

        // Accounts merge slot by slot; the same address changed by both clashes.
        f.p.exec(QStringLiteral("UPDATE accounts SET adr2 = 'fb.com/his', adr1 = 'vk.com/his'"));
        f.edit("sn_3")->setText(QStringLiteral("t.me/mine"));
        f.save();
        QCOMPARE(f.shown(), QStringList());
        QCOMPARE(f.value(QStringLiteral("SELECT adr1 || '/' || adr2 || '/' || adr3 FROM accounts")),
                 QStringLiteral("vk.com/his/fb.com/his/t.me/mine"));
        f.p.exec(QStringLiteral("UPDATE accounts SET adr3 = 't.me/his'"));
        f.edit("sn_3")->setText(QStringLiteral("t.me/mine2"));
        msg::script({msg::Answer::No});
        f.save();
        QCOMPARE(f.shown(), QStringList{kConflict});
        QCOMPARE(f.value(QStringLiteral("SELECT adr3 FROM accounts")), QStringLiteral("t.me/his"));
        f.save();
        QCOMPARE(f.value(QStringLiteral("SELECT adr1 || '/' || adr3 FROM accounts")),
                 QStringLiteral("vk.com/his/t.me/mine2"));
        f.rf->close();
        QVERIFY(!f.rf->isVisible());
    }

    // Reading the card again before the save (its printout, here) hides no
    // colleague's change.
    void printBetweenLoadAndSave()
    {
        Fixture f;
        QDir().mkpath(f.p.folder + QStringLiteral("/Forms"));
        QFile::copy(QStringLiteral(ZENTRAX_PROGRAM_DIR "/Forms/form.xlsx"),
                    f.p.folder + QStringLiteral("/Forms/form.xlsx"));
        f.open();
        f.p.exec(QStringLiteral("UPDATE base SET wtel = '222'"));
        QTest::qWait(600); // the user reads the card a moment first
        find<QToolButton>(f.rf, QStringLiteral("tb_exp"))->click();
        QCOMPARE(f.shown(), QStringList());
        f.edit("ed_wtel")->setText(QStringLiteral("123456"));
        msg::script({msg::Answer::No});
        f.save();
        QCOMPARE(f.shown(), QStringList{kConflict});
        QCOMPARE(f.value(QStringLiteral("SELECT wtel FROM base")), QStringLiteral("222"));
        msg::script({msg::Answer::No});
        f.rf->close();
    }

    // A colleague still saving (holding the row): this save gives up after a
    // few seconds instead of freezing, and says so.
    void colleagueHoldsTheCard()
    {
        Fixture f;
        f.open();
        testdb::Peek colleague(f.p.dbPath);
        colleague.q.setSql(QStringLiteral("UPDATE base SET fam = 'Держит'"));
        colleague.q.execute(); // not committed: the row stays locked
        f.edit("ed_ps")->setText(QStringLiteral("1"));
        msg::script({msg::Answer::No});
        f.save();
        QCOMPARE(f.shown(), QStringList{kConflict});
        QVERIFY(f.rf->CardChanged);
        colleague.t.rollback();
        f.save();
        QCOMPARE(f.shown(), QStringList());
        QCOMPARE(f.value(QStringLiteral("SELECT fam || '/' || ps FROM base")), QStringLiteral("Общий/1"));
        f.rf->close();
    }

    // A card a colleague deleted is told as gone, not made again, and leaves the list.
    void colleagueDeletedTheCard()
    {
        Fixture f;
        f.open();
        f.p.exec(QStringLiteral("DELETE FROM base"));
        f.edit("ed_ps")->setText(QStringLiteral("1"));
        f.edit("sn_1")->setText(QStringLiteral("x"));
        f.save();
        QCOMPARE(f.shown(),
                 QStringList{QStringLiteral("Ошибка:Запись не обнаружена, рекомендуется тестирование базы данных")});
        QCOMPARE(testdb::Peek(f.p.dbPath).count(QStringLiteral("SELECT * FROM base")), 0);
        QCOMPARE(testdb::Peek(f.p.dbPath).count(QStringLiteral("SELECT * FROM accounts")), 0);
        QCOMPARE(f.mf->model()->cardCount(), 0); // its row left the list at once
        msg::script({msg::Answer::No});
        f.rf->close();
    }
};

QTEST_MAIN(TestSharing)
#include "tst_sharing.moc"
