// The connection and its transactions.

#include "ibase_p.h"

#include <QDir>
#include <QFileInfo>
#include <cstring>
#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

using namespace Firebird;

namespace db {

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

static std::vector<unsigned char> makeDpb(const QString &user, const QString &password, bool create, int cachePages = 0)
{
    Status st;
    EngineRef<IXpbBuilder> dpb(master()->getUtilInterface()->getXpbBuilder(&st, IXpbBuilder::DPB, nullptr, 0));
    dpb->insertString(&st, isc_dpb_user_name, user.toUtf8().constData());
    dpb->insertString(&st, isc_dpb_password, password.toUtf8().constData());
    dpb->insertString(&st, isc_dpb_lc_ctype, "WIN1251");
    dpb->insertInt(&st, isc_dpb_sql_dialect, 3);
    if (cachePages > 0)
        dpb->insertInt(&st, isc_dpb_num_buffers, cachePages);
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
    // The engine of this process keeps its locks in that folder: refused
    // when it is unsafe (a program's own check at start-up says so first).
    if (!isServerPath(databaseName)) {
        const QString folder = lockFolder();
        if (!folder.isEmpty() && QFileInfo::exists(folder))
            if (const QString problem = lockFolderProblem(folder); !problem.isEmpty())
                throw DbError(problem);
    }
    Guard::run(this, [&] {
        Status st;
        const auto dpb = makeDpb(userName, password, false, cachePages);
        EngineRef<IProvider> prov(master()->getDispatcher());
        m_att.reset(
            prov->attachDatabase(&st, QFile::encodeName(databaseName).constData(), unsigned(dpb.size()), dpb.data()));
    });
    m_lost = false;
    m_fileKnown = false;
    if (!isServerPath(databaseName))
        if (const QString problem = reserveLockRoom(lockFolder()); !problem.isEmpty()) {
            close();
            throw DbError(problem);
        }
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
        throw DbError((windowAdvice()
                           ? QStringLiteral("Файл базы данных «%1» удалён, перемещён или заменён другим файлом, пока "
                                            "программа работала, поэтому изменения не записаны: они остались на "
                                            "экране.\rПерепишите или скопируйте их, закройте программу и сообщите "
                                            "администратору; после восстановления файла запустите программу снова.")
                           : QStringLiteral("Файл базы данных «%1» удалён, перемещён или заменён другим файлом, пока "
                                            "с ним работали, поэтому изменения не записаны.\rСообщите "
                                            "администратору; после восстановления файла повторите действие."))
                          .arg(QDir::toNativeSeparators(databaseName)),
                      false, DbError::Kind::FileReplaced);
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

} // namespace db
