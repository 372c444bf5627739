#include "engine.h"

#include "db/cp1251.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <firebird/Interface.h>
#include <stdexcept>

using namespace Firebird;

namespace bench {

namespace {

// The connection of the serving child.
struct Local
{
    explicit Local(const QString &path);
    ~Local();
    double run(const QString &sql, const QStringList &params, bool prepareEachTime, int *rows);

    IMaster *master = fb_get_master_interface();
    ThrowStatusWrapper st{master->getStatus()};
    IProvider *prov = nullptr;
    IAttachment *att = nullptr;
    ITransaction *tra = nullptr;
    QHash<QString, IStatement *> prepared;
};

Local::Local(const QString &path)
{
    IXpbBuilder *dpb = master->getUtilInterface()->getXpbBuilder(&st, IXpbBuilder::DPB, nullptr, 0);
    dpb->insertString(&st, isc_dpb_user_name, "sysdba");
    dpb->insertString(&st, isc_dpb_password, "tarvokilm");
    dpb->insertString(&st, isc_dpb_lc_ctype, "WIN1251");
    dpb->insertInt(&st, isc_dpb_sql_dialect, 3);
    prov = master->getDispatcher();
    att =
        prov->attachDatabase(&st, QFile::encodeName(path).constData(), dpb->getBufferLength(&st), dpb->getBuffer(&st));
    dpb->dispose();
    tra = att->startTransaction(&st, 0, nullptr);
}

Local::~Local()
{
    for (IStatement *s : prepared)
        s->free(&st);
    tra->commit(&st);
    att->detach(&st);
    prov->release();
    st.dispose();
}

double Local::run(const QString &sql, const QStringList &params, bool prepareEachTime, int *rows)
{
    QByteArray text;
    cp1251::encode(sql, text);
    QElapsedTimer t;
    t.start();
    IStatement *stmt = prepareEachTime ? nullptr : prepared.value(sql);
    if (!stmt) {
        stmt =
            att->prepare(&st, tra, unsigned(text.size()), text.constData(), 3, IStatement::PREPARE_PREFETCH_METADATA);
        if (!prepareEachTime)
            prepared.insert(sql, stmt);
    }
    IMessageMetadata *in = nullptr;
    std::vector<unsigned char> inBuf;
    if (!params.isEmpty()) {
        IMessageMetadata *orig = stmt->getInputMetadata(&st);
        IMetadataBuilder *b = orig->getBuilder(&st);
        std::vector<QByteArray> values;
        for (int i = 0; i < params.size(); ++i) {
            QByteArray v;
            cp1251::encode(params[i], v);
            values.push_back(v);
            b->setType(&st, unsigned(i), SQL_VARYING + 1);
            b->setCharSet(&st, unsigned(i), 52);
            b->setLength(&st, unsigned(i), unsigned(std::max<qsizetype>(1, v.size())));
        }
        in = b->getMetadata(&st);
        b->release();
        orig->release();
        inBuf.assign(in->getMessageLength(&st), 0);
        for (int i = 0; i < params.size(); ++i) {
            unsigned char *f = inBuf.data() + in->getOffset(&st, unsigned(i));
            const auto len = uint16_t(values[size_t(i)].size());
            std::memcpy(f, &len, 2);
            std::memcpy(f + 2, values[size_t(i)].constData(), len);
            *reinterpret_cast<short *>(inBuf.data() + in->getNullOffset(&st, unsigned(i))) = 0;
        }
    }
    IMessageMetadata *out = stmt->getOutputMetadata(&st);
    std::vector<unsigned char> outBuf(out->getMessageLength(&st));
    IResultSet *rs = stmt->openCursor(&st, tra, in, in ? inBuf.data() : nullptr, out, 0);
    int n = 0;
    while (rs->fetchNext(&st, outBuf.data()) == IStatus::RESULT_OK)
        ++n;
    rs->close(&st);
    const double ms = double(t.nsecsElapsed()) / 1e6;
    out->release();
    if (in)
        in->release();
    if (prepareEachTime)
        stmt->free(&st);
    if (rows)
        *rows = n;
    return ms;
}

} // namespace

struct Engine::Impl
{
    QProcess child;
};

Engine::Engine(const QString &path) : d(new Impl)
{
    d->child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    d->child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--engine"), path});
    // The child says "ready" once connected.
    if (!d->child.waitForReadyRead(60000) || !d->child.canReadLine() ||
        d->child.readLine().trimmed() != QByteArrayLiteral("ready"))
        throw std::runtime_error("the bare engine's process did not connect");
}

Engine::~Engine()
{
    d->child.closeWriteChannel();
    if (!d->child.waitForFinished(30000))
        d->child.kill();
    delete d;
}

double Engine::run(const QString &sql, const QStringList &params, bool prepareEachTime, int *rows)
{
    QJsonObject ask;
    ask[QStringLiteral("sql")] = sql;
    ask[QStringLiteral("params")] = QJsonArray::fromStringList(params);
    ask[QStringLiteral("prepare")] = prepareEachTime;
    d->child.write(QJsonDocument(ask).toJson(QJsonDocument::Compact) + '\n');
    while (!d->child.canReadLine())
        if (!d->child.waitForReadyRead(-1))
            throw std::runtime_error("the bare engine's process ended");
    const QJsonObject answer = QJsonDocument::fromJson(d->child.readLine()).object();
    if (answer.contains(QStringLiteral("error")))
        throw std::runtime_error(answer.value(QStringLiteral("error")).toString().toStdString());
    if (rows)
        *rows = answer.value(QStringLiteral("rows")).toInt();
    return answer.value(QStringLiteral("ms")).toDouble();
}

int serveEngine(const QString &path)
{
    Local engine(path);
    std::cout << "ready" << std::endl;
    std::string line;
    while (std::getline(std::cin, line)) {
        const QJsonObject ask = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
        QStringList params;
        for (const QJsonValue &v : ask.value(QStringLiteral("params")).toArray())
            params << v.toString();
        QJsonObject answer;
        try {
            int rows = 0;
            answer[QStringLiteral("ms")] = engine.run(ask.value(QStringLiteral("sql")).toString(), params,
                                                      ask.value(QStringLiteral("prepare")).toBool(), &rows);
            answer[QStringLiteral("rows")] = rows;
        } catch (const FbException &e) {
            char text[512];
            fb_get_master_interface()->getUtilInterface()->formatStatus(text, sizeof text, e.getStatus());
            answer[QStringLiteral("error")] = QString::fromLocal8Bit(text);
        }
        std::cout << QJsonDocument(answer).toJson(QJsonDocument::Compact).toStdString() << std::endl;
    }
    return 0;
}

} // namespace bench
