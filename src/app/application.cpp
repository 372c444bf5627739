#include "application.h"
#include "messages.h"

#include "core/ending.h"
#include "db/ibase.h"

#include <QCoreApplication>
#include <exception>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>
#include <fcntl.h>
#include <unistd.h>

namespace {
int g_signalPipe[2] = {-1, -1};
} // namespace
#endif

void watchTerminationSignals(std::function<void()> end)
{
#ifdef Q_OS_UNIX
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [end] {
        char c;
        while (::read(g_signalPipe[0], &c, 1) > 0) {
        }
        end();
    });
    core::takeEndingSignals([](int) {
        // Should the event loop be stuck in the engine, the program still ends.
        core::endWithin(core::kEngineEndMs, 1);
        const char c = 1;
        [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &c, 1);
    });
#else
    Q_UNUSED(end);
#endif
}

void reportCurrentException()
{
    QString text;
    try {
        throw;
    } catch (const db::DbError &e) {
        text = e.fromEngine() && !e.connectionLost() ? QStringLiteral("Ошибка базы данных:\r") + e.text() : e.text();
    } catch (const std::exception &e) {
        text = QString::fromUtf8(e.what());
    } catch (...) {
        text = QStringLiteral("Непредвиденная ошибка");
    }
    msg::error(nullptr, text);
}

bool ZApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        reportCurrentException();
        return false;
    }
}
