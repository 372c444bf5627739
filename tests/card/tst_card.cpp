// The person card: modes, loading, saving, change tracking, closing, keys, deletion.

#include "program/windowset.h"
#include "app/messages.h"
#include "app/session.h"
#include "card/cardwindow.h"
#include "card/dateedit.h"
#include "core/listmodel.h"
#include "core/stamp.h"
#include "register/mainwindow.h"
#include "cardfixture.h"
#include "uitest.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QToolButton>
#include <QAccessible>
#include <QtTest>

using namespace Qt::StringLiterals;
using cardtest::Cols;
using cardtest::listed;
using uitest::find;
using uitest::Program;
using uitest::texts;
using uitest::typeText;

namespace {

const QString kEmptyDate = QStringLiteral("  .  .    ");

// The card's controls, found by their names. The account rows are named
// from 1: snd[k], sn[k] and sn_[k] are "snd<k+1>", "sn<k+1>" and "sn_<k+1>".
struct CardControls
{
    CardControls() = default;
    explicit CardControls(const QObject *rf)
    {
        auto tool = [rf](const char *name) { return find<QToolButton>(rf, QLatin1String(name)); };
        auto edit = [rf](const char *name) { return find<QLineEdit>(rf, QLatin1String(name)); };
        auto combo = [rf](const char *name) { return find<QComboBox>(rf, QLatin1String(name)); };
        auto date = [rf](const char *name) { return find<DateEdit>(rf, QLatin1String(name)); };
        auto memo = [rf](const char *name) { return find<QPlainTextEdit>(rf, QLatin1String(name)); };
        auto check = [rf](const char *name) { return find<QCheckBox>(rf, QLatin1String(name)); };
        tb_save = tool("tb_save");
        tb_edit = tool("tb_edit");
        tb_exp = tool("tb_exp");
        tb_del = tool("tb_del");
        ToolButton26 = tool("ToolButton26");
        BitBtn1 = find<QPushButton>(rf, QStringLiteral("BitBtn1"));
        ed_fam = edit("ed_fam");
        ed_name1 = edit("ed_name1");
        ed_name2 = edit("ed_name2");
        ed_wtel = edit("ed_wtel");
        ed_htel = edit("ed_htel");
        ed_work = combo("ed_work");
        ed_dep = combo("ed_dep");
        ed_post = combo("ed_post");
        pk_bdate = date("pk_bdate");
        pk_vdate2 = date("pk_vdate2");
        mm_other = memo("mm_other");
        mm_rem = memo("mm_rem");
        ch_smok = check("ch_smok");
        ch_alc = check("ch_alc");
        ch_hunt = check("ch_hunt");
        ch_fish = check("ch_fish");
        ch_paint = check("ch_paint");
        ch_sport = check("ch_sport");
        for (int k = 0; k < 4; ++k) {
            snd[k] = find<QComboBox>(rf, QStringLiteral("snd%1").arg(k + 1));
            sn[k] = find<QLabel>(rf, QStringLiteral("sn%1").arg(k + 1));
            sn_[k] = find<QLineEdit>(rf, QStringLiteral("sn_%1").arg(k + 1));
        }
    }

    QToolButton *tb_save = nullptr, *tb_edit = nullptr, *tb_exp = nullptr, *tb_del = nullptr, *ToolButton26 = nullptr;
    QPushButton *BitBtn1 = nullptr;
    QLineEdit *ed_fam = nullptr, *ed_name1 = nullptr, *ed_name2 = nullptr, *ed_wtel = nullptr, *ed_htel = nullptr;
    QComboBox *ed_work = nullptr, *ed_dep = nullptr, *ed_post = nullptr;
    DateEdit *pk_bdate = nullptr, *pk_vdate2 = nullptr;
    QPlainTextEdit *mm_other = nullptr, *mm_rem = nullptr;
    QCheckBox *ch_smok = nullptr, *ch_alc = nullptr, *ch_hunt = nullptr, *ch_fish = nullptr, *ch_paint = nullptr,
              *ch_sport = nullptr;
    QComboBox *snd[4] = {};
    QLabel *sn[4] = {};
    QLineEdit *sn_[4] = {};
};

// The shared fixture with the card's controls.
struct Fixture : cardtest::CardFixture
{
    using CardFixture::CardFixture;
    CardControls ui{rf};
};

} // namespace

class TestCard : public QObject
{
    Q_OBJECT

private slots:
    void dateField()
    {
        DateEdit d;
        d.setDateText(QString());
        QCOMPARE(d.dateText(), kEmptyDate);
        d.setDateText(QStringLiteral("12.06.1978"));
        QCOMPARE(d.dateText(), QStringLiteral("12.06.1978"));
        d.setDateText(QStringLiteral("1 .0 .19  "));
        QCOMPARE(d.dateText(), QStringLiteral("1 .0 .19  "));
        // A stored text of another form stays as it is until the user types into it.
        d.setDateText(QStringLiteral("3.3.1990"));
        QCOMPARE(d.dateText(), QStringLiteral("3.3.1990"));
        d.setDateText(kEmptyDate);
        d.setCursorPosition(0);
        QTest::keyClicks(&d, QStringLiteral("0103"));
        QCOMPARE(d.dateText(), QStringLiteral("01.03.    "));
    }

    void newCardWithOnlyASurname()
    {
        Fixture f;
        f.open(CardMode::New);
        QCOMPARE(f.rf->windowTitle(), QStringLiteral("Новая запись"));
        QVERIFY(!f.rf->CardChanged);
        QCOMPARE(f.ui.snd[0]->currentText(), QStringLiteral("1 ..."));
        typeText(f.ui.ed_fam, QStringLiteral("Петров"));
        QCOMPARE(f.rf->windowTitle(), QStringLiteral("Новая запись(!)"));
        QVERIFY(f.rf->CardChanged && !f.rf->AccountsChanged);
        f.ui.tb_save->click();
        QVERIFY(!f.rf->isVisible()); // a saved new card closes
        QVERIFY(texts().isEmpty());
        testdb::Peek peek(f.p.dbPath);
        peek.q.setSql(QStringLiteral("SELECT * FROM base"));
        peek.q.open();
        QCOMPARE(peek.q.asText(u"fam"_s), QStringLiteral("Петров"));
        for (const char *c : {"bdate", "pdate1", "pdate2", "vdate1", "vdate2"})
            QCOMPARE(peek.q.asText(QLatin1String(c)), kEmptyDate);
        for (const char *c : {"smok", "alc", "fish", "hunt", "paint", "art", "mus", "trav", "cook", "sport"})
            QCOMPARE(peek.q.asText(QLatin1String(c)), QStringLiteral("0"));
        QVERIFY(QRegularExpression(QStringLiteral("^1_\\d{8}_\\d{6}$")).match(peek.q.asText(u"sysinfo"_s)).hasMatch());
        QCOMPARE(peek.q.asText(u"fdt"_s), QStringLiteral("1"));
        QCOMPARE(peek.q.asText(u"ldt"_s), QStringLiteral("1"));
        QCOMPARE(peek.q.asText(u"fpath"_s), QString());
        QCOMPARE(peek.q.asText(u"name1"_s), QString());
        peek.t.commit();
        QCOMPARE(f.count(QStringLiteral("SELECT * FROM accounts")), 0);
        QCOMPARE(f.count(QStringLiteral("SELECT * FROM organization")), 0); // a new card adds no reference value
        // The list follows at once (the post is empty text, so the card is listed).
        QCOMPARE(uitest::listColumn(f.mf, 1), QStringList{QStringLiteral("Петров  ")});
    }

    void loadingAndEditingEveryColumn()
    {
        Fixture f;
        const qint64 id = f.p.addCard(listed(u"Старый"_s, {{u"smok"_s, u"1"_s},
                                                           {u"alc"_s, u"0"_s},
                                                           {u"fish"_s, u""_s},
                                                           {u"hunt"_s, u"x"_s},
                                                           {u"bdate"_s, u"3.3.1990"_s},
                                                           {u"other"_s, u"строка 1\r\nстрока 2"_s},
                                                           {u"sysinfo"_s, u"9_01012020_000000"_s},
                                                           {u"fdt"_s, u"9"_s},
                                                           {u"fpath"_s, u""_s},
                                                           {u"ldt"_s, u"9"_s}}));
        f.open(CardMode::Edit, id);
        QCOMPARE(f.rf->windowTitle(), QStringLiteral("Редактирование"));
        QVERIFY(f.ui.ch_smok->isChecked());
        QVERIFY(!f.ui.ch_alc->isChecked() && !f.ui.ch_fish->isChecked() && !f.ui.ch_hunt->isChecked() &&
                !f.ui.ch_paint->isChecked()); // "0", "", "x" and NULL all unset
        QCOMPARE(f.ui.mm_other->toPlainText(), QStringLiteral("строка 1\nстрока 2"));
        QCOMPARE(f.ui.pk_bdate->dateText(), QStringLiteral("3.3.1990"));
        QVERIFY(!f.rf->CardChanged);

        // Change every field.
        int n = 0;
        for (QLineEdit *e : f.rf->findChildren<QLineEdit *>()) {
            if (qobject_cast<QComboBox *>(e->parentWidget()) || qobject_cast<DateEdit *>(e) ||
                e->objectName().startsWith(QLatin1String("sn_")))
                continue;
            e->setText(QStringLiteral("%1 «%2» 'x'").arg(e->objectName()).arg(++n));
        }
        f.ui.ed_work->setEditText(QStringLiteral("ООО «Рога и копыта»"));
        f.ui.ed_dep->setEditText(QStringLiteral("Отдел"));
        f.ui.ed_post->setEditText(QStringLiteral("Главный"));
        f.ui.pk_vdate2->setDateText(QStringLiteral("31.12.2030"));
        f.ui.mm_rem->setPlainText(QStringLiteral("a\nb"));
        f.ui.ch_sport->click();
        f.ui.ch_smok->click();
        f.ui.tb_save->click();
        QVERIFY(f.rf->isVisible()); // edit mode stays open
        QCOMPARE(f.rf->windowTitle(), QStringLiteral("Редактирование"));
        QVERIFY(!f.rf->CardChanged);

        testdb::Peek peek(f.p.dbPath);
        peek.q.setSql(QStringLiteral("SELECT * FROM base"));
        peek.q.open();
        QCOMPARE(peek.q.asText(u"fam"_s), QStringLiteral("ed_fam «1» 'x'"));
        QCOMPARE(peek.q.asText(u"hskype"_s).left(9), QStringLiteral("ed_hskype"));
        QCOMPARE(peek.q.asText(u"work"_s), QStringLiteral("ООО «Рога и копыта»"));
        QCOMPARE(peek.q.asText(u"vdate2"_s), QStringLiteral("31.12.2030"));
        QCOMPARE(peek.q.asText(u"bdate"_s), QStringLiteral("3.3.1990")); // untouched stored form kept
        QCOMPARE(peek.q.asText(u"rem"_s), QStringLiteral("a\r\nb"));
        QCOMPARE(peek.q.asText(u"other"_s), QStringLiteral("строка 1\r\nстрока 2"));
        QCOMPARE(peek.q.asText(u"sport"_s), QStringLiteral("1"));
        QCOMPARE(peek.q.asText(u"smok"_s), QStringLiteral("0"));
        QCOMPARE(peek.q.asText(u"ldt"_s), QStringLiteral("1"));
        QCOMPARE(peek.q.asText(u"fdt"_s), QStringLiteral("9"));
        QCOMPARE(peek.q.asText(u"sysinfo"_s), QStringLiteral("9_01012020_000000"));
        peek.t.commit();
        QCOMPARE(f.count(QStringLiteral("SELECT * FROM accounts")), 0); // no account was touched
        // The list shows the new surname at once.
        QVERIFY(uitest::listColumn(f.mf, 1).first().startsWith(QStringLiteral("ed_fam «1» 'x'")));
    }

    void accounts()
    {
        Fixture f;
        const qint64 id = f.p.addCard(listed(u"Счетов"_s));
        f.open(CardMode::Edit, id);
        QCOMPARE(f.ui.snd[1]->currentText(), QStringLiteral("2 ..."));
        f.ui.sn_[1]->setText(QStringLiteral("https://vk.com/id1"));
        QVERIFY(f.rf->CardChanged && f.rf->AccountsChanged);
        f.ui.tb_save->click();
        QVERIFY(!f.rf->AccountsChanged);
        QCOMPARE(f.count(QStringLiteral("SELECT * FROM accounts")), 1);
        // All four accounts are written, placeholders included.
        QCOMPARE(f.value(QStringLiteral("SELECT sn1 || '|' || sn2 || '|' || adr2 FROM accounts")),
                 QStringLiteral("1 ...|2 ...|https://vk.com/id1"));
        f.ui.snd[0]->setEditText(QStringLiteral("VK"));
        f.ui.tb_save->click();
        QCOMPARE(f.count(QStringLiteral("SELECT * FROM accounts")), 1); // updated, not added
        QCOMPARE(f.value(QStringLiteral("SELECT sn1 FROM accounts")), QStringLiteral("VK"));
        // Changing only the surname leaves the accounts row alone.
        f.p.exec(QStringLiteral("UPDATE accounts SET adr4 = 'kept'"));
        f.mf->db.IBTrans.commit();
        f.ui.ed_fam->setText(QStringLiteral("Другой"));
        QVERIFY(!f.rf->AccountsChanged);
        f.ui.tb_save->click();
        QCOMPARE(f.value(QStringLiteral("SELECT adr4 FROM accounts")), QStringLiteral("kept"));

        // Read mode: labels, placeholder for an empty network, empty box in edit mode.
        f.p.exec(QStringLiteral("UPDATE accounts SET sn2 = ''"));
        f.rf->close();
        f.open(CardMode::Read, id);
        QVERIFY(f.ui.sn[0]->isVisible() && !f.ui.snd[0]->isVisible());
        QCOMPARE(f.ui.sn[0]->text(), QStringLiteral("VK"));
        QCOMPARE(f.ui.sn[1]->text(), QStringLiteral("2 ..."));
        f.rf->close();
        f.open(CardMode::Edit, id);
        QCOMPARE(f.ui.snd[1]->currentText(), QString());
        f.rf->close();
    }

    void twoNewCardsInOneSecondKeepTheirAccounts()
    {
        Fixture f;
        // Cards that already carry the stamps these saves will make: a look-up
        // by stamp would find them first and attach the accounts to them.
        const QDateTime now = QDateTime::currentDateTime();
        for (int sec = 0; sec < 5; ++sec)
            f.p.addCard({{u"fam"_s, u"Приманка"_s}, {u"sysinfo"_s, makeStamp(1, now.addSecs(sec))}});
        for (const char *who : {"Первый", "Второй"}) {
            f.open(CardMode::New);
            f.ui.ed_fam->setText(QString::fromUtf8(who));
            f.ui.sn_[0]->setText(QStringLiteral("page of ") + QString::fromUtf8(who));
            f.ui.tb_save->click();
        }
        QCOMPARE(f.count(QStringLiteral("SELECT * FROM accounts")), 2);
        QCOMPARE(f.value(QStringLiteral("SELECT a.adr1 FROM accounts a JOIN base b ON b.pk_id = a.bs_fk "
                                        "WHERE b.fam = 'Первый'")),
                 QStringLiteral("page of Первый"));
        QCOMPARE(f.value(QStringLiteral("SELECT a.adr1 FROM accounts a JOIN base b ON b.pk_id = a.bs_fk "
                                        "WHERE b.fam = 'Второй'")),
                 QStringLiteral("page of Второй"));
    }

    void referenceValues()
    {
        Fixture f;
        f.p.exec(QStringLiteral("INSERT INTO organization (org) VALUES ('ООО «Ёлка»')"));
        const qint64 id = f.p.addCard(listed(u"Реф"_s));
        f.open(CardMode::Edit, id);
        f.ui.ed_work->setEditText(QStringLiteral("ооо «ёлка»")); // differs only in case
        f.ui.ed_dep->setEditText(QStringLiteral("Отдел д'Артаньяна"));
        f.ui.ed_post->setEditText(QStringLiteral("Инженер"));
        f.ui.tb_save->click();
        f.ui.tb_save->click(); // a second save adds nothing more
        QCOMPARE(f.count(QStringLiteral("SELECT * FROM organization")), 1);
        QCOMPARE(f.count(QStringLiteral("SELECT * FROM department")), 1);
        QCOMPARE(f.value(QStringLiteral("SELECT dep FROM department")), QStringLiteral("Отдел д'Артаньяна"));
        QCOMPARE(f.count(QStringLiteral("SELECT * FROM post WHERE post = 'Инженер'")), 1);
        // A new organization refills the lists; the boxes keep their texts and the card stays unmarked.
        f.ui.ed_work->setEditText(QStringLiteral("Новая фирма"));
        f.ui.ed_post->setEditText(QStringLiteral("Текст поста"));
        f.ui.tb_save->click();
        QCOMPARE(f.ui.ed_work->findText(QStringLiteral("Новая фирма")) >= 0, true);
        QCOMPARE(f.ui.ed_post->currentText(), QStringLiteral("Текст поста"));
        QVERIFY(!f.rf->CardChanged);
        f.mf->FillRefLists();
        QCOMPARE(f.ui.ed_work->currentText(), QStringLiteral("Новая фирма"));
        QVERIFY(!f.rf->CardChanged);
        QCOMPARE(f.rf->windowTitle(), QStringLiteral("Редактирование"));
        f.rf->close();
    }

    void modesRightsAndKeys()
    {
        Fixture f;
        const qint64 id = f.p.addCard(listed(u"Ключев"_s, {{u"name1"_s, u"Иван"_s}}));
        f.open(CardMode::Read, id);
        QCOMPARE(f.rf->windowTitle(), QStringLiteral("Просмотр"));
        QVERIFY(f.ui.ed_fam->isReadOnly());
        QVERIFY(!f.ui.ed_work->isEnabled());
        QVERIFY(!f.ui.ch_smok->isEnabled());
        QVERIFY(f.ui.tb_save->isEnabled());
        QCOMPARE(f.rf->focusWidget(), static_cast<QWidget *>(f.ui.ed_fam));
        // Saving and deleting in read mode.
        f.ui.tb_save->click();
        QVERIFY(texts().isEmpty());
        f.ui.tb_del->click();
        QCOMPARE(texts(),
                 QStringList{QStringLiteral("Удаление проводится в режиме редактирования с правами полного доступа")});
        // F4 switches to edit mode, re-reading the same record even if the list moved on.
        f.p.exec(QStringLiteral("UPDATE base SET name1 = 'Пётр'"));
        f.mf->db.IBTrans.commit();
        find<QLineEdit>(f.mf, QStringLiteral("ed_name"))->setText(QStringLiteral("нет такого"));
        QTest::keyClick(f.ui.ed_fam, Qt::Key_F4, Qt::AltModifier); // Alt+F4 is not ours
        QCOMPARE(f.p.session->CardMode, CardMode::Read);
        QTest::keyClick(f.ui.ed_fam, Qt::Key_F4);
        QCOMPARE(f.p.session->CardMode, CardMode::Edit);
        QCOMPARE(f.rf->windowTitle(), QStringLiteral("Редактирование"));
        QCOMPARE(f.ui.ed_name1->text(), QStringLiteral("Пётр"));
        QVERIFY(!f.ui.ed_fam->isReadOnly() && f.ui.ch_smok->isEnabled());
        f.ui.tb_edit->click();
        QCOMPARE(texts(), QStringList{QStringLiteral("Переключение в режим редактирования доступно только из режима "
                                                     "просмотра с правами полного доступа")});
        // Enter moves on in the fields, adds a line in the remarks memo.
        f.ui.ed_fam->setFocus();
        QTest::keyClick(f.ui.ed_fam, Qt::Key_Return);
        QCOMPARE(f.rf->focusWidget(), static_cast<QWidget *>(f.ui.ed_name1));
        f.ui.mm_rem->setFocus();
        QTest::keyClicks(f.ui.mm_rem, QStringLiteral("a"));
        QTest::keyClick(f.ui.mm_rem, Qt::Key_Return);
        QTest::keyClicks(f.ui.mm_rem, QStringLiteral("b"));
        QCOMPARE(f.ui.mm_rem->toPlainText(), QStringLiteral("a\nb"));
        QCOMPARE(f.rf->columnText(QStringLiteral("rem")), QStringLiteral("a\r\nb"));
        // Esc does not close the card.
        QTest::keyClick(f.ui.ed_fam, Qt::Key_Escape);
        QVERIFY(f.rf->isVisible());
        msg::script({msg::Answer::No});
        f.rf->close();
        QVERIFY(!f.rf->isVisible());
        f.open(CardMode::New);
        f.ui.tb_edit->click();
        f.ui.tb_exp->click();
        f.ui.tb_del->click();
        QCOMPARE(
            texts(),
            (QStringList{QStringLiteral("Переключение в режим редактирования доступно только из режима просмотра с "
                                        "правами полного доступа"),
                         QStringLiteral("Печатная форма доступна только в режиме просмотра или редактирования"),
                         QStringLiteral("Удаление проводится в режиме редактирования с правами полного доступа")}));
        f.rf->close();
    }

    void readOnlyUser()
    {
        Fixture f(QStringLiteral("read"));
        const qint64 id = f.p.addCard(listed(u"Чтецов"_s));
        f.open(CardMode::Read, id);
        QTest::keyClick(f.ui.ed_fam, Qt::Key_F4);
        QCOMPARE(f.p.session->CardMode, CardMode::Read);
        QVERIFY(f.ui.ed_fam->isReadOnly());
        f.ui.tb_save->click();
        QCOMPARE(
            texts(),
            (QStringList{QStringLiteral("Переключение в режим редактирования доступно только из режима просмотра с "
                                        "правами полного доступа"),
                         QStringLiteral("Сохранение изменений доступно только в режиме редактирования / новой "
                                        "записи с полными правами")}));
        f.rf->close();
        QVERIFY(!f.rf->isVisible());
    }

    void changeMarksAndClosing()
    {
        Fixture f;
        const qint64 id = f.p.addCard(listed(u"Закрытов"_s));
        // Unchanged: closes without a question.
        f.open(CardMode::Edit, id);
        f.ui.ToolButton26->click();
        QVERIFY(!f.rf->isVisible());
        QVERIFY(msg::shown().isEmpty());
        // A habit box counts; "(!)" is appended once.
        f.open(CardMode::Edit, id);
        f.ui.ch_fish->click();
        f.ui.ed_fam->setText(QStringLiteral("Иной"));
        QCOMPARE(f.rf->windowTitle(), QStringLiteral("Редактирование(!)"));
        msg::script({msg::Answer::No});
        f.rf->close();
        QVERIFY(!f.rf->isVisible());
        QCOMPARE(msg::shown().size(), 1);
        QCOMPARE(msg::shown().first().caption, QStringLiteral("Внимание!"));
        QCOMPARE(msg::shown().first().buttons, msg::Buttons::YesNo);
        QCOMPARE(f.value(QStringLiteral("SELECT fam FROM base")), QStringLiteral("Закрытов"));
        // Yes stores and closes, in edit and in new mode.
        f.open(CardMode::Edit, id);
        f.ui.ed_fam->setText(QStringLiteral("Иной"));
        msg::script({msg::Answer::Yes});
        f.rf->close();
        QVERIFY(!f.rf->isVisible());
        QCOMPARE(f.value(QStringLiteral("SELECT fam FROM base")), QStringLiteral("Иной"));
        f.open(CardMode::New);
        f.ui.ed_fam->setText(QStringLiteral("Новенький"));
        msg::script({msg::Answer::Yes});
        f.rf->close();
        QVERIFY(!f.rf->isVisible());
        QCOMPARE(f.count(QStringLiteral("SELECT * FROM base WHERE fam = 'Новенький'")), 1);
        // No in new mode stores nothing.
        f.open(CardMode::New);
        f.ui.ed_fam->setText(QStringLiteral("Брошенный"));
        f.ui.ed_work->setEditText(QStringLiteral("Фирма нового"));
        msg::script({msg::Answer::No});
        f.rf->close();
        QVERIFY(!f.rf->isVisible());
        QCOMPARE(f.count(QStringLiteral("SELECT * FROM base WHERE fam = 'Брошенный'")), 0);
        // A new card's work place does not enter the reference list (only an edited card's does).
        f.open(CardMode::New);
        f.ui.ed_fam->setText(QStringLiteral("Сохранённый"));
        f.ui.ed_work->setEditText(QStringLiteral("Фирма нового"));
        f.ui.tb_save->click();
        QCOMPARE(f.count(QStringLiteral("SELECT * FROM base WHERE fam = 'Сохранённый'")), 1);
        QCOMPARE(f.count(QStringLiteral("SELECT * FROM organization WHERE org = 'Фирма нового'")), 0);
        // Save and exit on an unchanged new card stores nothing.
        f.open(CardMode::New);
        f.ui.BitBtn1->click();
        QVERIFY(!f.rf->isVisible());
        QCOMPARE(f.count(QStringLiteral("SELECT * FROM base")), 3);
        // Save and exit on a changed edit card stores and closes.
        f.open(CardMode::Edit, id);
        f.ui.ed_name2->setText(QStringLiteral("Отч"));
        f.ui.BitBtn1->click();
        QVERIFY(!f.rf->isVisible());
        QCOMPARE(f.value(QStringLiteral("SELECT name2 FROM base WHERE pk_id = %1").arg(id)), QStringLiteral("Отч"));
    }

    void badValuesAreStoredExactlyOrRefusedWhole()
    {
        Fixture f;
        f.open(CardMode::New);
        QString note;
        while (note.size() < 5000)
            note += QStringLiteral("Заметка с 'кавычкой' и \"двойной\"\n");
        f.ui.ed_fam->setText(QStringLiteral("О'Нил"));
        f.ui.mm_other->setPlainText(note);
        f.ui.sn_[0]->setText(QStringLiteral("x"));
        f.ui.tb_save->click();
        QVERIFY(!f.rf->isVisible());
        QCOMPARE(f.value(QStringLiteral("SELECT fam FROM base")), QStringLiteral("О'Нил"));
        QString stored = note;
        QCOMPARE(f.value(QStringLiteral("SELECT other FROM base")), stored.replace(u"\n"_s, u"\r\n"_s));

        // Text outside CP1251 or longer than its column: a message, nothing written, the card stays marked.
        for (const auto &[field, value] : {std::pair{QStringLiteral("ed_name1"), QStringLiteral("Zoë 日本")},
                                           std::pair{QStringLiteral("ed_fam"), QString(500, QLatin1Char('x'))},
                                           std::pair{QStringLiteral("sn_3"), QStringLiteral("☺")}}) {
            f.open(CardMode::New);
            find<QLineEdit>(f.rf, field)->setText(value);
            f.ui.sn_[0]->setText(QStringLiteral("acc"));
            f.ui.tb_save->click();
            QVERIFY(f.rf->isVisible());
            const QStringList t = texts();
            QCOMPARE(t.size(), 1);
            QVERIFY2(t.first().contains(QStringLiteral("Windows-1251")) ||
                         t.first().contains(QStringLiteral("длинный")),
                     qPrintable(t.first()));
            QVERIFY(f.rf->CardChanged && f.rf->AccountsChanged);
            QVERIFY(f.rf->windowTitle().endsWith(QStringLiteral("(!)")));
            QCOMPARE(f.count(QStringLiteral("SELECT * FROM base")), 1);
            QCOMPARE(f.count(QStringLiteral("SELECT * FROM accounts")), 1);
            msg::script({msg::Answer::No});
            f.rf->close();
        }
    }

    void failedSaveKeepsTheCardOpenAndMarked()
    {
        Fixture f;
        const qint64 id = f.p.addCard(listed(u"Ошибкин"_s));
        f.p.exec(QStringLiteral("ALTER TABLE base ADD CONSTRAINT no_boom CHECK (fam IS NULL OR fam <> 'boom')"));
        f.open(CardMode::Edit, id);
        f.ui.ed_fam->setText(QStringLiteral("boom"));
        f.ui.sn_[0]->setText(QStringLiteral("a"));
        msg::script({msg::Answer::Yes});
        f.rf->close();
        QVERIFY(f.rf->isVisible()); // the save failed: nothing is lost
        QVERIFY(f.rf->CardChanged && f.rf->AccountsChanged);
        QCOMPARE(f.rf->windowTitle(), QStringLiteral("Редактирование(!)"));
        const QList<msg::Shown> shown = msg::takeShown();
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown[1].caption, QStringLiteral("Ошибка"));
        QVERIFY(shown[1].text.contains(QStringLiteral("NO_BOOM")));
        // Closing asks again; No drops the changes.
        msg::script({msg::Answer::No});
        f.rf->close();
        QVERIFY(!f.rf->isVisible());
        QCOMPARE(msg::takeShown().size(), 1);
        QCOMPARE(f.value(QStringLiteral("SELECT fam FROM base")), QStringLiteral("Ошибкин"));
        QCOMPARE(f.count(QStringLiteral("SELECT * FROM accounts")), 0);
    }

    // The reference boxes have no Enter, and what is typed into them stays as typed.
    void dropDownsKeepTheirText()
    {
        Fixture f;
        f.p.exec(QStringLiteral("INSERT INTO organization (org) VALUES ('ООО \"Ромашка\"');\n"
                                "INSERT INTO organization (org) VALUES ('АО Вектор')"));
        const qint64 id = f.p.addCard({{u"fam"_s, u"Ивашкина"_s},
                                       {u"post"_s, u"П"_s},
                                       {u"work"_s, u"АО Вектор"_s},
                                       {u"wmail"_s, u"m"_s},
                                       {u"wtel"_s, u"t"_s}});
        f.mf->db.IBTrans.commit(); // see what the test wrote
        f.mf->FillRefLists();
        f.open(CardMode::Edit, id);
        auto *work = find<QComboBox>(f.rf, QStringLiteral("ed_work"));
        QCOMPARE(work->count(), 2);
        for (int i = 0; i < 4; ++i)
            QTest::keyClick(work->lineEdit(), Qt::Key_Return);
        QCOMPARE(work->currentText(), QStringLiteral("АО Вектор"));
        QVERIFY(!f.rf->CardChanged);
        // Typed in lower case, the text stays so when the box is left, and is stored so.
        work->lineEdit()->selectAll();
        typeText(work->lineEdit(), QStringLiteral("ао вектор"));
        emit work->lineEdit()->editingFinished();
        QCOMPARE(work->currentText(), QStringLiteral("ао вектор"));
        QTest::keyClick(work->lineEdit(), Qt::Key_Return);
        QCOMPARE(work->currentText(), QStringLiteral("ао вектор"));
        find<QToolButton>(f.rf, QStringLiteral("tb_save"))->click();
        QCOMPARE(f.value(QStringLiteral("SELECT work FROM base")), QStringLiteral("ао вектор"));
        f.rf->close();
    }

    // Values reach the database exactly as shown, and long ones show their beginning.
    void valuesAsTyped()
    {
        Fixture f;
        const QString mail = QStringLiteral("ivanov.ivan.ivanovich@romashka.ru");
        const qint64 id = f.p.addCard({{u"fam"_s, u"Иванов"_s},
                                       {u"post"_s, u"П"_s},
                                       {u"work"_s, u"Р"_s},
                                       {u"wmail"_s, mail},
                                       {u"wtel"_s, u"t"_s}});
        f.open(CardMode::Edit, id);
        auto *wmail = find<QLineEdit>(f.rf, QStringLiteral("ed_wmail"));
        QCOMPARE(wmail->text(), mail);
        QCOMPARE(wmail->cursorPosition(), 0);
        // A no-break space typed into the memos is kept.
        auto *other = find<QPlainTextEdit>(f.rf, QStringLiteral("mm_other"));
        auto *rem = find<QPlainTextEdit>(f.rf, QStringLiteral("mm_rem"));
        other->setPlainText(QStringLiteral("10\u00A0000 руб.\nвторая строка"));
        typeText(rem, QStringLiteral("т.\u00A0е."));
        find<QToolButton>(f.rf, QStringLiteral("tb_save"))->click();
        QCOMPARE(f.value(QStringLiteral("SELECT other FROM base")),
                 QStringLiteral("10\u00A0000 руб.\r\nвторая строка"));
        QCOMPARE(f.value(QStringLiteral("SELECT rem FROM base")), QStringLiteral("т.\u00A0е."));
        f.rf->close();
    }

    // A byte that Windows-1251 leaves undefined, written by another program,
    // survives saves of the card; an edit that keeps it is refused with its place.
    void undefinedByteWrittenByAnotherProgram()
    {
        Fixture f;
        const qint64 id = f.p.addCard(listed(u"Ивановы"_s));
        f.p.exec(QStringLiteral("UPDATE base SET fam = 'Ива' || ASCII_CHAR(152) || 'нов'"));
        const QString stored = QStringLiteral("Ива") + QChar(0xF798) + QStringLiteral("нов");
        f.open(CardMode::Edit, id);
        auto *fam = find<QLineEdit>(f.rf, QStringLiteral("ed_fam"));
        QCOMPARE(fam->text(), stored);
        find<QLineEdit>(f.rf, QStringLiteral("ed_ps"))->setText(QStringLiteral("4510"));
        find<QToolButton>(f.rf, QStringLiteral("tb_save"))->click();
        QCOMPARE(texts(), QStringList());
        QCOMPARE(f.value(QStringLiteral("SELECT ps FROM base")), QStringLiteral("4510"));
        QCOMPARE(f.count(QStringLiteral("SELECT * FROM base WHERE fam = 'Ива' || ASCII_CHAR(152) || 'нов'")), 1);
        // Edited, with the byte still in it: the field and the place are named, nothing is stored.
        fam->setText(stored + QStringLiteral("а"));
        find<QToolButton>(f.rf, QStringLiteral("tb_save"))->click();
        const QStringList shown = texts();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown.first().contains(QStringLiteral("«Фамилия» в позиции 4")), qPrintable(shown.first()));
        QVERIFY(f.rf->CardChanged);
        QCOMPARE(f.count(QStringLiteral("SELECT * FROM base WHERE fam = 'Ива' || ASCII_CHAR(152) || 'нов'")), 1);
        msg::script({msg::Answer::No});
        f.rf->close();
    }

    // A habit toggled by a screen reader (its toggle action, no click) marks the card changed.
    void habitToggledByScreenReader()
    {
        Fixture f;
        const qint64 id = f.p.addCard(listed(u"Курилов"_s));
        f.open(CardMode::Edit, id);
        auto *smok = find<QCheckBox>(f.rf, QStringLiteral("ch_smok"));
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(smok);
        QVERIFY(iface && iface->actionInterface());
        iface->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        QVERIFY(smok->isChecked());
        QVERIFY(f.rf->CardChanged);
        QCOMPARE(f.rf->windowTitle(), QStringLiteral("Редактирование(!)"));
        msg::script({msg::Answer::Yes});
        f.rf->close();
        QCOMPARE(texts(), QStringList{QStringLiteral("Запись была изменена, сохраненить изменения?")});
        QCOMPARE(f.value(QStringLiteral("SELECT smok FROM base")), QStringLiteral("1"));
    }

    // A new card whose save failed half-way is stored once, whole, by the next save.
    void newCardStoredOnceAfterAFailedSave()
    {
        Fixture f;
        f.p.exec(QStringLiteral("ALTER TABLE accounts ADD CONSTRAINT no_bad CHECK (adr1 IS NULL OR adr1 <> 'bad')"));
        f.open(CardMode::New);
        typeText(find<QLineEdit>(f.rf, QStringLiteral("ed_fam")), QStringLiteral("Новиков"));
        find<QLineEdit>(f.rf, QStringLiteral("sn_1"))->setText(QStringLiteral("bad"));
        find<QToolButton>(f.rf, QStringLiteral("tb_save"))->click();
        QVERIFY(f.rf->isVisible());
        QVERIFY(texts().join(QString()).contains(QStringLiteral("NO_BAD")));
        QCOMPARE(f.count(QStringLiteral("SELECT * FROM base")), 0);
        find<QLineEdit>(f.rf, QStringLiteral("sn_1"))->setText(QStringLiteral("good"));
        find<QToolButton>(f.rf, QStringLiteral("tb_save"))->click();
        QVERIFY(!f.rf->isVisible());
        QCOMPARE(f.count(QStringLiteral("SELECT * FROM base")), 1);
        QCOMPARE(f.value(QStringLiteral("SELECT a.adr1 FROM accounts a JOIN base b ON b.pk_id = a.bs_fk")),
                 QStringLiteral("good"));
    }

    void cardDeletedMeanwhile()
    {
        Fixture f;
        const qint64 id = f.p.addCard(listed(u"Исчезнувший"_s, {{u"name1"_s, u"Имя"_s}}));
        f.open(CardMode::Edit, id);
        f.p.exec(QStringLiteral("DELETE FROM base"));
        f.mf->db.IBTrans.commit();
        f.ui.ed_work->setEditText(QStringLiteral("Фирма-призрак"));
        f.ui.sn_[0]->setText(QStringLiteral("a"));
        f.ui.tb_save->click();
        QCOMPARE(texts(), QStringList{QStringLiteral("Запись не обнаружена, рекомендуется тестирование базы данных")});
        QVERIFY(f.rf->CardChanged);
        QCOMPARE(f.count(QStringLiteral("SELECT * FROM organization")), 0);
        QCOMPARE(f.count(QStringLiteral("SELECT * FROM accounts")), 0);
        msg::script({msg::Answer::No});
        f.rf->close();
        // Opening a card that is gone shows empty fields, not the previous card's.
        const qint64 other = f.p.addCard(listed(u"Второй"_s, {{u"name1"_s, u"Полный"_s}}));
        f.open(CardMode::Edit, other);
        QCOMPARE(f.ui.ed_name1->text(), QStringLiteral("Полный"));
        f.p.exec(QStringLiteral("DELETE FROM base"));
        f.mf->db.IBTrans.commit();
        f.rf->FormActivate();
        QCOMPARE(f.ui.ed_name1->text(), QString());
        QCOMPARE(texts(), QStringList{QStringLiteral("Запись не обнаружена, рекомендуется тестирование базы данных")});
        f.rf->close();
    }

    void deletingFromTheCard()
    {
        Fixture f;
        const qint64 id = f.p.addCard(listed(u"Удалёнкин"_s));
        f.p.exec(QStringLiteral("INSERT INTO accounts (bs_fk, sn1) VALUES (%1, 'VK')").arg(id));
        f.open(CardMode::Edit, id);
        f.ui.ed_fam->setText(QStringLiteral("изменён, не сохранён"));
        msg::script({msg::Answer::No});
        f.ui.tb_del->click();
        QVERIFY(f.rf->isVisible());
        msg::takeShown();
        msg::script({msg::Answer::Yes});
        f.ui.tb_del->click();
        QVERIFY(!f.rf->isVisible());
        const QList<msg::Shown> shown = msg::takeShown();
        QCOMPARE(shown.size(), 1); // only the deletion question: no save question afterwards
        QCOMPARE(shown.first().caption, QStringLiteral("Удаление"));
        QCOMPARE(f.count(QStringLiteral("SELECT * FROM base")), 0);
        QCOMPARE(f.count(QStringLiteral("SELECT * FROM accounts")), 0);
        QCOMPARE(f.mf->model()->cardCount(), 0);
    }

    void openedFromTheMainWindow()
    {
        Fixture f;
        const qint64 a = f.p.addCard(listed(u"Аа"_s));
        f.p.addCard(listed(u"Бб"_s));
        f.mf->db.IBTrans.commit();
        f.mf->FillList();
        f.mf->selectRow(0);
        const QStringList shown = uitest::whileModal([&] { f.mf->N15Click(); },
                                                     [&](QWidget *w) {
                                                         QCOMPARE(w, static_cast<QWidget *>(f.rf));
                                                         QCOMPARE(f.rf->CardId, a);
                                                         QCOMPARE(f.ui.ed_fam->text(), QStringLiteral("Аа"));
                                                         f.ui.ed_name1->setText(QStringLiteral("Сохранено"));
                                                         f.ui.BitBtn1->click();
                                                     });
        QCOMPARE(shown, QStringList{QStringLiteral("TRF")});
        QCOMPARE(f.value(QStringLiteral("SELECT name1 FROM base WHERE pk_id = %1").arg(a)),
                 QStringLiteral("Сохранено"));
        QCOMPARE(uitest::listColumn(f.mf, 1).first(), QStringLiteral("Аа Сохранено "));
    }

    // Every control has a name a screen reader reads, and no two share one:
    // the personal and the work phone, the four account rows are told apart.
    void controlsAreNamedForScreenReaders()
    {
        Fixture f;
        QHash<QString, QString> named; // accessible name -> object name
        for (QWidget *w : f.rf->findChildren<QWidget *>()) {
            const bool control = qobject_cast<QLineEdit *>(w) || qobject_cast<QComboBox *>(w) ||
                                 qobject_cast<QAbstractButton *>(w) || qobject_cast<QPlainTextEdit *>(w);
            if (!control || w->objectName().isEmpty() || w->objectName().startsWith(QLatin1String("qt_")))
                continue;
            const QString name = w->accessibleName();
            QVERIFY2(!name.isEmpty(), qPrintable(w->objectName()));
            QVERIFY2(!named.contains(name),
                     qPrintable(named.value(name) + u" / "_s + w->objectName() + u": "_s + name));
            named.insert(name, w->objectName());
        }
        QVERIFY(named.size() > 40); // the fields, habits, accounts and buttons were all there
    }
};

QTEST_MAIN(TestCard)
#include "tst_card.moc"
