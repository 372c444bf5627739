#pragma once
// Runs a benchmark child's work; what the engine or the query layer throws
// is printed, and the child ends with 1.

#include "db/ibase.h"

#include <firebird/Interface.h>

#include <cstdio>

namespace bench {

template <typename F>
int runReported(F &&work)
{
    try {
        return work();
    } catch (const Firebird::FbException &e) {
        char buf[2048];
        Firebird::fb_get_master_interface()->getUtilInterface()->formatStatus(buf, sizeof buf, e.getStatus());
        std::fprintf(stderr, "engine: %s\n", buf);
    } catch (const db::DbError &e) {
        std::fprintf(stderr, "database: %s\n", qPrintable(e.text()));
    }
    return 1;
}

} // namespace bench
