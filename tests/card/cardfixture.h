#pragma once
// What the card window's tests share: a program with its windows, a user
// logged in, and the card opened the way the main window opens it.

#include "app/messages.h"
#include "app/state.h"
#include "card/cardwindow.h"
#include "register/mainwindow.h"
#include "uitest.h"

#include <QList>
#include <QPair>
#include <QString>

namespace cardtest {

using Cols = QList<QPair<QString, QString>>;

// A card the main list shows (it has a post, a work place, a mail address
// and a phone), with `more` columns besides.
inline Cols listed(const QString &fam, const Cols &more = {})
{
    Cols c{{QStringLiteral("fam"), fam},
           {QStringLiteral("post"), QStringLiteral("П")},
           {QStringLiteral("work"), QStringLiteral("Р")},
           {QStringLiteral("wmail"), QStringLiteral("m")},
           {QStringLiteral("wtel"), QStringLiteral("t")}};
    return c + more;
}

// The program's windows, the database open and `level` logged in as user 1.
struct CardFixture
{
    explicit CardFixture(const QString &level = QStringLiteral("full"))
    {
        p.addUser(QStringLiteral("Иванов"), QStringLiteral("ivanov"), QStringLiteral("x"), level);
        p.createWindows();
        p.loginDirect(QStringLiteral("ivanov"), level);
        mf = p.mf;
        rf = uitest::forms(mf).RF;
    }
    // Opens the card as the main window does, for the list row showing `id`
    // (for a new card, whatever row is selected).
    void open(CardMode mode, qint64 id = 0)
    {
        mf->db.IBTrans.commit(); // see what the test wrote meanwhile
        mf->FillList();
        if (id)
            mf->selectRow(int(uitest::listColumn(mf, 0).indexOf(QString::number(id))));
        rf->setOpening(mode, mf->selectedId().toLongLong());
        msg::takeShown();
        rf->FormActivate();
        rf->show();
    }
    // What is stored, read through a connection of its own.
    QString value(const QString &select) { return testdb::Peek(p.dbPath).value(select); }
    int count(const QString &select) { return testdb::Peek(p.dbPath).count(select); }

    uitest::Program p;
    TMF *mf = nullptr;
    TRF *rf = nullptr;
};

} // namespace cardtest
