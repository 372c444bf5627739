#pragma once
// What a window reaches beyond itself: the shared database objects and the
// program's other windows. The main window owns it and hands it to every
// window it creates.

#include "forms.h"

struct SharedDb;

struct Context
{
    explicit Context(SharedDb &shared) : db(shared) {}
    SharedDb &db;
    Forms forms;
};
