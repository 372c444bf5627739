#pragma once
// What the command-line tools ask of the person at the terminal.

#include <QString>

namespace terminal {

// A user's password: from ZENTRAX_PASSWORD when set, else asked on the
// terminal without echo; empty when there is no terminal to ask on.
QString askPassword();

} // namespace terminal
