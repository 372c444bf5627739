#pragma once
// What an error of the database engine means for the user: the engine's
// codes picked out of its status, told in Russian (what happened, what to do),
// with the engine's own text kept below as a detail.

#include <QString>
#include <vector>

namespace db {

class DbError;

// The codes of one engine status, in order: each a pair of its kind
// (isc_arg_gds, isc_arg_unix, ...) and its value.
struct StatusCodes
{
    std::vector<std::pair<long, long>> items;
    bool has(long gdsCode) const;
    bool hasUnix(long errnoValue) const;
};

// Whether the texts of errors advise as the program's windows do: the data
// typed stays on the screen, the program connects again at the next action
// (so by default). The command-line tools turn it off: nothing of theirs is
// on a screen, and their texts say only what happened and what to do.
void setWindowAdvice(bool on);
bool windowAdvice();

// The error to throw for a failed engine call: `engineText` is the engine's
// own message, `codes` its status.
DbError engineError(const StatusCodes &codes, const QString &engineText);

} // namespace db
