#pragma once
#include <QApplication>
#include <functional>

// The application object: no error escapes an event handler; each one is shown
// in an error box and the program goes on.
class ZApplication : public QApplication
{
public:
    using QApplication::QApplication;
    bool notify(QObject *receiver, QEvent *event) override;
};

// A termination request runs `end` from the event loop, never in the middle
// of a call into the database engine, whose shared lock table a process ended
// inside it would leave locked for the other copies: a thread of its own
// waits for the requests and tells the event loop. Set once, at start, after
// core::blockEndingSignals(). Should the engine never let go (a database
// file replaced under it), the program ends a few seconds later all the same.
void watchTerminationSignals(std::function<void()> end);

// Shows the error being handled (call inside a catch block).
void reportCurrentException();
// Runs `f`, reporting any error it throws; returns false when it threw.
template <typename F>
bool guardedCall(F &&f)
{
    try {
        f();
        return true;
    } catch (...) {
        reportCurrentException();
        return false;
    }
}

// Connects a signal to a handler that runs guarded: its errors are reported,
// never thrown through Qt's own code.
template <typename Sender, typename Signal, typename F>
void onSignal(Sender *sender, Signal signal, QObject *context, F handler)
{
    QObject::connect(sender, signal, context, [handler] { guardedCall(handler); });
}
