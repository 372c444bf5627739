#include "state.h"

SessionUserT SessionUser;
QString CardMode;
QString PhotoFolder;
bool FirstActivation = false;
bool RefreshOnActivate = false;

void resetProgramState()
{
    SessionUser = SessionUserT();
    CardMode.clear();
    PhotoFolder.clear();
    FirstActivation = false;
    RefreshOnActivate = false;
}
