// "Телефоны и почта": the server's address kept in the database, and the
// window where a user makes, sees and revokes his device passwords.

#include "app/messages.h"
#include "app/session.h"
#include "carddav/davsettings.h"
#include "carddav/devicepasswords.h"
#include "db/schema.h"
#include "devices/devicewindow.h"
#include "register/mainwindow.h"
#include "uitest.h"

#include <QAction>
#include <QClipboard>
#include <QDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

using namespace Qt::StringLiterals;
using uitest::find;
using uitest::Program;

namespace {

// Few rounds: the tests check the window, not the hash's cost.
constexpr int kTestRounds = 1000;

// Every control a user can reach by Tab has a name for screen readers.
QStringList unnamedControls(const QWidget *top)
{
    QStringList out;
    for (const QWidget *w : top->findChildren<QWidget *>())
        if (uitest::inOwnWindow(top, w) && w->isVisibleTo(top) && (w->focusPolicy() & Qt::TabFocus) &&
            w->accessibleName().isEmpty() && !w->objectName().startsWith(u"qt_"_s))
            out << QString::fromLatin1(w->metaObject()->className()) + u' ' + w->objectName();
    return out;
}

QStringList column(const QTableWidget *grid, int col)
{
    QStringList out;
    for (int r = 0; r < grid->rowCount(); ++r)
        out << grid->item(r, col)->text();
    return out;
}

} // namespace

class TestDeviceWindow : public QObject
{
    Q_OBJECT

private slots:
    // The address is checked, stored for every copy, replaced and cleared; a
    // database without the table says so and the upgrade brings it back.
    void serverAddress()
    {
        using davdb::DavSettings;
        for (const QString &bad : {u"zentrax.office.local"_s, u"ftp://zentrax.office.local/"_s, u"https://"_s,
                                   u"http:///dav"_s, u"https://zen trax.local/"_s, u"https://ivanov:x@host/"_s,
                                   u"https://host:port/"_s, u"https://"_s + QString(400, u'a') + u".ru/"_s})
            QVERIFY2(!DavSettings::addressProblem(bad).isEmpty(), qPrintable(bad));
        for (const QString &good : {u"https://zentrax.office.local:8443/"_s, u"HTTP://10.0.0.5:8080/dav/"_s,
                                    u"  https://сервер.офис.рф/  "_s})
            QVERIFY2(DavSettings::addressProblem(good).isEmpty(), qPrintable(good));
        QVERIFY(DavSettings::addressProblem(u"zentrax.office.local"_s).contains(u"https://"_s));

        testdb::SharedFixture f;
        DavSettings settings(f.s.access);
        QVERIFY(settings.kept());
        QCOMPARE(settings.address(), QString());
        settings.setAddress(u"  https://zentrax.office.local:8443/ "_s);
        settings.setAddress(u"https://dav.office.local/"_s); // replaces, not a second row
        QCOMPARE(f.count(u"SELECT * FROM carddav_settings"_s), 1);
        // Another copy of the program reads it.
        SharedDb other;
        testdb::open(other, f.path);
        QCOMPARE(DavSettings(other.access).address(), u"https://dav.office.local/"_s);
        // A wrong one is refused and the stored one stays.
        QVERIFY_THROWS_EXCEPTION(db::DbError, settings.setAddress(u"dav.office.local"_s));
        QCOMPARE(settings.address(), u"https://dav.office.local/"_s);
        settings.setAddress(QString());
        QCOMPARE(DavSettings(other.access).address(), QString());
        other.IBDbase.close();

        // A database upgraded before the table came: no address, none stored,
        // until the upgrade adds the table alone.
        testdb::addUser(f.path, u"Иванов"_s, u"ivanov"_s, u"x"_s, u"full"_s);
        const QString phone = davdb::DevicePasswords(f.s.access, kTestRounds).add(u"ivanov"_s, u"x"_s, u"Телефон"_s);
        f.s.IBDbase.close(); // its statements on the table would keep it
        testdb::exec(f.path, u"DROP TABLE carddav_settings"_s);
        f.s.IBDbase.open();
        QVERIFY(!settings.kept());
        QVERIFY(settings.passwordsKept());
        QCOMPARE(settings.address(), QString());
        QVERIFY_THROWS_EXCEPTION(db::DbError, settings.setAddress(u"https://dav.office.local/"_s));
        QCOMPARE(schema::pendingUpgrade(f.s.IBDbase).value(0).name, u"carddav"_s);
        const schema::UpgradeReport report = schema::upgrade(f.s.IBDbase);
        QCOMPARE(report.done, QStringList{u"carddav"_s});
        QVERIFY(schema::pendingUpgrade(f.s.IBDbase).isEmpty());
        settings.setAddress(u"https://dav.office.local/"_s);
        QCOMPARE(settings.address(), u"https://dav.office.local/"_s);
        QVERIFY(davdb::DevicePasswords(f.s.access, kTestRounds).authenticate(u"ivanov"_s, phone));
    }

    // A user opens the window from the menu and sees his own passwords only;
    // a wrong desktop password makes none and keeps the dialog as typed; the
    // right one shows the new password once, and it logs in; revoking it
    // (after a "no" first) stops it.
    void makeListAndRevoke()
    {
        Program p;
        p.addUser(u"Иванов"_s, u"ivanov"_s, u"x"_s, u"read"_s);
        p.addUser(u"Петров"_s, u"petrov"_s, u"p"_s, u"full"_s);
        TMF *mf = p.createWindows();
        p.loginDirect(u"ivanov"_s, u"read"_s);
        davdb::DevicePasswords passwords(p.session->db.access, kTestRounds);
        const QString tablet = passwords.add(u"ivanov"_s, u"x"_s, u"Планшет"_s);
        QVERIFY(passwords.authenticate(u"ivanov"_s, tablet));
        passwords.add(u"petrov"_s, u"p"_s, u"Ноутбук Петрова"_s);
        davdb::DavSettings(p.session->db.access).setAddress(u"https://zentrax.office.local:8443/"_s);
        TDevF *w = p.forms.DevF;
        w->hashRounds = kTestRounds;

        // In the database menu right after the duplicates, for a user with read rights too.
        QAction *n24 = find<QAction>(mf, u"N24"_s);
        const QList<QAction *> menu = mf->menuBar()->actions().value(0)->menu()->actions();
        QCOMPARE(menu.indexOf(n24), menu.indexOf(find<QAction>(mf, u"N23"_s)) + 1);
        QStringList shown = uitest::whileModal([&] { n24->trigger(); },
                                               [&](QWidget *top) {
                                                   QCOMPARE(top, static_cast<QWidget *>(w));
                                                   QCOMPARE(w->focusWidget(), w->Grid);
                                                   QCOMPARE(unnamedControls(w), QStringList());
                                                   // Esc closes, the grid having the focus.
                                                   QTest::keyClick(w->Grid, Qt::Key_Escape);
                                                   QVERIFY(!w->isVisible());
                                               });
        QCOMPARE(shown, QStringList{u"TDevF"_s});
        QCOMPARE(w->edAddress->text(), u"https://zentrax.office.local:8443/"_s);
        QVERIFY(w->lbHint->text().contains(u"«ivanov»"_s));
        QVERIFY(!w->btAddress->isVisibleTo(w)); // the administrator's alone
        QCOMPARE(column(w->Grid, 0), QStringList{u"Планшет"_s});
        QVERIFY(w->Grid->item(0, 2)->text() != u"—"_s); // it logged in above

        // A wrong desktop password, then the right one in the same dialog.
        QString password;
        msg::takeShown();
        shown = uitest::whileModal(
            [&] { QTest::keyClick(w->Grid, Qt::Key_F7); },
            [&](QWidget *d) {
                if (d->objectName() == u"dlgNew"_s) {
                    QCOMPARE(unnamedControls(d), QStringList());
                    uitest::typeText(find<QLineEdit>(d, u"edLabel"_s), u"Телефон Android"_s);
                    QTest::keyClick(find<QLineEdit>(d, u"edLabel"_s), Qt::Key_Return); // on to the password
                    QCOMPARE(d->focusWidget(), find<QLineEdit>(d, u"edDesktopPassword"_s));
                    uitest::typeText(find<QLineEdit>(d, u"edDesktopPassword"_s), u"wrong"_s);
                    QTest::keyClick(find<QLineEdit>(d, u"edDesktopPassword"_s), Qt::Key_Return);
                    QCOMPARE(uitest::texts(), QStringList{u"Неверный логин или пароль."_s});
                    QVERIFY(d->isVisible());
                    QCOMPARE(find<QLineEdit>(d, u"edLabel"_s)->text(), u"Телефон Android"_s);
                    QCOMPARE(testdb::Peek(p.dbPath).count(
                                 u"SELECT * FROM carddav_passwords WHERE label = 'Телефон Android'"_s),
                             0);
                    find<QLineEdit>(d, u"edDesktopPassword"_s)->setText(u"x"_s);
                    find<QPushButton>(d, u"btOk"_s)->click();
                } else if (d->objectName() == u"dlgShown"_s) {
                    // Shown with the list behind it already holding the device.
                    QVERIFY(column(w->Grid, 0).contains(u"Телефон Android"_s));
                    QCOMPARE(unnamedControls(d), QStringList());
                    auto *ed = find<QLineEdit>(d, u"edPassword"_s);
                    password = ed->text();
                    const QString text = find<QLabel>(d, u"lbShown"_s)->text();
                    QVERIFY(text.contains(u"только сейчас"_s) && text.contains(u"«ivanov»"_s));
                    find<QPushButton>(d, u"btCopy"_s)->click();
                    QCOMPARE(QGuiApplication::clipboard()->text(), password);
                    QTest::keyClick(ed, Qt::Key_Return);
                    QVERIFY(!d->isVisible());
                }
            });
        QCOMPARE(shown, (QStringList{u"QDialog"_s, u"QDialog"_s}));
        QCOMPARE(uitest::texts(), QStringList());
        QVERIFY(!password.isEmpty());
        // Nowhere in the window once the dialog is closed.
        for (const QLineEdit *e : w->findChildren<QLineEdit *>())
            QVERIFY(!e->text().contains(password));
        QCOMPARE(column(w->Grid, 0), (QStringList{u"Планшет"_s, u"Телефон Android"_s}));
        QCOMPARE(w->currentLabel(), u"Телефон Android"_s);
        QCOMPARE(w->Grid->item(1, 2)->text(), u"—"_s);
        // The phone logs in with the user's login, as typed with spaces or capitals too.
        QCOMPARE(passwords.authenticate(u"ivanov"_s, password.toUpper()), std::optional<qint64>(1));
        QVERIFY(!passwords.authenticate(u"petrov"_s, password));

        // Revoked by Delete on the grid, once the user says yes.
        msg::script({msg::Answer::No});
        QTest::keyClick(w->Grid, Qt::Key_Delete);
        QCOMPARE(w->Grid->rowCount(), 2);
        msg::script({msg::Answer::Yes});
        w->btRevoke->click();
        const QList<msg::Shown> asked = msg::takeShown();
        QCOMPARE(asked.size(), 2);
        QVERIFY(asked[1].text.contains(u"«Телефон Android»"_s));
        QCOMPARE(asked[1].buttons, msg::Buttons::YesNo);
        QCOMPARE(column(w->Grid, 0), QStringList{u"Планшет"_s});
        QVERIFY(!davdb::DevicePasswords(p.session->db.access, kTestRounds).authenticate(u"ivanov"_s, password));
        QVERIFY(passwords.authenticate(u"ivanov"_s, tablet));
        QCOMPARE(testdb::Peek(p.dbPath).count(u"SELECT * FROM carddav_passwords"_s), 2); // Petrov's stays
    }

    // The administrator sets the address (a wrong one is refused in the
    // dialog); a database not upgraded offers nothing to change.
    void administratorAndOlderDatabase()
    {
        Program p;
        p.addUser(u"Администратор"_s, u"admin"_s, u"a"_s, u"full"_s);
        p.createWindows();
        p.loginDirect(u"admin"_s);
        TDevF *w = p.forms.DevF;
        w->FormActivate();
        QCOMPARE(w->edAddress->text(), u"Адрес сервера не задан: его задаёт администратор."_s);
        QVERIFY(w->btAddress->isVisibleTo(w));
        QCOMPARE(w->lbCount->text(), u"Паролей устройств пока нет: создайте его кнопкой «Новый пароль...»."_s);
        QVERIFY(!w->btRevoke->isEnabled());

        msg::takeShown();
        uitest::whileModal([&] { w->btAddress->click(); },
                           [&](QWidget *d) {
                               QCOMPARE(unnamedControls(d), QStringList());
                               auto *ed = find<QLineEdit>(d, u"edNewAddress"_s);
                               QCOMPARE(ed->text(), u"https://"_s);
                               ed->setText(u"zentrax.office.local:8443"_s);
                               QTest::keyClick(ed, Qt::Key_Return);
                               QCOMPARE(uitest::texts().size(), 1);
                               QVERIFY(d->isVisible());
                               ed->setText(u"https://zentrax.office.local:8443/"_s);
                               QTest::keyClick(ed, Qt::Key_Return);
                               QVERIFY(!d->isVisible());
                           });
        QCOMPARE(w->edAddress->text(), u"https://zentrax.office.local:8443/"_s);
        QCOMPARE(testdb::Peek(p.dbPath).value(u"SELECT val FROM carddav_settings WHERE name = 'address'"_s),
                 u"https://zentrax.office.local:8443/"_s);
        // Cancelled: the address stays.
        uitest::whileModal([&] { w->btAddress->click(); },
                           [&](QWidget *d) {
                               find<QLineEdit>(d, u"edNewAddress"_s)->clear();
                               find<QPushButton>(d, u"btCancel"_s)->click();
                           });
        QCOMPARE(davdb::DavSettings(p.session->db.access).address(), u"https://zentrax.office.local:8443/"_s);

        // Upgraded before the address came: passwords work, the address cannot be set.
        const auto drop = [&](const QString &table) {
            p.session->db.IBDbase.close(); // its statements on the table would keep it
            p.exec(u"DROP TABLE "_s + table);
            p.session->db.IBDbase.open();
        };
        drop(u"carddav_settings"_s);
        w->FormActivate();
        QVERIFY(w->edAddress->text().contains(u"не обновлена"_s));
        QVERIFY(!w->btAddress->isVisibleTo(w));
        QVERIFY(w->btNew->isEnabled());
        w->btAddressClick();
        QCOMPARE(uitest::texts().size(), 1);
        // Not upgraded at all: nothing to make or revoke.
        drop(u"carddav_passwords"_s);
        w->FormActivate();
        QVERIFY(w->lbHint->text().contains(u"zentrax-makedb --upgrade"_s));
        QVERIFY(!w->btNew->isEnabled() && !w->btRevoke->isEnabled() && !w->Grid->isEnabled());
        QCOMPARE(uitest::whileModal([&] { QTest::keyClick(w->Grid, Qt::Key_F7); }), QStringList());
        QCOMPARE(uitest::texts(), QStringList());
    }
};

QTEST_MAIN(TestDeviceWindow)
#include "tst_devicewindow.moc"
