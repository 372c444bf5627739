#include "ending.h"

#include <QtGlobal>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#ifdef Q_OS_UNIX
#include <csignal>
#include <pthread.h>
#endif

namespace core {

namespace {
std::atomic<bool> g_endingAsked{false};
} // namespace

#ifdef Q_OS_UNIX
namespace {

sigset_t endingSignals()
{
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&set, sig);
    return set;
}

} // namespace
#endif

void blockEndingSignals()
{
#ifdef Q_OS_UNIX
    const sigset_t set = endingSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
#endif
}

void takeEndingSignals(std::function<void(int sig)> take)
{
#ifdef Q_OS_UNIX
    std::thread([take = std::move(take)] {
        const sigset_t set = endingSignals();
        for (;;) {
            // The engine unblocks the signals on the threads it runs on:
            // blocked again before each wait.
            pthread_sigmask(SIG_BLOCK, &set, nullptr);
            int sig = 0;
            if (sigwait(&set, &sig) == 0) {
                g_endingAsked = true;
                take(sig);
            }
        }
    }).detach();
#else
    Q_UNUSED(take);
#endif
}

bool endingAsked()
{
    return g_endingAsked;
}

void endWithin(int ms, int code)
{
    static std::atomic<bool> set{false};
    if (set.exchange(true))
        return;
    std::thread([ms, code] {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        std::fprintf(stderr,
                     "Движок базы данных не закончил работу за %d с (файл базы данных повреждён или заменён?); "
                     "программа закрыта без него.\n",
                     ms / 1000);
        std::_Exit(code);
    }).detach();
}

} // namespace core
