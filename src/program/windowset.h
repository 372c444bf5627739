#pragma once
// The program's windows, made and wired together: the one place that knows
// every window. A window tells what happened through its signals; this file
// decides who answers.

class TMF;
class TRF;
class TAbt;
class TLF;
class TPF;
class TPF1;
class TDF;
class TDF1;
class TGF;
class TGF1;
class TEF;
class TEF1;
class TUF;
class TUF1;
class TDupF;
class TMrgF;
class TDevF;
struct Session;

// The windows, each created once at start in a fixed order and destroyed
// when the program ends.
struct Forms
{
    TMF *MF = nullptr;
    TRF *RF = nullptr;
    TAbt *Abt = nullptr;
    TLF *LF = nullptr;
    TPF *PF = nullptr;
    TPF1 *PF1 = nullptr;
    TDF *DF = nullptr;
    TDF1 *DF1 = nullptr;
    TGF *GF = nullptr;
    TGF1 *GF1 = nullptr;
    TEF *EF = nullptr;
    TEF1 *EF1 = nullptr;
    TUF *UF = nullptr;
    TUF1 *UF1 = nullptr;
    TDupF *DupF = nullptr; // the duplicates and their merge
    TMrgF *MrgF = nullptr;
    TDevF *DevF = nullptr; // phones and mail programs
};

// Creates all windows in order (the main window first, which runs its
// FormCreate and owns the others) on the session, which must outlive them,
// and connects them.
Forms createForms(Session &session);
void destroyForms(const Forms &forms);
