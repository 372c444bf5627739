#pragma once
// How a process of the program ends: the termination requests (Ctrl+C,
// SIGTERM, SIGHUP) taken on a thread of its own, never inside the database
// engine, and a deadline for the engine to let go at the end.

#include <functional>

namespace core {

// Blocks the termination requests in the calling thread. Called first in
// main, before any thread starts: every thread made later (Qt's, the
// engine's) inherits the mask, so none of them, nor a handler the engine
// installs, takes a request meant for the program.
void blockEndingSignals();

// Takes the blocked requests on a thread of its own and calls `take` there
// with each signal's number. Set once, after blockEndingSignals().
void takeEndingSignals(std::function<void(int sig)> take);

// True once a termination request has been taken: work cut short by it is
// told on stderr (the session's log), as no window is left to show it.
bool endingAsked();

// Ends the process with `code` once `ms` have passed, unless it ended by
// itself before. Called when the program's own work is over (or asked to
// end): the engine detaching from a database file replaced or damaged under
// it may wait forever, and nothing of the program's is left to save then.
// The first call sets the deadline; later ones leave it.
void endWithin(int ms, int code);

// What endWithin waits for the engine at the end.
constexpr int kEngineEndMs = 15000;

} // namespace core
