#pragma once
// What the command-line tools ask of the person at the terminal.

#include <QString>

namespace terminal {

// A user's password: from ZENTRAX_PASSWORD when set, else asked on the
// terminal without echo; empty when there is no terminal to ask on.
QString askPassword();

// Gives the terminal its echo back if a password question took it away and
// has not returned it yet (the tool ends while asking).
void restore();

} // namespace terminal
