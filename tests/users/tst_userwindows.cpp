// The user list and the user editor: loading, the administrator's row,
// saving, deleting, the refused duplicate login, keys.

#include "app/context.h"
#include "app/messages.h"
#include "register/mainwindow.h"
#include "users/userwindows.h"
#include "uitest.h"

#include <QAccessible>
#include <QComboBox>
#include <QLineEdit>
#include <QStandardItemModel>
#include <QTableView>
#include <QToolButton>
#include <QtTest>

using namespace Qt::StringLiterals;
using uitest::find;
using uitest::Program;

namespace {

struct Fixture
{
    Fixture()
    {
        p.addUser(QStringLiteral("Администратор"), QStringLiteral("admin"), QStringLiteral("admin"),
                  QStringLiteral("full"));
        p.addUser(QStringLiteral("Борисов"), QStringLiteral("boris"), QStringLiteral("b"), QStringLiteral("read"));
        p.addUser(QStringLiteral("андреев"), QStringLiteral("andr"), QStringLiteral("a"), QStringLiteral("boss"));
        p.createWindows();
        p.loginDirect(QStringLiteral("admin"));
        uf = uitest::forms(p.mf).UF;
        uf1 = uitest::forms(p.mf).UF1;
        uf->FormActivate();
        uf->show();
        msg::takeShown();
    }
    QStringList column(int col) const
    {
        QStringList out;
        for (int r = 0; r < uf->model()->rowCount(); ++r)
            out << uf->model()->index(r, col).data().toString();
        return out;
    }
    void select(const QString &login) { uf->selectRow(int(column(2).indexOf(login))); }
    // Runs `open` (which shows the editor) and drives the editor with `drive`.
    QStringList edit(const std::function<void()> &open, const std::function<void()> &drive)
    {
        return uitest::whileModal(open, [&](QWidget *) { drive(); });
    }
    QString value(const QString &select) const { return testdb::Peek(p.dbPath).value(select); }

    Program p;
    TUF *uf = nullptr;
    TUF1 *uf1 = nullptr;
};

void type(QWidget *w, const QString &text)
{
    for (QChar c : text)
        QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

void ctrlS(QWidget *w)
{
    QTest::keyClick(w, Qt::Key_S, Qt::ControlModifier);
}

} // namespace

class TestUserWindows : public QObject
{
    Q_OBJECT

private slots:
    // The list in Cyrillic order with the levels in words; the id column hidden.
    void list()
    {
        Fixture f;
        QCOMPARE(f.column(1), (QStringList{u"Администратор"_s, u"андреев"_s, u"Борисов"_s}));
        QCOMPARE(f.column(3), (QStringList{u"Полный"_s, u"Полный"_s, u"Только чтение"_s}));
        QVERIFY(f.uf->Grid->isColumnHidden(0));
        QVERIFY(f.column(0).at(0).toLongLong() > 0);
        QCOMPARE(f.uf->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral(" Фамилия Имя Отчество"));
        // Every control of both windows has a name a screen reader reads.
        for (QWidget *top : {static_cast<QWidget *>(f.uf), static_cast<QWidget *>(f.uf1)}) {
            QVERIFY(!top->accessibleName().isEmpty());
            for (QWidget *w : top->findChildren<QWidget *>()) {
                const bool control = qobject_cast<QLineEdit *>(w) || qobject_cast<QComboBox *>(w) ||
                                     qobject_cast<QAbstractButton *>(w) || qobject_cast<QTableView *>(w);
                if (control && w->window() == top && !w->objectName().isEmpty() &&
                    !w->objectName().startsWith(QLatin1String("qt_")))
                    QVERIFY2(!w->accessibleName().isEmpty(), qPrintable(w->objectName()));
            }
        }
    }

    // The administrator's row: name, login and level locked, the password
    // editable and stored by Ctrl+S; "new" afterwards gives four empty, open fields.
    void administratorThenNew()
    {
        Fixture f;
        f.select(QStringLiteral("admin"));
        const QStringList shown =
            f.edit([&] { f.uf->tb_editClick(); },
                   [&] {
                       QCOMPARE(f.uf1->fio->text(), QStringLiteral("Администратор"));
                       QVERIFY(!f.uf1->fio->isEnabled() && !f.uf1->login->isEnabled() && !f.uf1->level->isEnabled());
                       QVERIFY(f.uf1->pass->isEnabled());
                       QCOMPARE(f.uf1->pass->echoMode(), QLineEdit::Password);
                       QCOMPARE(f.uf1->windowTitle(), QStringLiteral("Редактирование данных пользователя"));
                       QVERIFY(!f.uf1->Modified);
                       f.uf1->pass->selectAll();
                       type(f.uf1->pass, QStringLiteral("s3cret"));
                       QCOMPARE(f.uf1->windowTitle(), QStringLiteral("Редактирование данных пользователя(!)"));
                       ctrlS(f.uf1->pass);
                       QVERIFY(!f.uf1->isVisible());
                   });
        QCOMPARE(shown, QStringList{u"TUF1"_s});
        QCOMPARE(f.value(QStringLiteral("SELECT fio || '|' || pass || '|' || level FROM pers WHERE login = 'admin'")),
                 QStringLiteral("Администратор|s3cret|full"));

        f.edit([&] { f.uf->tb_newClick(); },
               [&] {
                   for (QLineEdit *e : {f.uf1->fio, f.uf1->login, f.uf1->pass})
                       QVERIFY(e->text().isEmpty() && e->isEnabled());
                   QVERIFY(f.uf1->level->isEnabled());
                   QCOMPARE(f.uf1->level->currentIndex(), 0);
                   QCOMPARE(f.uf1->EditedId, qint64(-1));
                   QVERIFY(!f.uf1->Modified);
               });
    }

    // The administrator's locked fields set through a screen reader are not
    // stored: the login stays, so the administrator can still log in and
    // is still the one who cannot be deleted.
    void administratorRenamedThroughAScreenReader()
    {
        Fixture f;
        f.select(QStringLiteral("admin"));
        f.edit([&] { f.uf->tb_editClick(); },
               [&] {
                   QAccessibleInterface *login = QAccessible::queryAccessibleInterface(f.uf1->login);
                   QVERIFY(login);
                   login->setText(QAccessible::Value, QStringLiteral("boss"));
                   QCOMPARE(f.uf1->login->text(), QStringLiteral("boss")); // the field took it
                   ctrlS(f.uf1->pass);
                   msg::script({msg::Answer::No});
                   f.uf1->close();
               });
        const QList<msg::Shown> shown = msg::takeShown();
        QVERIFY(!shown.isEmpty() && shown[0].text.contains(QStringLiteral("администратора")));
        QCOMPARE(f.value(QStringLiteral("SELECT LIST(login) FROM pers WHERE fio = 'Администратор'")),
                 QStringLiteral("admin"));
    }

    // A level neither "read" nor "full" shows as full and is stored as "full";
    // the list follows the save at once.
    void oddLevelAndRefill()
    {
        Fixture f;
        f.select(QStringLiteral("andr"));
        f.edit([&] { f.uf->tb_editClick(); },
               [&] {
                   QCOMPARE(f.uf1->level->currentIndex(), 1);
                   QVERIFY(f.uf1->fio->isEnabled());
                   f.uf1->fio->setText(QStringLiteral("Яшин"));
                   f.uf1->tb_save->click();
               });
        QCOMPARE(f.value(QStringLiteral("SELECT level || '|' || fio FROM pers WHERE login = 'andr'")),
                 QStringLiteral("full|Яшин"));
        QCOMPARE(f.column(1), (QStringList{u"Администратор"_s, u"Борисов"_s, u"Яшин"_s}));
        QVERIFY(msg::takeShown().isEmpty());
    }

    // A new user: nothing stored without a login or a full name, an empty
    // password is fine, a login another user holds is refused and kept on screen.
    void newUser()
    {
        Fixture f;
        f.edit([&] { f.uf->tb_newClick(); },
               [&] {
                   type(f.uf1->fio, QStringLiteral("Сидоров"));
                   ctrlS(f.uf1->fio); // no login yet
                   QVERIFY(f.uf1->isVisible());
                   QVERIFY(msg::takeShown().isEmpty());
                   type(f.uf1->login, QStringLiteral("admin"));
                   ctrlS(f.uf1->login);
                   const QList<msg::Shown> shown = msg::takeShown();
                   QCOMPARE(shown.size(), 1);
                   QVERIFY2(shown[0].text.contains(QStringLiteral("«Администратор»")), qPrintable(shown[0].text));
                   QCOMPARE(shown[0].caption, QStringLiteral("Ошибка"));
                   QVERIFY(f.uf1->isVisible() && f.uf1->Modified);
                   QVERIFY(f.uf1->windowTitle().endsWith(QStringLiteral("(!)")));
                   type(f.uf1->login, QStringLiteral("2"));
                   f.uf1->level->setCurrentIndex(1);
                   ctrlS(f.uf1->level);
                   QVERIFY(!f.uf1->isVisible());
               });
        QCOMPARE(f.value(QStringLiteral("SELECT fio || '|' || pass || '|' || level FROM pers WHERE login = 'admin2'")),
                 QStringLiteral("Сидоров||full"));
        QCOMPARE(f.value(QStringLiteral("SELECT COUNT(*) FROM pers WHERE login = 'admin'")), QStringLiteral("1"));
        QVERIFY(f.column(2).contains(QStringLiteral("admin2")));
    }

    // Enter moves on and never stores; Esc leaves, asking first when changed;
    // answering Yes without a login keeps the editor open with the change.
    void keys()
    {
        Fixture f;
        f.select(QStringLiteral("boris"));
        f.edit([&] { QTest::keyClick(f.uf->Grid, Qt::Key_F4); },
               [&] {
                   QCOMPARE(f.uf1->focusWidget(), f.uf1->fio);
                   QTest::keyClick(f.uf1->fio, Qt::Key_Return);
                   QCOMPARE(f.uf1->focusWidget(), f.uf1->login);
                   type(f.uf1->login, QStringLiteral("x"));
                   QTest::keyClick(f.uf1->login, Qt::Key_Enter, Qt::KeypadModifier);
                   QCOMPARE(f.uf1->focusWidget(), f.uf1->pass);
                   QTest::keyClick(f.uf1->pass, Qt::Key_Return);
                   QCOMPARE(f.uf1->focusWidget(), f.uf1->level);
                   QVERIFY(f.uf1->isVisible());
                   QCOMPARE(f.value(QStringLiteral("SELECT COUNT(*) FROM pers WHERE login = 'borisx'")),
                            QStringLiteral("0"));

                   f.uf1->login->clear();
                   msg::script({msg::Answer::Yes});
                   QTest::keyClick(f.uf1->level, Qt::Key_Escape);
                   const QList<msg::Shown> shown = msg::takeShown();
                   QCOMPARE(shown.size(), 2);
                   QCOMPARE(shown[0].text, QStringLiteral("Запись была изменена, сохраненить изменения?"));
                   QCOMPARE(shown[0].caption, QStringLiteral("Внимание!"));
                   QCOMPARE(shown[0].buttons, msg::Buttons::YesNo);
                   QVERIFY(shown[1].text.contains(QStringLiteral("«Логин»")));
                   QVERIFY(f.uf1->isVisible() && f.uf1->Modified);

                   msg::script({msg::Answer::No});
                   QTest::keyClick(f.uf1->login, Qt::Key_Escape);
                   QVERIFY(!f.uf1->isVisible());
               });
        QCOMPARE(f.value(QStringLiteral("SELECT login FROM pers WHERE fio = 'Борисов'")), QStringLiteral("boris"));
        msg::takeShown();

        // An unchanged editor leaves on Esc without a question; F7 opens a new one, Alt+F4 does not edit.
        QStringList shown = f.edit([&] { QTest::keyClick(f.uf->Grid, Qt::Key_F7); },
                                   [&] {
                                       QVERIFY(f.uf1->NewRecord);
                                       QTest::keyClick(f.uf1->fio, Qt::Key_Escape);
                                       QVERIFY(!f.uf1->isVisible());
                                   });
        QCOMPARE(shown, QStringList{u"TUF1"_s});
        QVERIFY(msg::takeShown().isEmpty());
        shown = f.edit([&] { QTest::keyClick(f.uf->Grid, Qt::Key_F4, Qt::AltModifier); }, [] {});
        QVERIFY(shown.isEmpty());
    }

    // The administrator cannot be deleted (no question at all); another user only after Yes.
    void deleting()
    {
        Fixture f;
        f.select(QStringLiteral("admin"));
        msg::script({msg::Answer::Yes});
        f.uf->tb_del->click();
        QVERIFY(msg::takeShown().isEmpty());
        QCOMPARE(f.column(2).size(), 3);
        msg::setTestMode(true); // drops the unused answer

        f.select(QStringLiteral("boris"));
        f.uf->tb_del->click(); // unscripted: No
        QList<msg::Shown> shown = msg::takeShown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].caption, QStringLiteral("Удаление"));
        QCOMPARE(shown[0].owner.data(), f.uf);
        QCOMPARE(f.column(2).size(), 3);

        msg::script({msg::Answer::Yes});
        f.uf->tb_del->click();
        QCOMPARE(f.column(2), (QStringList{u"admin"_s, u"andr"_s}));
        QCOMPARE(f.value(QStringLiteral("SELECT COUNT(*) FROM pers")), QStringLiteral("2"));

        // A user deleted by another copy meanwhile: editing says so, shows no editor and refills.
        f.select(QStringLiteral("andr"));
        f.p.exec(QStringLiteral("DELETE FROM pers WHERE login = 'andr'"));
        msg::takeShown();
        QVERIFY(f.edit([&] { f.uf->tb_editClick(); }, [] {}).isEmpty());
        shown = msg::takeShown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].text, QStringLiteral("Запись не обнаружена, рекомендуется тестирование базы данных"));
        QCOMPARE(f.column(2), QStringList{u"admin"_s});
    }
};

QTEST_MAIN(TestUserWindows)
#include "tst_userwindows.moc"
