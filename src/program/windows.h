#pragma once
// The program's windows, made and wired together: the one place that knows
// every window. A window tells what happened through its signals; this file
// decides who answers.

class TMF;
struct Session;

// Creates all windows in order (the main window first, which runs its
// FormCreate and owns the others) on the session, which must outlive them,
// and connects them; returns the main window.
TMF *createForms(Session &session);
void destroyForms(TMF *mainWindow);
