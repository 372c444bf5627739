#include "terminal.h"

#include <atomic>
#include <cstdio>
#include <iostream>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace terminal {

namespace {
// The terminal's settings while a question has its echo turned off.
termios g_old{};
std::atomic<bool> g_silent{false};
} // namespace

std::optional<QString> askPassword()
{
    if (qEnvironmentVariableIsSet("ZENTRAX_PASSWORD"))
        return qEnvironmentVariable("ZENTRAX_PASSWORD");
    if (!isatty(STDIN_FILENO))
        return std::nullopt;
    std::fputs("Пароль: ", stderr);
    std::fflush(stderr);
    if (tcgetattr(STDIN_FILENO, &g_old) == 0) {
        termios silent = g_old;
        silent.c_lflag &= ~tcflag_t(ECHO);
        g_silent = tcsetattr(STDIN_FILENO, TCSANOW, &silent) == 0;
    }
    std::string line;
    std::getline(std::cin, line);
    restore();
    std::fputs("\n", stderr);
    return QString::fromLocal8Bit(line.c_str());
}

QString noPasswordText()
{
    return QStringLiteral("пароль не задан, а спросить его негде: стандартный ввод — не терминал. "
                          "Задайте пароль в переменной ZENTRAX_PASSWORD.");
}

void restore()
{
    if (g_silent.exchange(false))
        tcsetattr(STDIN_FILENO, TCSANOW, &g_old);
}

} // namespace terminal
