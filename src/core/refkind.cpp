#include "refkind.h"

namespace core {

const RefTable &refTable(RefKind kind)
{
    static const RefTable tables[] = {{"organization", "org"}, {"department", "dep"}, {"post", "post"}};
    return tables[int(kind)];
}

} // namespace core
