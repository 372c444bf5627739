#include "ibase.h"
#include "cp1251.h"
#include "engineerrors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cctype>
#include <cstring>
#include <firebird/Interface.h>
#ifdef Q_OS_UNIX
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#endif

using namespace Firebird;

namespace db {
namespace {

constexpr unsigned kWin1251 = 52;
// The longest text a VARCHAR parameter can carry, in bytes.
constexpr qsizetype kMaxVarchar = 32765;

IMaster *master()
{
    static IMaster *m = fb_get_master_interface();
    return m;
}

// A status vector that throws on error and is disposed of on every exit.
struct Status : ThrowStatusWrapper
{
    Status() : ThrowStatusWrapper(master()->getStatus()) {}
    ~Status() { dispose(); }
};

QString describe(IStatus *status)
{
    char buf[4096];
    master()->getUtilInterface()->formatStatus(buf, sizeof buf, status);
    return cp1251::decode(buf, qsizetype(std::strlen(buf))).trimmed();
}

StatusCodes codesOf(IStatus *status)
{
    StatusCodes codes;
    const ISC_STATUS *v = status->getErrors();
    for (int i = 0; v[i] != isc_arg_end; i += 2) {
        if (v[i] == isc_arg_cstring) { // kind, length, pointer
            ++i;
            continue;
        }
        codes.items.emplace_back(long(v[i]), long(v[i + 1]));
    }
    return codes;
}

// The engine call that ended an object (commit, close, free, detach) has
// released it as well: the holder lets go of it without ending it again.
template <typename T>
void ended(detail::EngineRef<T> &ref)
{
    (void)ref.release();
}

} // namespace

// Runs `f`, turning the client library's exceptions into DbError; a lost
// connection is marked on the database, to be opened again at the next statement.
struct Guard
{
    template <typename F>
    static auto run(IBDatabase *db, F &&f) -> decltype(f())
    {
        try {
            return f();
        } catch (const FbException &e) {
            DbError error = engineError(codesOf(e.getStatus()), describe(e.getStatus()));
            if (error.connectionLost() && db && db->m_att)
                db->m_lost = true;
            throw error;
        }
    }
};

namespace {

template <typename F>
auto guarded(F &&f) -> decltype(f())
{
    return Guard::run(nullptr, std::forward<F>(f));
}

QByteArray encodeOrThrow(const QString &text)
{
    QByteArray out;
    qsizetype bad = -1;
    if (!cp1251::encode(text, out, &bad))
        throw DbError(encodingMessage(text, bad));
    return out;
}

// True for INSERT, UPDATE, DELETE and MERGE: their RETURNING row exists only
// when a row was touched (the engine reports them all as procedure calls).
bool isDataChange(const std::string &sql)
{
    size_t i = 0;
    const size_t n = sql.size();
    while (i < n) {
        if (std::isspace(static_cast<unsigned char>(sql[i]))) {
            ++i;
        } else if (sql.compare(i, 2, "--") == 0) {
            i = sql.find('\n', i);
        } else if (sql.compare(i, 2, "/*") == 0) {
            i = sql.find("*/", i + 2);
            if (i != std::string::npos)
                i += 2;
        } else {
            break;
        }
    }
    if (i >= n)
        return false;
    size_t j = i;
    while (j < n && std::isalpha(static_cast<unsigned char>(sql[j])))
        ++j;
    QByteArray word = QByteArray(sql.data() + i, qsizetype(j - i)).toUpper();
    return word == "INSERT" || word == "UPDATE" || word == "DELETE" || word == "MERGE";
}

bool isIntegerType(unsigned t)
{
    return t == SQL_SHORT || t == SQL_LONG || t == SQL_INT64;
}

} // namespace

QString encodingMessage(const QString &text, qsizetype pos)
{
    return QStringLiteral("Символ %1 не поддерживается базой данных: она хранит текст в кодировке Windows-1251.")
        .arg(cp1251::describeChar(text, pos));
}

bool isServerPath(const QString &path)
{
    if (path.startsWith(QLatin1String("inet://")) || path.startsWith(QLatin1String("xnet://")))
        return true;
    const qsizetype colon = path.indexOf(QLatin1Char(':'));
    // "C:\..." is a drive letter, not a host; "\\server\share" is a local (UNC) path.
    if (colon < 2)
        return false;
    // The host part may carry a port ("host/3051") but is never a path itself.
    const QString host = path.left(colon);
    return !host.startsWith(QLatin1Char('/')) && !host.contains(QLatin1Char('\\'));
}

QString conflictMessage()
{
    return QStringLiteral("Эти данные только что изменил или удалил другой пользователь, или он как раз сохраняет их.\r"
                          "Ничего не записано. Обновите данные и повторите действие.");
}

QString lockFolder()
{
    const QString env = qEnvironmentVariable("FIREBIRD_LOCK");
    if (!env.isEmpty())
        return env;
#ifdef Q_OS_UNIX
    // The engine's standard folder: never the session's TMPDIR, which differs
    // from user to user where a session sets it, so two engines would open one
    // file without knowing of each other.
    return QStringLiteral("/tmp/firebird");
#else
    return QString();
#endif
}

#ifdef Q_OS_UNIX
namespace {

// Below this much free room the engine's shared lock files cannot grow, and
// the engine crashes on the first page it cannot map.
constexpr unsigned long long kLockRoomBytes = 8ull * 1024 * 1024;

gid_t engineGroup()
{
    const struct group *g = ::getgrnam("firebird");
    return g ? g->gr_gid : gid_t(-1);
}

uid_t engineUser()
{
    const struct passwd *p = ::getpwnam("firebird");
    return p ? p->pw_uid : uid_t(-1);
}

} // namespace
#endif

QString lockFolderProblem(const QString &folder)
{
#ifdef Q_OS_UNIX
    if (folder.isEmpty())
        return QString();
    const QString shown = QDir::toNativeSeparators(folder);
    const QByteArray path = QFile::encodeName(folder);
    const QString fix = QStringLiteral("\rПопросите администратора исправить права папки или удалить её (программа "
                                       "создаст её заново); пользователи, работающие с общей базой данных, должны "
                                       "входить в группу firebird.");
    struct stat st;
    if (::lstat(path.constData(), &st) != 0)
        return QStringLiteral("Папку блокировок базы данных «%1» не удалось создать.").arg(shown) + fix;
    if (S_ISLNK(st.st_mode))
        return QStringLiteral("Папка блокировок базы данных «%1» — это ссылка на другое место, а не папка. "
                              "Пользоваться ею небезопасно.")
                   .arg(shown) +
               fix;
    if (!S_ISDIR(st.st_mode))
        return QStringLiteral("«%1» должна быть папкой блокировок базы данных, но это не папка.").arg(shown) + fix;
    const gid_t group = engineGroup();
    const bool trustedOwner = st.st_uid == 0 || st.st_uid == ::geteuid() || st.st_uid == engineUser() ||
                              (group != gid_t(-1) && st.st_gid == group);
    if (!trustedOwner)
        return QStringLiteral("Папку блокировок базы данных «%1» создал другой пользователь компьютера, не входящий "
                              "в группу firebird. Пользоваться ею небезопасно.")
                   .arg(shown) +
               fix;
    if ((st.st_mode & S_IWOTH) && !(st.st_mode & S_ISVTX))
        return QStringLiteral("Папка блокировок базы данных «%1» открыта для записи всем пользователям компьютера. "
                              "Пользоваться ею небезопасно.")
                   .arg(shown) +
               fix;
    if (::access(path.constData(), R_OK | W_OK | X_OK) != 0)
        return QStringLiteral("Нет доступа к папке блокировок базы данных «%1».\rКаждый пользователь компьютера, "
                              "работающий с общей базой данных, должен входить в группу firebird (adduser ИМЯ "
                              "firebird, затем войти в систему заново); попросите об этом администратора.")
            .arg(shown);
    struct statvfs vfs;
    if (::statvfs(path.constData(), &vfs) == 0) {
        const unsigned long long room = (unsigned long long)vfs.f_bavail * vfs.f_frsize;
        if (room < kLockRoomBytes)
            return QStringLiteral("В папке блокировок базы данных «%1» не осталось места (свободно %2 КБ, нужно "
                                  "не меньше %3 МБ).\rОсвободите место на этом диске (обычно это временная папка "
                                  "/tmp) и запустите программу снова.")
                .arg(shown)
                .arg(room / 1024)
                .arg(kLockRoomBytes / (1024 * 1024));
    }
#else
    Q_UNUSED(folder);
#endif
    return QString();
}

void prepareEngine(const QString &programFolder)
{
    if (qEnvironmentVariableIsEmpty("FIREBIRD")) {
        const QString root = programFolder + QStringLiteral("/firebird");
        if (QFileInfo::exists(root + QStringLiteral("/firebird.conf")))
            qputenv("FIREBIRD", QFile::encodeName(root));
    }
#ifdef Q_OS_UNIX
    if (qEnvironmentVariableIsEmpty("FIREBIRD_LOCK")) {
        // Made by the first copy before the engine makes it for that user
        // alone: set-group-ID with the group "firebird", which the users who
        // share a database file on this machine belong to; nobody else may
        // enter it. Without that group it stays this user's own.
        const QString folder = lockFolder();
        const QByteArray path = QFile::encodeName(folder);
        if (::mkdir(path.constData(), 0700) == 0) {
            const gid_t group = engineGroup();
            if (group != gid_t(-1) && ::chown(path.constData(), uid_t(-1), group) == 0)
                ::chmod(path.constData(), 02770);
        }
        qputenv("FIREBIRD_LOCK", path);
    }
#endif
}

// ------------------------------------------------------------ engine ends

namespace detail {

void EngineEnd::operator()(IAttachment *a) const
{
    Status st;
    try {
        a->detach(&st);
    } catch (const FbException &) {
        a->release(); // a connection already gone cannot be detached cleanly
    }
}

void EngineEnd::operator()(ITransaction *t) const
{
    Status st;
    try {
        t->rollback(&st);
    } catch (const FbException &) {
        t->release();
    }
}

void EngineEnd::operator()(IStatement *s) const
{
    Status st;
    try {
        s->free(&st);
    } catch (const FbException &) {
        s->release();
    }
}

void EngineEnd::operator()(IResultSet *r) const
{
    Status st;
    try {
        r->close(&st);
    } catch (const FbException &) {
        r->release();
    }
}

void EngineEnd::operator()(IBlob *b) const
{
    Status st;
    try {
        b->cancel(&st);
    } catch (const FbException &) {
        b->release();
    }
}

void EngineEnd::operator()(IMessageMetadata *m) const
{
    m->release();
}

void EngineEnd::operator()(IMetadataBuilder *b) const
{
    b->release();
}

void EngineEnd::operator()(IXpbBuilder *x) const
{
    x->dispose();
}

void EngineEnd::operator()(IProvider *p) const
{
    p->release();
}

} // namespace detail

using detail::EngineRef;

// ---------------------------------------------------------------- database

IBDatabase::IBDatabase() = default;

IBDatabase::~IBDatabase()
{
    try {
        close();
    } catch (...) {
    }
    for (IBQuery *q : m_queries)
        q->m_db = nullptr;
    for (IBTransaction *t : m_trans)
        t->m_db = nullptr;
}

static std::vector<unsigned char> makeDpb(const QString &user, const QString &password, bool create)
{
    Status st;
    EngineRef<IXpbBuilder> dpb(master()->getUtilInterface()->getXpbBuilder(&st, IXpbBuilder::DPB, nullptr, 0));
    dpb->insertString(&st, isc_dpb_user_name, user.toUtf8().constData());
    dpb->insertString(&st, isc_dpb_password, password.toUtf8().constData());
    dpb->insertString(&st, isc_dpb_lc_ctype, "WIN1251");
    dpb->insertInt(&st, isc_dpb_sql_dialect, 3);
    if (create) {
        dpb->insertString(&st, isc_dpb_set_db_charset, "WIN1251");
        dpb->insertInt(&st, isc_dpb_page_size, 16384);
    }
    const unsigned char *b = dpb->getBuffer(&st);
    return std::vector<unsigned char>(b, b + dpb->getBufferLength(&st));
}

void IBDatabase::open()
{
    if (m_att)
        return;
    Guard::run(this, [&] {
        Status st;
        const auto dpb = makeDpb(userName, password, false);
        EngineRef<IProvider> prov(master()->getDispatcher());
        m_att.reset(prov->attachDatabase(&st, QFile::encodeName(databaseName).constData(), unsigned(dpb.size()),
                                         dpb.data()));
    });
    m_lost = false;
    m_fileKnown = false;
#ifdef Q_OS_UNIX
    struct stat st;
    if (!isServerPath(databaseName) && ::stat(QFile::encodeName(databaseName).constData(), &st) == 0) {
        m_fileKnown = true;
        m_fileDevice = quint64(st.st_dev);
        m_fileInode = quint64(st.st_ino);
    }
#endif
}

void IBDatabase::close()
{
    if (!m_att)
        return;
    for (IBQuery *q : m_queries)
        q->dropStatement();
    for (IBTransaction *t : m_trans)
        t->rollback();
    m_att.reset();
    m_lost = false;
}

void IBDatabase::reconnect()
{
    // The old connection's statements and transactions died with it: they are
    // let go of (their ending calls fail and only release them).
    close();
    m_lost = true; // until a new connection is made
    open();
}

void IBDatabase::checkFileUnchanged() const
{
#ifdef Q_OS_UNIX
    if (!m_fileKnown)
        return;
    struct stat st;
    const bool same = ::stat(QFile::encodeName(databaseName).constData(), &st) == 0 &&
                      quint64(st.st_dev) == m_fileDevice && quint64(st.st_ino) == m_fileInode;
    if (!same)
        throw DbError(QStringLiteral("Файл базы данных «%1» удалён, перемещён или заменён другим файлом, пока "
                                     "программа работала, поэтому изменения не записаны: они остались на экране.\r"
                                     "Перепишите или скопируйте их, закройте программу и сообщите администратору; "
                                     "после восстановления файла запустите программу снова.")
                          .arg(QDir::toNativeSeparators(databaseName)));
#endif
}

void IBDatabase::create(const QString &path, const QString &user, const QString &password)
{
    guarded([&] {
        Status st;
        const auto dpb = makeDpb(user, password, true);
        EngineRef<IProvider> prov(master()->getDispatcher());
        EngineRef<IAttachment> att(
            prov->createDatabase(&st, QFile::encodeName(path).constData(), unsigned(dpb.size()), dpb.data()));
        att->detach(&st);
        ended(att);
    });
}

// ------------------------------------------------------------- transaction

IBTransaction::IBTransaction(IBDatabase *db, Kind kind) : m_db(db), m_kind(kind)
{
    if (m_db)
        m_db->m_trans.push_back(this);
}

IBTransaction::~IBTransaction()
{
    rollback();
    for (IBQuery *q : m_queries)
        q->m_tra = nullptr;
    if (m_db)
        std::erase(m_db->m_trans, this);
}

void IBTransaction::start()
{
    if (m_tra)
        return;
    if (m_db && m_db->m_lost)
        m_db->reconnect();
    if (!m_db || !m_db->attachment())
        throw DbError(QStringLiteral("Нет соединения с базой данных"));
    if (m_kind == Kind::Write)
        m_db->checkFileUnchanged();
    Guard::run(m_db, [&] {
        Status st;
        detail::EngineRef<IXpbBuilder> tpb(
            master()->getUtilInterface()->getXpbBuilder(&st, IXpbBuilder::TPB, nullptr, 0));
        if (m_kind == Kind::Write) {
            // Snapshot: a row changed by another connection since this unit
            // began cannot be written over. Waiting for a row another
            // connection holds, but not for long: a save then gives up with a
            // conflict instead of freezing.
            tpb->insertTag(&st, isc_tpb_concurrency);
            tpb->insertTag(&st, isc_tpb_write);
            tpb->insertTag(&st, isc_tpb_wait);
            tpb->insertInt(&st, isc_tpb_lock_timeout, kLockTimeoutSeconds);
        } else if (m_kind == Kind::Snapshot) {
            tpb->insertTag(&st, isc_tpb_concurrency);
            tpb->insertTag(&st, isc_tpb_read);
            tpb->insertTag(&st, isc_tpb_nowait);
        } else {
            // Read-only read committed: the engine needs to keep no old row
            // versions for it, however long it stays open.
            tpb->insertTag(&st, isc_tpb_read_committed);
            tpb->insertTag(&st, isc_tpb_rec_version);
            tpb->insertTag(&st, isc_tpb_read);
            tpb->insertTag(&st, isc_tpb_nowait);
        }
        m_tra.reset(m_db->attachment()->startTransaction(&st, tpb->getBufferLength(&st), tpb->getBuffer(&st)));
        m_started.start();
    });
}

void IBTransaction::commit()
{
    if (!m_tra)
        return;
    try {
        if (beforeCommit)
            beforeCommit();
        m_ending = true;
        for (IBQuery *q : m_queries)
            q->close();
        m_ending = false;
        Guard::run(m_db, [&] {
            Status st;
            m_tra->commit(&st);
            ended(m_tra);
        });
    } catch (...) {
        m_ending = false;
        rollback();
        throw;
    }
    finished(true);
}

void IBTransaction::rollback()
{
    if (!m_tra || m_ending)
        return;
    m_ending = true;
    for (IBQuery *q : m_queries)
        q->close();
    m_tra.reset();
    m_ending = false;
    finished(false);
}

void IBTransaction::finished(bool committed)
{
    m_savepoint = false;
    if (batch)
        batch(committed);
}

// One name serves: a unit's savepoint is ended before the next is set.
void IBTransaction::setSavepoint()
{
    start();
    runPlain("SAVEPOINT ZENTRAX_UNIT");
    m_savepoint = true;
}

void IBTransaction::releaseSavepoint()
{
    if (!m_savepoint)
        return;
    try {
        runPlain("RELEASE SAVEPOINT ZENTRAX_UNIT ONLY");
    } catch (...) {
        rollback(); // the unit cannot be kept apart from what follows
        throw;
    }
    m_savepoint = false;
}

void IBTransaction::rollbackToSavepoint()
{
    if (!m_savepoint || !m_tra)
        return;
    try {
        runPlain("ROLLBACK TO SAVEPOINT ZENTRAX_UNIT");
        runPlain("RELEASE SAVEPOINT ZENTRAX_UNIT ONLY");
    } catch (const DbError &) {
        rollback(); // the unit's work must not stay for a later commit
        return;
    }
    m_savepoint = false;
}

void IBTransaction::undoUnit()
{
    if (m_savepoint)
        rollbackToSavepoint();
    else
        rollback();
}

void IBTransaction::runPlain(const char *sql)
{
    if (!m_tra || !m_db || !m_db->attachment())
        throw DbError(QStringLiteral("Нет соединения с базой данных"));
    Guard::run(m_db, [&] {
        Status st;
        m_db->attachment()->execute(&st, m_tra.get(), 0, sql, 3, nullptr, nullptr, nullptr, nullptr);
    });
}

void IBTransaction::endIfIdle()
{
    // Starting a transaction writes the database's header page: a burst of
    // reads (a word typed into a search box) shares one. Kept open it would
    // hold nothing back either, the engine counting it as committed at once.
    constexpr qint64 kSharedForMs = 1000;
    if (m_kind != Kind::Read || !m_tra || m_ending || m_started.elapsed() < kSharedForMs)
        return;
    if (std::any_of(m_queries.begin(), m_queries.end(), [](const IBQuery *q) { return q->isOpen(); }))
        return;
    rollback(); // nothing was written: ending it either way is the same
}

// ------------------------------------------------------------------ query

struct IBQuery::Param
{
    QString name; // upper case
    bool isNull = true;
    bool isInt = false;
    qint64 intValue = 0;
    QString text;
};

IBQuery::IBQuery(IBDatabase *db, IBTransaction *tra) : m_db(db), m_tra(tra)
{
    if (m_db)
        m_db->m_queries.push_back(this);
    if (m_tra)
        m_tra->m_queries.push_back(this);
}

IBQuery::~IBQuery()
{
    dropStatement();
    if (m_db)
        std::erase(m_db->m_queries, this);
    if (m_tra)
        std::erase(m_tra->m_queries, this);
}

QString toPositional(const QString &sql, QStringList *names)
{
    QString out;
    out.reserve(sql.size());
    if (names)
        names->clear();
    const qsizetype n = sql.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = sql[i];
        if (c == u'\'' || c == u'"') {
            qsizetype j = sql.indexOf(c, i + 1);
            if (j < 0)
                j = n - 1;
            out += sql.mid(i, j - i + 1);
            i = j;
        } else if (c == u'-' && i + 1 < n && sql[i + 1] == u'-') {
            qsizetype j = sql.indexOf(u'\n', i);
            if (j < 0)
                j = n - 1;
            out += sql.mid(i, j - i + 1);
            i = j;
        } else if (c == u'/' && i + 1 < n && sql[i + 1] == u'*') {
            qsizetype j = sql.indexOf(QStringLiteral("*/"), i + 2);
            j = j < 0 ? n - 1 : j + 1;
            out += sql.mid(i, j - i + 1);
            i = j;
        } else if (c == u':' && i + 1 < n && (sql[i + 1].isLetter() || sql[i + 1] == u'_')) {
            qsizetype j = i + 1;
            while (j < n && (sql[j].isLetterOrNumber() || sql[j] == u'_' || sql[j] == u'$'))
                ++j;
            if (names)
                names->append(sql.mid(i + 1, j - i - 1).toUpper());
            out += u'?';
            i = j - 1;
        } else {
            out += c;
        }
    }
    return out;
}

static std::string positional(const QString &sql, std::vector<QString> &names)
{
    QStringList list;
    const QByteArray bytes = encodeOrThrow(toPositional(sql, &list));
    names.assign(list.begin(), list.end());
    return std::string(bytes.constData(), size_t(bytes.size()));
}

void IBQuery::setSql(const QString &sql)
{
    close();
    if (sql == m_sql && m_stmt)
        return;
    std::vector<QString> positions;
    std::string prepared = positional(sql, positions); // may refuse the text: nothing is changed yet
    std::vector<std::unique_ptr<Param>> params;
    for (const QString &name : positions)
        if (std::none_of(params.begin(), params.end(), [&](const auto &p) { return p->name == name; })) {
            auto p = std::make_unique<Param>();
            p->name = name;
            params.push_back(std::move(p));
        }
    dropStatement();
    m_sql = sql;
    m_prepared = std::move(prepared);
    m_positions = std::move(positions);
    m_params = std::move(params);
}

bool IBQuery::hasParam(const QString &name) const
{
    const QString u = name.toUpper();
    for (const auto &p : m_params)
        if (p->name == u)
            return true;
    return false;
}

QString IBQuery::paramText(const QString &name) const
{
    const QString u = name.toUpper();
    for (const auto &p : m_params)
        if (p->name == u)
            return p->isInt ? QString::number(p->intValue) : p->text;
    return QString();
}

QStringList IBQuery::paramNames() const
{
    QStringList l;
    for (const auto &p : m_params)
        l << p->name;
    return l;
}

static IBQuery::Param *findParam(std::vector<std::unique_ptr<IBQuery::Param>> &params, const QString &name,
                                 const QString &sql)
{
    const QString u = name.toUpper();
    for (auto &p : params)
        if (p->name == u)
            return p.get();
    throw DbError(QStringLiteral("Параметр %1 не найден в запросе:\r%2").arg(name, sql));
}

void IBQuery::setParam(const QString &name, const QString &value)
{
    Param *p = findParam(m_params, name, m_sql);
    p->isNull = false;
    p->isInt = false;
    p->text = value;
}

void IBQuery::setParam(const QString &name, qint64 value)
{
    Param *p = findParam(m_params, name, m_sql);
    p->isNull = false;
    p->isInt = true;
    p->intValue = value;
}

void IBQuery::setParamNull(const QString &name)
{
    Param *p = findParam(m_params, name, m_sql);
    p->isNull = true;
}

void IBQuery::ensureTransaction()
{
    if (!m_db || (!m_db->attachment() && !m_db->m_lost))
        throw DbError(QStringLiteral("Нет соединения с базой данных"));
    if (!m_tra)
        throw DbError(QStringLiteral("Транзакция запроса уже завершена и удалена"));
    m_tra->start();
}

namespace {

// The result description a query reads its rows through.
struct Output
{
    EngineRef<IMessageMetadata> meta; // null when the statement returns nothing
    std::vector<IBQuery::Column> cols;
    unsigned length = 0;
};

Output describeOutput(IStatement *stmt)
{
    Status st;
    Output out;
    EngineRef<IMessageMetadata> orig(stmt->getOutputMetadata(&st));
    const unsigned n = orig->getCount(&st);
    if (n == 0)
        return out;
    EngineRef<IMetadataBuilder> b(orig->getBuilder(&st));
    std::vector<int> kinds(n);
    for (unsigned i = 0; i < n; ++i) {
        const unsigned t = orig->getType(&st, i) & ~1u;
        if (t == SQL_BLOB) {
            kinds[i] = 3;
            b->setType(&st, i, SQL_BLOB + 1);
        } else if (isIntegerType(t) && orig->getScale(&st, i) == 0) {
            kinds[i] = 2;
            b->setType(&st, i, SQL_INT64 + 1);
            b->setLength(&st, i, 8);
        } else {
            kinds[i] = 1;
            unsigned len = orig->getLength(&st, i);
            const bool text = t == SQL_TEXT || t == SQL_VARYING;
            if (!text)
                len = 64; // numbers, dates and the like arrive as their text
            b->setType(&st, i, SQL_VARYING + 1);
            // Text of another set is transliterated to WIN1251 on the way (octets stay bytes).
            const unsigned cs = text ? orig->getCharSet(&st, i) : 0;
            if (!text || (cs != 1 && cs != kWin1251))
                b->setCharSet(&st, i, kWin1251);
            b->setLength(&st, i, len);
        }
    }
    out.meta.reset(b->getMetadata(&st));
    for (unsigned i = 0; i < n; ++i) {
        IBQuery::Column c;
        const char *alias = orig->getAlias(&st, i);
        const char *field = orig->getField(&st, i);
        c.name = QString::fromLatin1(alias && *alias ? alias : field).toUpper();
        c.kind = kinds[i];
        c.offset = out.meta->getOffset(&st, i);
        c.nullOffset = out.meta->getNullOffset(&st, i);
        c.length = out.meta->getLength(&st, i);
        out.cols.push_back(c);
    }
    out.length = out.meta->getMessageLength(&st);
    return out;
}

} // namespace

// The statement and its description are built aside and taken together, so
// a failure on the way leaves the query with no statement at all.
void IBQuery::prepare()
{
    if (m_stmt)
        return;
    if (m_prepared.empty())
        throw DbError(QStringLiteral("Пустой текст запроса"));
    Guard::run(m_db, [&] {
        Status st;
        EngineRef<IStatement> stmt(m_db->attachment()->prepare(&st, m_tra->m_tra.get(), unsigned(m_prepared.size()),
                                                               m_prepared.c_str(), 3,
                                                               IStatement::PREPARE_PREFETCH_METADATA));
        EngineRef<IMessageMetadata> in(stmt->getInputMetadata(&st));
        Output out = describeOutput(stmt.get());
        std::vector<unsigned char> outBuf(out.length, 0);
        m_stmt = std::move(stmt);
        m_inMeta = std::move(in);
        m_outMeta = std::move(out.meta);
        m_cols = std::move(out.cols);
        m_outBuf = std::move(outBuf);
        m_rowIfTouched = isDataChange(m_prepared);
    });
}

void IBQuery::buildInput(EngineRef<IMessageMetadata> &meta, std::vector<unsigned char> &buf)
{
    meta.reset();
    buf.clear();
    const size_t n = m_positions.size();
    if (n == 0)
        return;
    Status st;
    // Encode and check every value first, so a value the database cannot
    // hold stops the statement before anything is sent.
    std::vector<QByteArray> bytes(n);
    std::vector<Param *> ps(n);
    std::vector<unsigned> types(n);
    for (size_t i = 0; i < n; ++i) {
        ps[i] = findParam(m_params, m_positions[i], m_sql);
        const unsigned t = m_inMeta->getType(&st, unsigned(i)) & ~1u;
        if (t == SQL_BLOB)
            types[i] = SQL_BLOB;
        else if (ps[i]->isInt && isIntegerType(t))
            types[i] = SQL_INT64;
        else
            types[i] = SQL_VARYING;
        if (ps[i]->isNull)
            continue;
        bytes[i] = ps[i]->isInt ? QByteArray::number(ps[i]->intValue) : encodeOrThrow(ps[i]->text);
        if (types[i] == SQL_VARYING && bytes[i].size() > kMaxVarchar)
            throw DbError(QStringLiteral("Слишком длинный текст (знаков: %1): база данных принимает "
                                         "в одном значении не больше 32 765 знаков.")
                              .arg(ps[i]->text.size()));
    }
    EngineRef<IMetadataBuilder> b(m_inMeta->getBuilder(&st));
    for (size_t i = 0; i < n; ++i) {
        const unsigned idx = unsigned(i);
        if (types[i] == SQL_INT64) {
            b->setType(&st, idx, SQL_INT64 + 1);
            b->setLength(&st, idx, 8);
            b->setScale(&st, idx, 0);
        } else if (types[i] == SQL_VARYING) {
            b->setType(&st, idx, SQL_VARYING + 1);
            b->setCharSet(&st, idx, kWin1251);
            b->setLength(&st, idx, unsigned(std::max<qsizetype>(bytes[i].size(), 1)));
        }
    }
    meta.reset(b->getMetadata(&st));
    buf.assign(meta->getMessageLength(&st), 0);
    for (size_t i = 0; i < n; ++i) {
        const unsigned idx = unsigned(i);
        unsigned char *field = buf.data() + meta->getOffset(&st, idx);
        auto *null = reinterpret_cast<short *>(buf.data() + meta->getNullOffset(&st, idx));
        *null = ps[i]->isNull ? -1 : 0;
        if (ps[i]->isNull)
            continue;
        if (types[i] == SQL_INT64) {
            const qint64 v = ps[i]->intValue;
            std::memcpy(field, &v, 8);
        } else if (types[i] == SQL_VARYING) {
            const auto len = uint16_t(bytes[i].size());
            std::memcpy(field, &len, 2);
            std::memcpy(field + 2, bytes[i].constData(), len);
        } else {
            EngineRef<IBlob> blob(m_db->attachment()->createBlob(&st, m_tra->m_tra.get(),
                                                                 reinterpret_cast<ISC_QUAD *>(field), 0, nullptr));
            const QByteArray &data = bytes[i];
            for (qsizetype off = 0; off < data.size(); off += 32768) {
                const auto chunk = unsigned(std::min<qsizetype>(32768, data.size() - off));
                blob->putSegment(&st, chunk, data.constData() + off);
            }
            blob->close(&st);
            ended(blob);
        }
    }
}

void IBQuery::open()
{
    close();
    ensureTransaction();
    try {
        prepare();
        openCursor();
    } catch (...) {
        m_tra->undoUnit();
        throw;
    }
}

void IBQuery::openCursor()
{
    Guard::run(m_db, [&] {
        Status st;
        EngineRef<IMessageMetadata> inMeta;
        std::vector<unsigned char> in;
        buildInput(inMeta, in);
        m_rs.reset(m_stmt->openCursor(&st, m_tra->m_tra.get(), inMeta.get(), in.empty() ? nullptr : in.data(),
                                      m_outMeta.get(), 0));
        m_buffered = true;
        m_pos = 0;
        m_eof = !fetchOne();
    });
}

void IBQuery::execute()
{
    close();
    ensureTransaction();
    try {
        prepare();
        run();
    } catch (...) {
        m_tra->undoUnit();
        throw;
    }
}

void IBQuery::run()
{
    Guard::run(m_db, [&] {
        Status st;
        EngineRef<IMessageMetadata> inMeta;
        std::vector<unsigned char> in;
        buildInput(inMeta, in);
        m_stmt->execute(&st, m_tra->m_tra.get(), inMeta.get(), in.empty() ? nullptr : in.data(), m_outMeta.get(),
                        m_outMeta ? m_outBuf.data() : nullptr);
        m_affected = qint64(m_stmt->getAffectedRecords(&st));
        if (m_outMeta && (!m_rowIfTouched || m_affected > 0)) { // a RETURNING or procedure row
            storeRow();
            m_buffered = true;
            m_pos = 0;
            m_eof = false;
        }
    });
}

bool IBQuery::fetchOne()
{
    if (!m_rs)
        return false;
    return Guard::run(m_db, [&] {
        Status st;
        if (m_rs->fetchNext(&st, m_outBuf.data()) == IStatus::RESULT_OK) {
            storeRow();
            return true;
        }
        m_rs->close(&st);
        ended(m_rs);
        return false;
    });
}

void IBQuery::dropFetched()
{
    m_store.clear();
    m_rowStart.clear();
    m_pos = 0;
}

int IBQuery::fetchMore(int max)
{
    int got = 0;
    while (got < max && fetchOne())
        ++got;
    return got;
}

// Rows are kept in one byte store: per cell a tag (0 NULL, 1 text, 2 integer,
// 3 blob id) followed by its value; text as a 32-bit length and its bytes.
void IBQuery::storeRow()
{
    m_rowStart.push_back(m_store.size());
    const unsigned char *buf = m_outBuf.data();
    for (const Column &c : m_cols) {
        const bool null = *reinterpret_cast<const short *>(buf + c.nullOffset) != 0;
        if (null) {
            m_store.push_back(0);
            continue;
        }
        m_store.push_back(char(c.kind));
        const unsigned char *v = buf + c.offset;
        if (c.kind == 1) {
            uint16_t len16;
            std::memcpy(&len16, v, 2);
            const uint32_t len = len16;
            const char *lp = reinterpret_cast<const char *>(&len);
            m_store.insert(m_store.end(), lp, lp + 4);
            m_store.insert(m_store.end(), v + 2, v + 2 + len);
        } else {
            m_store.insert(m_store.end(), v, v + 8);
        }
    }
}

void IBQuery::close()
{
    const bool wasOpen = isOpen();
    m_rs.reset();
    m_buffered = false;
    m_store.clear();
    m_store.shrink_to_fit();
    m_rowStart.clear();
    m_rowStart.shrink_to_fit();
    m_pos = 0;
    m_eof = true;
    if (wasOpen && m_tra)
        m_tra->endIfIdle(); // a short read ends with its last result
}

void IBQuery::dropStatement()
{
    close();
    m_outMeta.reset();
    m_inMeta.reset();
    m_stmt.reset();
    m_cols.clear();
    m_outBuf.clear();
}

void IBQuery::first()
{
    m_pos = 0;
    m_eof = m_rowStart.empty();
}

void IBQuery::next()
{
    if (m_pos + 1 < recordCount()) {
        ++m_pos;
    } else if (fetchOne()) {
        ++m_pos;
    } else {
        m_eof = true;
    }
}

void IBQuery::last()
{
    while (fetchOne()) {
    }
    m_pos = std::max(0, recordCount() - 1);
    m_eof = m_rowStart.empty();
}

int IBQuery::fieldIndex(const QString &name) const
{
    const QString u = name.toUpper();
    for (size_t i = 0; i < m_cols.size(); ++i)
        if (m_cols[i].name == u)
            return int(i);
    return -1;
}

const char *IBQuery::cell(int row, int col) const
{
    if (row < 0 || row >= recordCount() || col < 0 || col >= fieldCount())
        return nullptr;
    const char *p = m_store.data() + m_rowStart[size_t(row)];
    for (int i = 0; i < col; ++i) {
        const char tag = *p++;
        if (tag == 1) {
            uint32_t len;
            std::memcpy(&len, p, 4);
            p += 4 + len;
        } else if (tag != 0) {
            p += 8;
        }
    }
    return p;
}

void IBQuery::rowView(int row, std::vector<CellView> &cells) const
{
    cells.clear();
    if (row < 0 || row >= recordCount())
        return;
    const char *p = m_store.data() + m_rowStart[size_t(row)];
    for (size_t i = 0; i < m_cols.size(); ++i) {
        const char tag = *p++;
        if (tag == 1) {
            uint32_t len;
            std::memcpy(&len, p, 4);
            cells.push_back({tag, p + 4, len});
            p += 4 + len;
        } else if (tag == 0) {
            cells.push_back({tag, p, 0});
        } else {
            cells.push_back({tag, p, 8});
            p += 8;
        }
    }
}

QString IBQuery::textAt(int row, int col) const
{
    const char *p = cell(row, col);
    if (!p)
        return QString();
    switch (*p) {
    case 1: {
        uint32_t len;
        std::memcpy(&len, p + 1, 4);
        return cp1251::decode(p + 5, len);
    }
    case 2: {
        qint64 v;
        std::memcpy(&v, p + 1, 8);
        return QString::number(v);
    }
    case 3:
        return readBlob(reinterpret_cast<const unsigned char *>(p + 1));
    default:
        return QString();
    }
}

qint64 IBQuery::intAt(int row, int col) const
{
    const char *p = cell(row, col);
    if (!p)
        return 0;
    if (*p == 2) {
        qint64 v;
        std::memcpy(&v, p + 1, 8);
        return v;
    }
    if (*p == 0)
        return 0;
    bool ok = false;
    const qint64 v = textAt(row, col).trimmed().toLongLong(&ok);
    if (!ok)
        throw DbError(QStringLiteral("Значение «%1» не является целым числом").arg(textAt(row, col)));
    return v;
}

QString IBQuery::asText(const QString &name) const
{
    const int i = fieldIndex(name);
    if (i < 0)
        throw DbError(QStringLiteral("Поле %1 не найдено").arg(name));
    return textAt(m_pos, i);
}

qint64 IBQuery::asInt(const QString &name) const
{
    const int i = fieldIndex(name);
    if (i < 0)
        throw DbError(QStringLiteral("Поле %1 не найдено").arg(name));
    return intAt(m_pos, i);
}

QString IBQuery::readBlob(const unsigned char *id) const
{
    if (!m_db || !m_db->attachment() || !m_tra || !m_tra->active())
        throw DbError(QStringLiteral("Текст примечаний недоступен: транзакция завершена"));
    return Guard::run(m_db, [&] {
        Status st;
        ISC_QUAD quad;
        std::memcpy(&quad, id, sizeof quad);
        EngineRef<IBlob> blob(m_db->attachment()->openBlob(&st, m_tra->m_tra.get(), &quad, 0, nullptr));
        QByteArray data;
        char chunk[16384];
        for (;;) {
            unsigned got = 0;
            const int r = blob->getSegment(&st, sizeof chunk, chunk, &got);
            if (r == IStatus::RESULT_OK || r == IStatus::RESULT_SEGMENT)
                data.append(chunk, got);
            else
                break;
        }
        blob->close(&st);
        ended(blob);
        return cp1251::decode(data);
    });
}

} // namespace db
