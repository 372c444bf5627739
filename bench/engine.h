#pragma once
// The bare engine: a statement prepared, executed and fully fetched through
// the client library's object API with nothing else, as the floor that the
// program's own path is compared with. It runs in a process of its own (this
// executable started with --engine), so that its connection and page cache
// are not counted in the measured process's memory, which is the program's.

#include <QString>
#include <QStringList>
#include <vector>

namespace bench {

class Engine
{
public:
    explicit Engine(const QString &path);
    ~Engine();
    // Milliseconds to run `sql` with positional text parameters and fetch every
    // row; `prepareEachTime` includes preparing the statement in the time.
    double run(const QString &sql, const QStringList &params, bool prepareEachTime, int *rows = nullptr);

private:
    struct Impl;
    Impl *d;
};

// The child's side: serves run() requests, a line of JSON each, from stdin
// on a connection to `path`, answering each on stdout.
int serveEngine(const QString &path);

} // namespace bench
