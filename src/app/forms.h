#pragma once
// The program's fourteen windows, each created once at start in a fixed order
// and destroyed when the program ends (program/windows.h makes them).

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
};

// The windows the main window's commands open besides the card.
enum class WindowId { Organizations, Departments, Posts, Users, About };
