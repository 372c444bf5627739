// The reference books' list windows and value editors, driven as a user
// drives them: buttons, keys, typed text and the answers to their questions.

#include "program/windowset.h"
#include "app/messages.h"
#include "app/session.h"
#include "card/cardwindow.h"
#include "core/refbook.h"
#include "refbooks/refbooks.h"
#include "register/mainwindow.h"
#include "uitest.h"

#include <QComboBox>
#include <QLineEdit>
#include <QTableView>
#include <QToolButton>
#include <QtTest>

using namespace Qt::StringLiterals;
using uitest::find;
using uitest::Program;
using uitest::texts;
using uitest::typeText;

namespace {

// A program logged in as `level`, the database holding `values` of the
// posts, departments and organizations.
struct Fixture
{
    explicit Fixture(const QString &level = QStringLiteral("full"), const QStringList &posts = {},
                     const QStringList &deps = {}, const QStringList &orgs = {})
    {
        p.addUser(QStringLiteral("Иванов"), QStringLiteral("ivanov"), QStringLiteral("x"), level);
        QStringList sql;
        auto add = [&](const QStringList &values, const char *table, const char *column) {
            for (QString v : values)
                sql << QStringLiteral("INSERT INTO %1 (%2) VALUES ('%3')")
                           .arg(QLatin1String(table), QLatin1String(column), v.replace(u"'"_s, u"''"_s));
        };
        add(posts, "post", "post");
        add(deps, "department", "dep");
        add(orgs, "organization", "org");
        if (!sql.isEmpty())
            p.exec(sql.join(QStringLiteral(";\n")));
        p.createWindows();
        p.loginDirect(QStringLiteral("ivanov"), level);
        mf = p.mf;
        forms = &uitest::forms(mf);
        msg::takeShown();
    }
    // Shows a list window as the main window's menu does, but without waiting in it.
    void open(RefListWindow *w)
    {
        w->FormActivate();
        w->show();
    }

    Program p;
    TMF *mf = nullptr;
    const Forms *forms = nullptr;
};

// The texts of a list window's rows in column `col`, read through its model.
QStringList rows(RefListWindow *w, int col = 1)
{
    QStringList out;
    const QAbstractItemModel *m = w->PGrid->model();
    for (int r = 0; r < m->rowCount(); ++r)
        out << m->index(r, col).data().toString();
    return out;
}

QStringList items(QComboBox *box)
{
    QStringList out;
    for (int i = 0; i < box->count(); ++i)
        out << box->itemText(i);
    return out;
}

const QString kNoRights = QStringLiteral("Недостаточно прав");
const QString kDeleteQuestion =
    QStringLiteral("Внимание! Запись будет удалена без возможности восстановления, продолжить ?");
const QString kCloseQuestion = QStringLiteral("Запись была изменена, сохраненить изменения?");

enum Book { Posts, Departments, Organizations };

RefListWindow *listOf(const Forms *f, int book)
{
    RefListWindow *w[] = {f->PF, f->DF, f->GF};
    return w[book];
}
RefEditWindow *editorOf(const Forms *f, int book)
{
    RefEditWindow *w[] = {f->PF1, f->DF1, f->GF1};
    return w[book];
}

} // namespace

class TestRefBooks : public QObject
{
    Q_OBJECT

private slots:
    void rightsAndTheBlankRow_data()
    {
        QTest::addColumn<QString>("level");
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QString>("search");
        QTest::newRow("empty table, full rights") << "full" << QStringList{} << "";
        QTest::newRow("no match, read rights") << "read" << QStringList{u"Бухгалтерия"_s, u"Склад"_s} << "Гамма";
        QTest::newRow("a value, read rights") << "read" << QStringList{u"Бухгалтерия"_s, u"Склад"_s} << "";
    }
    // Edit and delete on the blank row of an empty list say and do nothing for
    // anyone; on a value, read rights are refused. New answers either way.
    void rightsAndTheBlankRow()
    {
        QFETCH(QString, level);
        QFETCH(QStringList, stored);
        QFETCH(QString, search);
        Fixture f(level, {}, stored);
        TDF *w = f.forms->DF;
        w->searchBox->setText(search);
        f.open(w);
        const bool blank = stored.isEmpty() || !search.isEmpty();
        QCOMPARE(rows(w), blank ? QStringList{QString()} : stored);
        QCOMPARE(w->currentId(), blank ? QString() : QStringLiteral("1"));
        const QStringList opened = uitest::whileModal([&] {
            w->tb_edit->click();
            QTest::keyClick(w->PGrid, Qt::Key_F4);
            QTest::keyClick(w->searchBox, Qt::Key_F4);
            w->tb_del->click();
        });
        QVERIFY(opened.isEmpty());
        const QList<msg::Shown> shown = msg::takeShown();
        QCOMPARE(shown.size(), blank ? 0 : 4);
        for (const msg::Shown &s : shown) {
            QCOMPARE(s.text, kNoRights);
            QCOMPARE(s.caption, QStringLiteral("Ошибка"));
            QCOMPARE(s.buttons, msg::Buttons::Ok);
            QCOMPARE(s.owner.data(), static_cast<QWidget *>(w));
        }
        QCOMPARE(testdb::values(f.p.dbPath, u"department"_s, u"dep"_s), stored);
        const QStringList editor = uitest::whileModal([&] { QTest::keyClick(w->PGrid, Qt::Key_F7); });
        QCOMPARE(editor, level == u"full"_s ? QStringList{u"TDF1"_s} : QStringList{});
        QCOMPARE(texts(), level == u"full"_s ? QStringList{} : QStringList{kNoRights});
    }

    void searchMatchesAnyCaseAnywhere_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("listed");
        QTest::newRow("first word, lower case") << "ооо" << QStringList{u"ООО РОМАШКА-ТРЕЙД"_s};
        QTest::newRow("middle, lower case") << "машка-тр" << QStringList{u"ООО РОМАШКА-ТРЕЙД"_s};
        QTest::newRow("quote") << "'" << QStringList{u"O'Brien & Co"_s};
        QTest::newRow("nothing") << "ю" << QStringList{u""_s};
    }
    // The list follows each typed key, and keeps its search when opened again.
    void searchMatchesAnyCaseAnywhere()
    {
        QFETCH(QString, typed);
        QFETCH(QStringList, listed);
        const QStringList all = {u"O'Brien & Co"_s, u"АО ВЕКТОР"_s, u"Банк \"Восток\""_s, u"ООО РОМАШКА-ТРЕЙД"_s};
        Fixture f(QStringLiteral("read"), {}, {}, {all[3], all[1], all[0], all[2]});
        TGF *w = f.forms->GF;
        f.open(w);
        QCOMPARE(rows(w), all);
        typeText(find<QLineEdit>(w, u"ed_org"_s), typed);
        QCOMPARE(rows(w), listed);
        QVERIFY(msg::takeShown().isEmpty());
        w->close();
        // Opened again from the menu: the same text, the same list.
        uitest::whileModal([&] { f.mf->N13Click(); },
                           [&](QWidget *shown) {
                               QCOMPARE(shown, static_cast<QWidget *>(w));
                               QCOMPARE(w->searchBox->text(), typed);
                               QCOMPARE(rows(w), listed);
                               w->sb_look->click();
                               QCOMPARE(w->searchBox->text(), QString());
                               QCOMPARE(rows(w), all);
                           });
        QVERIFY(!w->isVisible());
    }

    // A search text the database refuses is told; the book still opens next time.
    void refusedSearchDoesNotLockTheBook()
    {
        Fixture f(QStringLiteral("read"), {}, {}, {QStringLiteral("АО Вектор")});
        TGF *w = f.forms->GF;
        f.open(w);
        msg::takeShown();
        typeText(find<QLineEdit>(w, u"ed_org"_s), QStringLiteral("中"));
        QCOMPARE(msg::takeShown().size(), 1);
        w->close();
        const QStringList opened = uitest::whileModal([&] { f.mf->N13Click(); },
                                                      [&](QWidget *) {
                                                          QCOMPARE(w->searchBox->text(), QString());
                                                          QCOMPARE(rows(w), QStringList{QStringLiteral("АО Вектор")});
                                                      });
        QCOMPARE(opened, QStringList{QStringLiteral("TGF")});
        QCOMPARE(msg::takeShown().size(), 1); // told once more, as it was emptied
    }

    void deleteAsksFirst_data()
    {
        QTest::addColumn<bool>("yes");
        QTest::newRow("no") << false;
        QTest::newRow("yes") << true;
    }
    // The question comes first; on either answer the list is read again.
    void deleteAsksFirst()
    {
        QFETCH(bool, yes);
        Fixture f(QStringLiteral("full"),
                  {QStringLiteral("Водитель"), QStringLiteral("Инженер"), QStringLiteral("Юрист")});
        f.mf->FillRefLists();
        TPF *w = f.forms->PF;
        f.open(w);
        w->selectRow(1);
        // Stored meanwhile without a refill: it shows only when the list is read again.
        core::RefBook(f.mf->db.access, sql::Ref::Post).insert(QStringLiteral("Бухгалтер"));
        msg::script({yes ? msg::Answer::Yes : msg::Answer::No});
        QTest::keyClick(w->PGrid, Qt::Key_Delete); // no key of its own
        w->tb_del->click();
        const QList<msg::Shown> shown = msg::takeShown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].text, kDeleteQuestion);
        QCOMPARE(shown[0].caption, QStringLiteral("Удаление"));
        QCOMPARE(shown[0].buttons, msg::Buttons::YesNo);
        QCOMPARE(shown[0].owner.data(), static_cast<QWidget *>(w));
        const QStringList kept = yes ? QStringList{u"Бухгалтер"_s, u"Водитель"_s, u"Юрист"_s}
                                     : QStringList{u"Бухгалтер"_s, u"Водитель"_s, u"Инженер"_s, u"Юрист"_s};
        QCOMPARE(rows(w), kept);
        QCOMPARE(testdb::values(f.p.dbPath, u"post"_s, u"post"_s).size(), kept.size());
        QCOMPARE(testdb::values(f.p.dbPath, u"post"_s, u"post"_s).contains(u"Инженер"_s), !yes);
        // The card's list is not reloaded by a delete.
        QVERIFY(items(find<QComboBox>(f.forms->RF, u"ed_post"_s)).contains(u"Инженер"_s));
    }

    void savedValueShowsEverywhere_data()
    {
        QTest::addColumn<int>("book");
        QTest::addColumn<QString>("header");
        QTest::addColumn<QString>("searchBox");
        QTest::addColumn<QString>("editBox");
        QTest::addColumn<QString>("cardBox");
        QTest::addColumn<int>("saveKey");
        QTest::newRow("posts, Enter") << int(Posts) << " Должность"
                                      << "bx_post"
                                      << "ed_post"
                                      << "ed_post" << int(Qt::Key_Return);
        QTest::newRow("departments, Ctrl+S") << int(Departments) << " Отдел"
                                             << "ed_dep"
                                             << "ed_dep"
                                             << "ed_dep" << int(Qt::Key_S);
        QTest::newRow("organizations, keypad Enter") << int(Organizations) << " Организация"
                                                     << "ed_org"
                                                     << "ed_org"
                                                     << "ed_work" << int(Qt::Key_Enter);
    }
    // A stored value is listed at its sorted place, made current, and offered
    // by the card; each window works on its own book.
    void savedValueShowsEverywhere()
    {
        QFETCH(int, book);
        QFETCH(QString, header);
        QFETCH(QString, searchBox);
        QFETCH(QString, editBox);
        QFETCH(QString, cardBox);
        QFETCH(int, saveKey);
        const QStringList values = {u"Ёлкин & сын"_s, u"O'Hara"_s, u"Юг"_s, u"Альфа"_s}, other = {u"Чужое"_s};
        Fixture f(QStringLiteral("full"), book == Posts ? values : other, book == Departments ? values : other,
                  book == Organizations ? values : other);
        f.mf->FillRefLists();
        RefListWindow *w = listOf(f.forms, book);
        RefEditWindow *e = editorOf(f.forms, book);
        QCOMPARE(find<QLineEdit>(w, searchBox), w->searchBox);
        QCOMPARE(find<QLineEdit>(e, editBox), e->valueBox);
        for (QWidget *top : {static_cast<QWidget *>(w), static_cast<QWidget *>(e)})
            for (QWidget *c : top->findChildren<QWidget *>())
                if ((qobject_cast<QLineEdit *>(c) || qobject_cast<QAbstractButton *>(c) ||
                     qobject_cast<QTableView *>(c)) &&
                    !c->objectName().isEmpty() && !c->objectName().startsWith(QLatin1String("qt_")))
                    QVERIFY2(!c->accessibleName().isEmpty(), qPrintable(c->objectName()));
        QComboBox *card = find<QComboBox>(f.forms->RF, cardBox);
        card->setEditText(QStringLiteral("набранное"));
        int saved = 0;
        connect(e, &RefEditWindow::valueSaved, this, [&] { ++saved; });
        auto save = [&] {
            const Qt::KeyboardModifiers mods = saveKey == Qt::Key_S ? Qt::ControlModifier : Qt::NoModifier;
            QTest::keyClick(e->valueBox, Qt::Key(saveKey), mods);
        };
        f.open(w);
        QCOMPARE(w->PGrid->model()->headerData(1, Qt::Horizontal).toString(), header);
        QVERIFY(w->PGrid->isColumnHidden(0));
        QCOMPARE(rows(w), (QStringList{u"O'Hara"_s, u"Альфа"_s, u"Ёлкин & сын"_s, u"Юг"_s}));
        w->searchBox->setText(QStringLiteral("К"));
        QCOMPARE(rows(w), QStringList{u"Ёлкин & сын"_s});

        const QStringList opened = uitest::whileModal([&] { QTest::keyClick(w->searchBox, Qt::Key_F7); },
                                                      [&](QWidget *m) {
                                                          QCOMPARE(m, static_cast<QWidget *>(e));
                                                          QCOMPARE(e->windowTitle(), QStringLiteral("Новая запись"));
                                                          typeText(e->valueBox, QStringLiteral("Бета 'кавычка'"));
                                                          save();
                                                          QVERIFY(!e->isVisible());
                                                      });
        QCOMPARE(opened, QStringList{QString::fromLatin1(e->metaObject()->className())});
        QCOMPARE(saved, 1);
        // The search matches the new value and stays.
        QCOMPARE(rows(w), (QStringList{u"Бета 'кавычка'"_s, u"Ёлкин & сын"_s}));
        QCOMPARE(w->currentValue(), QStringLiteral("Бета 'кавычка'"));
        w->sb_look->click();
        QCOMPARE(rows(w), (QStringList{u"O'Hara"_s, u"Альфа"_s, u"Бета 'кавычка'"_s, u"Ёлкин & сын"_s, u"Юг"_s}));
        QVERIFY(items(card).contains(u"Бета 'кавычка'"_s));
        QCOMPARE(card->currentText(), QStringLiteral("набранное"));

        // Renamed: the new wording moves to its place, the old one leaves the card's list.
        w->selectRow(3);
        uitest::whileModal([&] { QTest::keyClick(w->PGrid, Qt::Key_F4); },
                           [&](QWidget *) {
                               QCOMPARE(e->windowTitle(), QStringLiteral("Редактирование"));
                               QCOMPARE(e->valueBox->text(), QStringLiteral("Ёлкин & сын"));
                               e->valueBox->selectAll();
                               typeText(e->valueBox, QStringLiteral("Альфа"));
                               save();
                               QVERIFY(!e->isVisible());
                           });
        QCOMPARE(saved, 2);
        QCOMPARE(rows(w), (QStringList{u"O'Hara"_s, u"Альфа"_s, u"Альфа"_s, u"Бета 'кавычка'"_s, u"Юг"_s}));
        QCOMPARE(w->currentId(), QStringLiteral("1"));
        QVERIFY(!items(card).contains(u"Ёлкин & сын"_s));
        QCOMPARE(items(card).count(u"Альфа"_s), 2);
        QVERIFY(msg::takeShown().isEmpty());
    }

    // The editor's change mark, and what Enter and Esc do with it.
    void editorTracksChanges()
    {
        Fixture f(QStringLiteral("full"), {QStringLiteral("Инженер")});
        TPF *w = f.forms->PF;
        TPF1 *e = f.forms->PF1;
        f.open(w);
        auto openEditor = [&](bool newRecord) {
            e->setEdited(newRecord ? 0 : w->currentId().toLongLong(), newRecord ? QString() : w->currentValue());
            e->FormActivate();
            e->show();
        };
        // Opened and closed at once: no question, nothing stored.
        openEditor(false);
        QCOMPARE(e->windowTitle(), QStringLiteral("Редактирование"));
        QVERIFY(!e->Modified);
        QTest::keyClick(e->valueBox, Qt::Key_Return);
        QVERIFY(e->isVisible()); // unchanged: Enter stores nothing and stays
        QTest::keyClick(e->valueBox, Qt::Key_Escape);
        QVERIFY(!e->isVisible());
        QVERIFY(msg::takeShown().isEmpty());

        // One typed character marks the caption once.
        openEditor(false);
        typeText(e->valueBox, QStringLiteral("ы"));
        QCOMPARE(e->windowTitle(), QStringLiteral("Редактирование(!)"));
        typeText(e->valueBox, QStringLiteral("ыы"));
        QCOMPARE(e->windowTitle(), QStringLiteral("Редактирование(!)"));

        // Emptied: Enter stores nothing and stays; Esc asks, and Yes closes without storing.
        e->valueBox->clear();
        QTest::keyClick(e->valueBox, Qt::Key_Return);
        QVERIFY(e->isVisible());
        QVERIFY(msg::takeShown().isEmpty());
        msg::script({msg::Answer::Yes});
        QTest::keyClick(e->valueBox, Qt::Key_Escape);
        QVERIFY(!e->isVisible());
        QCOMPARE(texts(), QStringList{kCloseQuestion});
        QCOMPARE(testdb::values(f.p.dbPath, u"post"_s, u"post"_s), QStringList{u"Инженер"_s});

        // Blanks alone are a value; Yes to the question stores it.
        openEditor(true);
        QCOMPARE(e->windowTitle(), QStringLiteral("Новая запись"));
        typeText(e->valueBox, QStringLiteral("  "));
        msg::script({msg::Answer::Yes});
        e->tb_Exit->click();
        QVERIFY(!e->isVisible());
        QCOMPARE(testdb::values(f.p.dbPath, u"post"_s, u"post"_s), (QStringList{u"Инженер"_s, u"  "_s}));
        QCOMPARE(rows(w), (QStringList{u"  "_s, u"Инженер"_s}));
        QCOMPARE(w->currentValue(), QStringLiteral("  "));
        QCOMPARE(items(find<QComboBox>(f.forms->RF, u"ed_post"_s)), (QStringList{u"Инженер"_s, u"  "_s}));
        QCOMPARE(texts(), QStringList{kCloseQuestion});
    }

    // A value the database refuses is told and kept in the editor, whichever way it was saved.
    void refusedValueStaysInTheEditor()
    {
        Fixture f(QStringLiteral("full"), {}, {}, {QStringLiteral("АО Вектор")});
        TGF *w = f.forms->GF;
        TGF1 *e = f.forms->GF1;
        f.open(w);
        e->setEdited(w->currentId().toLongLong(), w->currentValue());
        e->FormActivate();
        e->show();
        const QString tooLong = QStringLiteral("АО Вектор ") + QString(400, QChar(0x0416));
        e->valueBox->setText(tooLong);
        QTest::keyClick(e->valueBox, Qt::Key_Return);
        QVERIFY(e->isVisible());
        QStringList told = texts();
        QCOMPARE(told.size(), 1);
        QVERIFY(told[0].contains(QStringLiteral("слишком длинный")));
        msg::script({msg::Answer::Yes});
        QTest::keyClick(e->valueBox, Qt::Key_Escape);
        QVERIFY(e->isVisible());
        told = texts();
        QCOMPARE(told.size(), 2);
        QCOMPARE(told[0], kCloseQuestion);
        QCOMPARE(e->valueBox->text(), tooLong);
        QCOMPARE(e->windowTitle(), QStringLiteral("Редактирование(!)"));
        QCOMPARE(testdb::values(f.p.dbPath, u"organization"_s, u"org"_s), QStringList{u"АО Вектор"_s});

        // Deleted meanwhile: the value is offered as a new one, not dropped.
        e->valueBox->setText(QStringLiteral("АО Вектор-2"));
        core::RefBook(f.mf->db.access, sql::Ref::Organization).remove(1);
        msg::script({msg::Answer::Yes});
        e->tb_save->click();
        QVERIFY(!e->isVisible());
        QCOMPARE(texts().size(), 1);
        QCOMPARE(testdb::values(f.p.dbPath, u"organization"_s, u"org"_s), QStringList{u"АО Вектор-2"_s});
        QCOMPARE(rows(w), QStringList{u"АО Вектор-2"_s});
    }

    // The posts book by keys alone: F7, typing, Enter, F4, Ctrl+S, Esc.
    void keysDriveThePostsBook()
    {
        Fixture f(QStringLiteral("full"), {QStringLiteral("Инженер")});
        TPF *w = f.forms->PF;
        TPF1 *e = f.forms->PF1;
        QStringList inner;
        const QStringList outer = uitest::whileModal(
            [&] { f.mf->N18Click(); },
            [&](QWidget *) {
                QCOMPARE(w->focusWidget(), static_cast<QWidget *>(w->searchBox)); // ready for typing
                typeText(w->searchBox, QStringLiteral("инж"));
                QCOMPARE(rows(w), QStringList{u"Инженер"_s});
                // F7, a value, Enter: stored and listed, the search that leaves it out gone.
                inner << uitest::whileModal([&] { QTest::keyClick(w->searchBox, Qt::Key_F7); },
                                            [&](QWidget *) {
                                                typeText(e->valueBox, QStringLiteral("Техник"));
                                                QTest::keyClick(e->valueBox, Qt::Key_Return);
                                            });
                QCOMPARE(w->searchBox->text(), QString());
                QCOMPARE(rows(w), (QStringList{u"Инженер"_s, u"Техник"_s}));
                QCOMPARE(w->currentValue(), QStringLiteral("Техник"));
                // Alt+F4 is not edit.
                inner << uitest::whileModal([&] { QTest::keyClick(w->PGrid, Qt::Key_F4, Qt::AltModifier); });
                // F4, Ctrl+S unchanged stays, then a change and Ctrl+S stores it.
                inner << uitest::whileModal([&] { QTest::keyClick(w->PGrid, Qt::Key_F4, Qt::ShiftModifier); },
                                            [&](QWidget *) {
                                                QCOMPARE(e->valueBox->text(), QStringLiteral("Техник"));
                                                QTest::keyClick(e->valueBox, Qt::Key_S, Qt::ControlModifier);
                                                QVERIFY(e->isVisible());
                                                QTest::keyClick(e->valueBox, Qt::Key_End); // the value comes selected
                                                typeText(e->valueBox, QStringLiteral("-2"));
                                                QTest::keyClick(e->valueBox, Qt::Key_S,
                                                                Qt::ControlModifier | Qt::ShiftModifier);
                                                QVERIFY(e->isVisible());
                                                QTest::keyClick(e->valueBox, Qt::Key_S, Qt::ControlModifier);
                                                QVERIFY(!e->isVisible());
                                            });
                // F7 with a modifier, a value, Esc and No: nothing stored.
                inner << uitest::whileModal([&] { QTest::keyClick(w->PGrid, Qt::Key_F7, Qt::ControlModifier); },
                                            [&](QWidget *) {
                                                typeText(e->valueBox, QStringLiteral("Лишний"));
                                                QTest::keyClick(e->valueBox, Qt::Key_Escape);
                                                QVERIFY(!e->isVisible());
                                            });
                // Esc does not close the list itself.
                QTest::keyClick(w->PGrid, Qt::Key_Escape);
                QVERIFY(w->isVisible());
                w->tb_exit->click();
                QVERIFY(!w->isVisible());
            });
        QCOMPARE(outer, QStringList{u"TPF"_s});
        QCOMPARE(inner, (QStringList{u"TPF1"_s, u"TPF1"_s, u"TPF1"_s}));
        QCOMPARE(texts(), QStringList{kCloseQuestion});
        QCOMPARE(testdb::values(f.p.dbPath, u"post"_s, u"post"_s), (QStringList{u"Инженер"_s, u"Техник-2"_s}));
        QCOMPARE(items(find<QComboBox>(f.forms->RF, u"ed_post"_s)), (QStringList{u"Инженер"_s, u"Техник-2"_s}));
    }
};

QTEST_MAIN(TestRefBooks)
#include "tst_refbooks.moc"
