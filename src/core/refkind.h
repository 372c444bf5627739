#pragma once
// The three reference books that feed the card's drop-down lists. Each is a
// table with pk_id and one text column; one description serves all three.

#include <QString>

namespace core {

enum class RefKind { Organization, Department, Post };

struct RefTable
{
    const char *table;  // organization, department, post
    const char *column; // org, dep, post
};

const RefTable &refTable(RefKind kind);

// In the order the card saves them: work place, department, post.
inline constexpr RefKind kRefKinds[] = {RefKind::Organization, RefKind::Department, RefKind::Post};

} // namespace core
