#pragma once
// What the command-line tools ask of the person at the terminal.

#include <QString>
#include <optional>

namespace terminal {

// A user's password: from ZENTRAX_PASSWORD when set, else asked on the
// terminal without echo; none when it is not set and there is no terminal
// to ask on (the caller says so instead of trying an empty password).
std::optional<QString> askPassword();

// What to tell when askPassword() had none to give.
QString noPasswordText();

// Gives the terminal its echo back if a password question took it away and
// has not returned it yet (the tool ends while asking).
void restore();

} // namespace terminal
