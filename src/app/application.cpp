#include "application.h"
#include "messages.h"

#include "db/ibase.h"

#include <QCoreApplication>
#include <exception>

#ifdef Q_OS_UNIX
#include <csignal>
#include <unistd.h>

namespace {
// Every change is committed the moment it is made, so ending at once loses
// nothing stored; waiting for the database client instead can hang it.
void onTerminationSignal(int)
{
    ::_exit(0);
}
} // namespace
#endif

void watchTerminationSignals()
{
#ifdef Q_OS_UNIX
    struct sigaction sa = {};
    sa.sa_handler = onTerminationSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &sa, nullptr);
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
