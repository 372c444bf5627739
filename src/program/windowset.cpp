#include "windowset.h"

#include "about/aboutwindow.h"
#include "app/application.h"
#include "app/loginwindow.h"
#include "app/session.h"
#include "card/cardwindow.h"
#include "devices/devicewindow.h"
#include "duplicates/duplicatewindows.h"
#include "fragment/fragmentwindows.h"
#include "refbooks/refbooks.h"
#include "register/mainwindow.h"
#include "users/userwindows.h"
#include "core/users.h"

#include <utility>

namespace {

void connectWindows(const Forms &f)
{
    TMF *mf = f.MF;
    TRF *card = f.RF;
    // The list's commands open the card; a card saved or deleted refills the list at once.
    QObject::connect(mf, &TMF::openCard, card,
                     [card](CardMode mode, qint64 id) { guardedCall([&] { card->open(mode, id); }); });
    QObject::connect(card, &TRF::cardStored, mf, [mf] { guardedCall([mf] { mf->FillList(); }); });
    QObject::connect(mf, &TMF::refItemsRead, card,
                     [card](sql::Ref ref, const QStringList &values) { card->setRefItems(ref, values); });
    // The start-up's login, and the other windows the commands open.
    QObject::connect(mf, &TMF::loginRequested, f.LF, [lf = f.LF] { guardedCall([lf] { lf->showModal(); }); });
    QObject::connect(mf, &TMF::showWindow, mf, [f](WindowId window) {
        ModalWindow *const windows[] = {f.GF, f.DF, f.PF, f.UF, f.Abt, f.DupF, f.DevF}; // in the order of WindowId
        guardedCall([&] { windows[int(window)]->showModal(); });
    });
    QObject::connect(card, &TRF::refValuesAdded, mf, [mf] { guardedCall([mf] { mf->FillRefLists(); }); });
    QObject::connect(card, &TRF::exportRequested, mf,
                     [mf](qint64 id) { guardedCall([mf, id] { mf->ExportCard(id); }); });
    // Each reference list with its editor; a stored value shows in the list
    // and in the card's drop-down lists.
    const std::pair<RefListWindow *, RefEditWindow *> books[] = {{f.PF, f.PF1}, {f.DF, f.DF1}, {f.GF, f.GF1}};
    for (const auto &[list, editor] : books) {
        QObject::connect(list, &RefListWindow::newRequested, editor,
                         [editor] { guardedCall([editor] { editor->openNew(); }); });
        QObject::connect(list, &RefListWindow::editRequested, editor, [editor](qint64 id, const QString &value) {
            guardedCall([&] { editor->openEdit(id, value); });
        });
        QObject::connect(editor, &RefEditWindow::valueStored, list, &RefListWindow::showStored);
        QObject::connect(editor, &RefEditWindow::valueSaved, mf, [mf] { guardedCall([mf] { mf->FillRefLists(); }); });
    }
    // The user list with its editor.
    QObject::connect(f.UF, &TUF::newRequested, f.UF1, [uf1 = f.UF1] { guardedCall([uf1] { uf1->openNew(); }); });
    QObject::connect(f.UF, &TUF::editRequested, f.UF1,
                     [uf1 = f.UF1](qint64 id) { guardedCall([&] { uf1->openEdit(id); }); });
    QObject::connect(f.UF1, &TUF1::usersChanged, f.UF, [uf = f.UF] { guardedCall([uf] { uf->FormActivate(); }); });
    // The card opens the fragment tool; a selection shows in the preview,
    // which closes with the selection window.
    QObject::connect(card, &TRF::fragmentToolRequested, f.EF, [ef = f.EF] { guardedCall([ef] { ef->showModal(); }); });
    QObject::connect(f.EF, &TEF::fragmentSelected, f.EF1, &TEF1::showFragment);
    QObject::connect(f.EF, &TEF::closedWindow, f.EF1, [ef1 = f.EF1] {
        ef1->clearFragment();
        ef1->hide();
    });
    // The fragment chosen becomes the card's photo to be; the selection window closes.
    QObject::connect(f.EF1, &TEF1::fragmentAccepted, card, [card, ef = f.EF](const QString &path) {
        guardedCall([&] {
            card->acceptFragment(path);
            ef->close();
        });
    });
    // A group of duplicates opens in the merge; a merge stored finds the
    // groups anew and refills the list.
    QObject::connect(f.DupF, &TDupF::mergeRequested, f.MrgF,
                     [mrg = f.MrgF](const core::FoundGroup &group) { guardedCall([&] { mrg->open(group); }); });
    QObject::connect(f.MrgF, &TMrgF::merged, f.DupF, [dup = f.DupF] { guardedCall([dup] { dup->merged(); }); });
    QObject::connect(f.DupF, &TDupF::cardsMerged, mf, [mf] { guardedCall([mf] { mf->FillList(); }); });
    // Only the administrator sees the user management.
    QObject::connect(f.LF, &TLF::loggedIn, mf, [mf](const SessionUserT &user) {
        mf->setAdminMenuVisible(core::Users::isAdministrator(user.login));
    });
}

} // namespace

Forms createForms(Session &session)
{
    auto *mf = new TMF(session);
    Context &c = mf->context();
    Forms f;
    f.MF = mf;
    f.RF = new TRF(c, mf);
    f.Abt = new TAbt(c, mf);
    f.LF = new TLF(c, mf);
    f.PF = new TPF(c, mf);
    f.PF1 = new TPF1(c, mf);
    f.DF = new TDF(c, mf);
    f.DF1 = new TDF1(c, mf);
    f.GF = new TGF(c, mf);
    f.GF1 = new TGF1(c, mf);
    f.EF = new TEF(c, mf);
    f.EF1 = new TEF1(c, f.EF); // beside the selection window, not blocked by it
    f.UF = new TUF(c, mf);
    f.UF1 = new TUF1(c, mf);
    f.DupF = new TDupF(c, mf);
    f.MrgF = new TMrgF(c, f.DupF);
    f.DevF = new TDevF(c, mf);
    connectWindows(f);
    return f;
}

void destroyForms(const Forms &forms)
{
    delete forms.MF; // owns every other window
}
