#include "forms.h"
#include "context.h"
#include "session.h"

#include "about/aboutwindow.h"
#include "app/loginwindow.h"
#include "card/cardwindow.h"
#include "fragment/fragmentwindows.h"
#include "refbooks/refbooks.h"
#include "register/mainwindow.h"
#include "users/userwindows.h"

TMF *createForms(Session &session)
{
    auto *mf = new TMF(session);
    Context &c = mf->context();
    Forms &f = c.forms;
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
    mf->connectWindows();
    return mf;
}

void destroyForms(TMF *mainWindow)
{
    delete mainWindow; // owns every other window
}
