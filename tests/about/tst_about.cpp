// The About window: hover colours, cursors, links and keys.

#include "about/aboutwindow.h"
#include "app/context.h"
#include "app/shell.h"
#include "register/mainwindow.h"
#include "uitest.h"

#include <QAccessible>
#include <QApplication>
#include <QEnterEvent>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

using uitest::find;

namespace {

QColor color(const QLabel *l)
{
    return l->palette().color(QPalette::WindowText);
}

void enter(QWidget *w)
{
    QEnterEvent e(QPointF(2, 2), QPointF(2, 2), w->mapToGlobal(QPointF(2, 2)));
    QApplication::sendEvent(w, &e);
}

void leave(QWidget *w)
{
    QEvent e(QEvent::Leave);
    QApplication::sendEvent(w, &e);
}

struct Fixture
{
    Fixture()
    {
        p.createWindows();
        abt = uitest::forms(p.mf).Abt;
        shell::takeOpened();
    }
    QLabel *label(const char *name) const { return find<QLabel>(abt, QLatin1String(name)); }
    uitest::Program p;
    TAbt *abt = nullptr;
};

} // namespace

class TestAbout : public QObject
{
    Q_OBJECT

private slots:
    void hover_data()
    {
        QTest::addColumn<QString>("hovered");
        QTest::addColumn<QString>("lit");
        QTest::newRow("first notice") << "Label1"
                                      << "Label5";
        QTest::newRow("second notice") << "Label3"
                                       << "Label5";
        QTest::newRow("web address") << "Label5"
                                     << "Label5";
        QTest::newRow("mail address") << "Label4"
                                      << "Label4";
    }
    // The pointer over a link label lights up its address in another colour,
    // only while it stays; the other address and the notice lines keep theirs.
    void hover()
    {
        QFETCH(QString, hovered);
        QFETCH(QString, lit);
        Fixture f;
        QLabel *h = f.label(hovered.toLatin1());
        const QColor before = color(h);
        const QColor resting = color(f.label("Label5"));
        QCOMPARE(color(f.label("Label4")), resting);                      // both addresses look alike
        QVERIFY(resting != f.abt->palette().color(QPalette::WindowText)); // and stand out from the text
        enter(h);
        QCOMPARE(color(f.label("Label5")) != resting, lit == QLatin1String("Label5"));
        QCOMPARE(color(f.label("Label4")) != resting, lit == QLatin1String("Label4"));
        if (hovered != lit)
            QCOMPARE(color(h), before); // a notice line keeps the window's text colour
        leave(h);
        QCOMPARE(color(f.label("Label5")), resting);
        QCOMPARE(color(f.label("Label4")), resting);
    }

    void clicks_data()
    {
        QTest::addColumn<QString>("clicked");
        QTest::addColumn<QUrl>("opened");
        QTest::addColumn<bool>("hand");
        const QUrl web = TAbt::webPage();
        QTest::newRow("first notice") << "Label1" << web << false;
        QTest::newRow("second notice") << "Label3" << web << false;
        QTest::newRow("web address") << "Label5" << web << true;
        QTest::newRow("mail address") << "Label4" << QUrl(QStringLiteral("mailto:") + TAbt::mailAddress()) << true;
        QTest::newRow("product name") << "ProductName" << QUrl() << false;
    }
    // A click opens the link through the desktop; only the addresses show a hand.
    void clicks()
    {
        QFETCH(QString, clicked);
        QFETCH(QUrl, opened);
        QFETCH(bool, hand);
        Fixture f;
        f.abt->show();
        QLabel *l = f.label(clicked.toLatin1());
        QTest::mouseClick(l, Qt::LeftButton, {}, QPoint(3, 3));
        QCOMPARE(shell::takeOpened(), opened.isEmpty() ? QList<QUrl>{} : QList<QUrl>{opened});
        QCOMPARE(l->cursor().shape() == Qt::PointingHandCursor, hand);
        QVERIFY(!l->accessibleName().isEmpty());
    }

    // The addresses open without a mouse too: Tab reaches them from OK, Enter
    // opens one, and a screen reader's press action opens the other.
    void linksOpenFromKeyboardAndReader()
    {
        Fixture f;
        f.abt->show();
        QVERIFY(QTest::qWaitForWindowActive(f.abt));
        QCOMPARE(QApplication::focusWidget(), f.abt->OKButton);
        QTest::keyClick(f.abt->OKButton, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), f.label("Label5"));
        QTest::keyClick(f.label("Label5"), Qt::Key_Return);
        QCOMPARE(shell::takeOpened(), QList<QUrl>{TAbt::webPage()});
        QVERIFY(f.abt->isVisible());

        QAccessibleInterface *mail = QAccessible::queryAccessibleInterface(f.label("Label4"));
        QCOMPARE(mail->role(), QAccessible::Link);
        QVERIFY(mail->actionInterface());
        mail->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QList<QUrl> opened; // the press is queued, so that the reader's call returns first
        QTRY_VERIFY((opened += shell::takeOpened(), !opened.isEmpty()));
        QCOMPARE(opened, QList<QUrl>{QUrl(QStringLiteral("mailto:") + TAbt::mailAddress())});
    }

    // Enter presses OK from the main window's menu; Esc does nothing; the close box closes.
    void keys()
    {
        Fixture f;
        int result = -1;
        const QStringList shown = uitest::whileModal(
            [&] {
                f.p.mf->N10->trigger();
                result = f.abt->result();
            },
            [&](QWidget *w) {
                QTest::keyClick(w, Qt::Key_Escape);
                QVERIFY(w->isVisible());
                QTest::keyClick(w, Qt::Key_Return);
                QVERIFY(!w->isVisible());
            });
        QCOMPARE(shown, QStringList{QStringLiteral("TAbt")});
        QCOMPARE(result, int(QDialog::Accepted));

        f.abt->show();
        f.abt->close();
        QVERIFY(!f.abt->isVisible());
    }
};

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
