#include "forms.h"

#include "about/aboutwindow.h"
#include "app/loginwindow.h"
#include "card/cardwindow.h"
#include "fragment/fragmentwindows.h"
#include "refbooks/refbooks.h"
#include "register/mainwindow.h"
#include "users/userwindows.h"

namespace {
Forms g_forms;
}

Forms &forms()
{
    return g_forms;
}

void createForms()
{
    Forms &f = g_forms;
    f.MF = new TMF;
    f.RF = new TRF(f.MF);
    f.Abt = new TAbt(f.MF);
    f.LF = new TLF(f.MF);
    f.PF = new TPF(f.MF);
    f.PF1 = new TPF1(f.MF);
    f.DF = new TDF(f.MF);
    f.DF1 = new TDF1(f.MF);
    f.GF = new TGF(f.MF);
    f.GF1 = new TGF1(f.MF);
    f.EF = new TEF(f.MF);
    f.EF1 = new TEF1(f.MF);
    f.UF = new TUF(f.MF);
    f.UF1 = new TUF1(f.MF);
}

void destroyForms()
{
    delete g_forms.MF; // owns every other window
    g_forms = Forms();
}
