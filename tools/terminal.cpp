#include "terminal.h"

#include <cstdio>
#include <iostream>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace terminal {

QString askPassword()
{
    if (qEnvironmentVariableIsSet("ZENTRAX_PASSWORD"))
        return qEnvironmentVariable("ZENTRAX_PASSWORD");
    if (!isatty(STDIN_FILENO))
        return QString();
    std::fputs("Пароль: ", stderr);
    std::fflush(stderr);
    termios old{};
    const bool quiet = tcgetattr(STDIN_FILENO, &old) == 0;
    if (quiet) {
        termios silent = old;
        silent.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSANOW, &silent);
    }
    std::string line;
    std::getline(std::cin, line);
    if (quiet)
        tcsetattr(STDIN_FILENO, TCSANOW, &old);
    std::fputs("\n", stderr);
    return QString::fromLocal8Bit(line.c_str());
}

} // namespace terminal
