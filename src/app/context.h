#pragma once
// What a window reaches beyond itself: the shared database objects and the
// session's state. The session owns it and every window gets it; other
// windows are reached only through signals wired in program/.

struct SharedDb;
struct Session;

struct Context
{
    Context(SharedDb &shared, Session &owner) : db(shared), session(owner) {}
    SharedDb &db;
    Session &session;
};
