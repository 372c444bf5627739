// Statements: their text and named parameters, preparing, running and
// fetching.

#include "cp1251.h"
#include "ibase_p.h"

#include <algorithm>
#include <cctype>
#include <cstring>

using namespace Firebird;

namespace db {
namespace {

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

void IBQuery::clearParams()
{
    for (auto &p : m_params)
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
        // A read-only transaction holds no work to undo, only other reads'
        // results: the failed read ends alone and they go on. On a write
        // transaction the read was part of a unit of work, which fails with
        // it. A lost connection took every transaction with it: this one is
        // let go of, so that the next statement connects anew.
        if (m_tra->kind() == IBTransaction::Kind::Write || (m_db && m_db->lost()))
            m_tra->undoUnit();
        else
            close();
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

} // namespace db
