#pragma once
// A thin query layer over the Firebird client library's object API: one
// connection, one transaction, and query objects with named parameters,
// buffered forward reading, a row count and columns read by name.

#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

namespace Firebird {
class IAttachment;
class ITransaction;
class IStatement;
class IResultSet;
class IMessageMetadata;
class IMetadataBuilder;
class IBlob;
class IXpbBuilder;
class IProvider;
class IEvents;
} // namespace Firebird

namespace db {

namespace detail {
// Ends an engine object the way its kind needs, on every path: a connection
// is detached, a transaction rolled back, a statement freed, a cursor closed,
// a BLOB cancelled, anything else released. When the ending call fails the
// object is only released.
struct EngineEnd
{
    void operator()(Firebird::IAttachment *) const;
    void operator()(Firebird::ITransaction *) const;
    void operator()(Firebird::IStatement *) const;
    void operator()(Firebird::IResultSet *) const;
    void operator()(Firebird::IBlob *) const;
    void operator()(Firebird::IMessageMetadata *) const;
    void operator()(Firebird::IMetadataBuilder *) const;
    void operator()(Firebird::IXpbBuilder *) const;
    void operator()(Firebird::IProvider *) const;
};
template <typename T>
using EngineRef = std::unique_ptr<T, EngineEnd>;
} // namespace detail

// Any failure of the database layer: the text is what the user is shown.
class DbError : public std::runtime_error
{
public:
    enum class Kind {
        Other,
        // The connection to the database is gone (network, server shut down).
        ConnectionLost,
        // Another connection changed or holds the same row: an update conflict,
        // a deadlock, or a lock wait that ran out. Its text says so in Russian.
        Conflict,
        // A unique index refused a second row with the same key.
        DuplicateKey,
        // The database file was deleted, moved or replaced under the
        // connection: nothing more is written through it.
        FileReplaced,
    };
    explicit DbError(const QString &text, bool fromEngine = false, Kind kind = Kind::Other)
        : std::runtime_error(text.toStdString()), m_text(text), m_engine(fromEngine), m_kind(kind)
    {
    }
    const QString &text() const { return m_text; }
    // True when the database engine reported it.
    bool fromEngine() const { return m_engine; }
    Kind kind() const { return m_kind; }
    bool connectionLost() const { return m_kind == Kind::ConnectionLost; }
    bool fileReplaced() const { return m_kind == Kind::FileReplaced; }
    bool conflict() const { return m_kind == Kind::Conflict; }

private:
    QString m_text;
    bool m_engine;
    Kind m_kind;
};

// How long a statement waits for a row that another connection holds before
// it gives up with a conflict, in seconds.
inline constexpr int kLockTimeoutSeconds = 5;

// The text of a conflict with another user's change.
QString conflictMessage();

// Points the client library at the program's own engine root (plugins,
// character sets, configuration) when the program folder carries one, and
// at a lock folder that every user of the machine can write. Must run before
// the first database call.
void prepareEngine(const QString &programFolder);

// A "host:/path" or "host:C:\path" connection string names a database on a
// server; such a path is not a local file and is not tested for existence.
bool isServerPath(const QString &path);

// The folder where embedded engines meet to share a database file (their lock
// tables): the engine's own standard folder, which its tools (isql-fb, gbak,
// gfix) use as well, whatever the temporary folder of a user's session; the
// engine's variable FIREBIRD_LOCK names another.
QString lockFolder();

// Why the engine cannot safely use its lock folder on this machine: missing
// and not to be made, a link, owned by an account outside the engine's group,
// writable by others, holding a link or a special file, not writable by this
// user, or with too little room left (the engine crashes on a full one).
// Empty when it can. In Russian. A connection to a database file refuses
// such a folder.
QString lockFolderProblem(const QString &folder);

// The engine maps its lock, event and monitoring tables from files in the
// lock folder and makes them longer with ftruncate, which takes no room on
// the disk: when that disk fills up later, the engine's first touch of such
// a page ends the process (SIGBUS, unsaved work lost). Gives every such file
// this process's engine uses its room on the disk now, so that a disk filling
// up afterwards can only hurt the tables' growth. Why that failed, in
// Russian; empty when it did not (or where the engine keeps no such files).
QString reserveLockRoom(const QString &folder);

// Rewrites ":name" parameters to positional ones ("?"), skipping quoted text
// and comments; `names` receives the name of each position, upper-cased.
QString toPositional(const QString &sql, QStringList *names);

// The message shown when the character of `text` at `pos` has no form in the
// database's encoding. It fits any statement, a search as well as a save.
QString encodingMessage(const QString &text, qsizetype pos);

class IBQuery;
class IBTransaction;

class IBDatabase
{
public:
    IBDatabase();
    ~IBDatabase();
    IBDatabase(const IBDatabase &) = delete;
    IBDatabase &operator=(const IBDatabase &) = delete;

    QString databaseName;
    QString userName = QStringLiteral("sysdba");
    QString password = QStringLiteral("tarvokilm");
    // Pages this connection keeps in its own cache; 0 takes the engine's
    // setting. Each connection has a cache of its own, so one that reads the
    // whole database once (the index's) keeps a small one.
    int cachePages = 0;

    // The connection always talks WIN1251 in SQL dialect 3.
    void open();
    // Ends the connection; open transactions are rolled back (every unit of
    // work commits where it ends, so nothing finished is lost).
    void close();
    bool connected() const { return m_att != nullptr; }
    // A connection lost to the network or a server shut down is opened again
    // at the next statement; a failed attempt throws and the next one retries.
    bool lost() const { return m_lost; }
    // Throws when the file opened is no longer the one its path names (deleted,
    // moved, or another file put in its place): a save would go into nothing.
    void checkFileUnchanged() const;
    Firebird::IAttachment *attachment() const { return m_att.get(); }

    // Creates a new empty database file with WIN1251 as its default set.
    static void create(const QString &path, const QString &user = QStringLiteral("sysdba"),
                       const QString &password = QStringLiteral("tarvokilm"));

private:
    friend class IBQuery;
    friend class IBTransaction;
    friend struct Guard;
    void reconnect();
    detail::EngineRef<Firebird::IAttachment> m_att;
    bool m_lost = false;
    // The file's identity when it was opened (local files only).
    bool m_fileKnown = false;
    quint64 m_fileDevice = 0, m_fileInode = 0;
    // Queries and transactions are told when the database goes, and leave
    // these lists when they go themselves.
    std::vector<IBQuery *> m_queries;
    std::vector<IBTransaction *> m_trans;
};

class IBTransaction
{
public:
    enum class Kind {
        // Read-write with snapshot isolation, waiting a few seconds for a row
        // another connection holds: one unit of work, committed where it ends.
        Write,
        // Read-only, read committed: sees every committed change at once and
        // holds back nothing of the engine's clean-up. It ends by itself once
        // none of its queries holds a result any more, unless it began a
        // moment ago (the next read then shares it).
        Read,
        // Read-only with snapshot isolation: several reads see the database
        // as of one moment. Ended by its user.
        Snapshot,
    };
    explicit IBTransaction(IBDatabase *db, Kind kind = Kind::Write);
    ~IBTransaction();
    IBTransaction(const IBTransaction &) = delete;
    IBTransaction &operator=(const IBTransaction &) = delete;

    void start();
    // Commits, ends the transaction and closes every open result of it. When
    // the commit fails the transaction is rolled back and the error rethrown.
    void commit();
    // Ends the transaction without keeping its work and closes its results.
    void rollback();
    // Runs before each commit (tests check what a unit is about to store).
    std::function<void()> beforeCommit;
    bool active() const { return m_tra != nullptr; }
    Kind kind() const { return m_kind; }
    IBDatabase *database() const { return m_db; } // null once the database is gone

    // A savepoint, for many units of work in one transaction (db::Batch):
    // the work after it can be undone alone while the transaction goes on.
    // One at a time. Sets it, starting the transaction when needed.
    void setSavepoint();
    // Keeps the work since the savepoint in the transaction and ends it.
    void releaseSavepoint();
    // Undoes the work since the savepoint and ends it; nothing when none is
    // set. When the engine cannot (the connection is gone) the whole
    // transaction is rolled back.
    void rollbackToSavepoint();
    bool inSavepoint() const { return m_savepoint; }
    // Set by a batch that keeps work in this transaction between its units:
    // told each time the transaction ends, with true when it was committed.
    std::function<void(bool committed)> batch;

private:
    friend class IBQuery;
    friend class IBDatabase;
    // A read transaction ends once no query of it holds a result.
    void endIfIdle();
    // Undoes a failed statement's unit of work: back to the savepoint inside
    // one, the whole transaction otherwise.
    void undoUnit();
    // Runs a statement without parameters or result (a savepoint's).
    void runPlain(const char *sql);
    // The transaction is gone: tells the batch, if one watches.
    void finished(bool committed);
    IBDatabase *m_db;
    Kind m_kind;
    bool m_ending = false;
    bool m_savepoint = false;
    QElapsedTimer m_started;
    detail::EngineRef<Firebird::ITransaction> m_tra;
    std::vector<IBQuery *> m_queries; // told when the transaction goes
};

// A query outlived by its transaction or database stays safe to use and to
// destroy; running it then fails with DbError.
class IBQuery
{
public:
    IBQuery(IBDatabase *db, IBTransaction *tra);
    IBTransaction *transaction() const { return m_tra; } // null once it is gone
    ~IBQuery();
    IBQuery(const IBQuery &) = delete;
    IBQuery &operator=(const IBQuery &) = delete;

    // Replaces the statement; an open result is closed first. When the text
    // cannot be sent the query keeps its previous statement and parameters.
    void setSql(const QString &sql);
    const QString &sql() const { return m_sql; }

    // A text bound to anything but a BLOB may hold up to 32 765 bytes; a
    // longer one is refused when the statement runs, before anything is sent.
    void setParam(const QString &name, const QString &value);
    void setParam(const QString &name, qint64 value);
    void setParam(const QString &name, const char *value) { setParam(name, QString::fromUtf8(value)); }
    void setParamNull(const QString &name);
    void clearParams(); // every parameter back to NULL
    bool hasParam(const QString &name) const;
    QString paramText(const QString &name) const; // as bound (an integer as its digits)
    QStringList paramNames() const;

    void open();  // runs a SELECT and stands on its first row
    void close(); // releases the result; a closed query stays closed
    // On a write transaction open() and execute() roll the transaction back
    // when they fail (back to its savepoint, inside one), so that no part of
    // a failed unit of work can be committed later. On a read-only one a
    // failed open() closes only its own result: the transaction's other
    // results read on (unless the connection was lost, which ends them all).
    // Runs a statement. The row of a procedure, or of a RETURNING clause
    // when a row was touched, can be read afterwards.
    void execute();
    qint64 rowsAffected() const { return m_affected; } // by the last execute
    bool isOpen() const { return m_rs != nullptr || m_buffered; }

    void first();
    void next();
    void last();
    bool eof() const { return m_eof; }
    int recordCount() const { return int(m_rowStart.size()); }
    // Fetches up to `max` more rows into the buffer; returns how many arrived.
    int fetchMore(int max);
    // Lets go of the rows fetched so far while the rest of the result still
    // arrives, for a reader that takes a large result in pieces: the next
    // fetched row is row 0 again.
    void dropFetched();
    bool fetchedAll() const { return m_rs == nullptr; }

    int fieldCount() const { return int(m_cols.size()); }
    int fieldIndex(const QString &name) const; // -1 when absent; any letter case
    QString asText(const QString &name) const;
    qint64 asInt(const QString &name) const;
    QString asText(int col) const { return textAt(m_pos, col); }
    qint64 asInt(int col) const { return intAt(m_pos, col); }

    // Direct access to buffered rows, for filling a model without moving.
    QString textAt(int row, int col) const;
    qint64 intAt(int row, int col) const;
    // Every cell of a buffered row at once, read in one pass.
    struct CellView
    {
        char kind;        // 0 NULL, 1 text, 2 integer, 3 BLOB
        const char *data; // text bytes, or the 8 bytes of an integer or BLOB id
        uint32_t length;
    };
    void rowView(int row, std::vector<CellView> &cells) const;

public:
    struct Column;
    struct Param;

private:
    friend class IBTransaction;
    friend class IBDatabase;
    void prepare();
    void openCursor();
    void run();
    void dropStatement();
    void ensureTransaction();
    void buildInput(detail::EngineRef<Firebird::IMessageMetadata> &meta, std::vector<unsigned char> &buf);
    bool fetchOne();
    void storeRow();
    const char *cell(int row, int col) const;
    QString readBlob(const unsigned char *id) const;

    IBDatabase *m_db;     // null once the database is gone
    IBTransaction *m_tra; // null once the transaction is gone
    QString m_sql;
    std::string m_prepared;           // positional text actually prepared
    std::vector<QString> m_positions; // parameter name of each "?" (upper case)
    std::vector<std::unique_ptr<Param>> m_params;
    // The prepared statement and its description, set together by prepare().
    detail::EngineRef<Firebird::IStatement> m_stmt;
    detail::EngineRef<Firebird::IMessageMetadata> m_inMeta;
    detail::EngineRef<Firebird::IMessageMetadata> m_outMeta;
    std::vector<Column> m_cols;
    std::vector<unsigned char> m_outBuf;
    bool m_rowIfTouched = false; // a RETURNING row comes only with a touched row
    detail::EngineRef<Firebird::IResultSet> m_rs;
    bool m_buffered = false; // a result (or RETURNING row) is held
    std::vector<char> m_store;
    std::vector<size_t> m_rowStart;
    int m_pos = 0;
    bool m_eof = true;
    qint64 m_affected = 0;
};

// Column of a statement's result, as the query layer delivers it.
struct IBQuery::Column
{
    QString name; // upper case alias
    int kind;     // 1 text, 2 integer, 3 blob
    unsigned offset, nullOffset, length;
};

// Closes the query when the scope ends, however it ends (a thrown error
// too), so that a shared query is never left open on a half-read result.
struct Closer
{
    IBQuery &q;
    ~Closer() { q.close(); }
};

} // namespace db
