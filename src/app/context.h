#pragma once
// What a window reaches beyond itself: the shared database objects, the
// session's state and the program's other windows. The session owns it and
// every window gets it.

#include "forms.h"

struct SharedDb;
struct Session;

struct Context
{
    Context(SharedDb &shared, Session &owner) : db(shared), session(owner) {}
    SharedDb &db;
    Session &session;
    Forms forms;
};
