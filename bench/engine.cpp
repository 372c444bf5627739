#include "engine.h"

#include "db/cp1251.h"

#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <cstring>
#include <firebird/Interface.h>
#include <stdexcept>

using namespace Firebird;

namespace bench {

struct Engine::Impl
{
    IMaster *master = fb_get_master_interface();
    ThrowStatusWrapper st{master->getStatus()};
    IProvider *prov = nullptr;
    IAttachment *att = nullptr;
    ITransaction *tra = nullptr;
    QHash<QString, IStatement *> prepared;
};

Engine::Engine(const QString &path) : d(new Impl)
{
    IXpbBuilder *dpb = d->master->getUtilInterface()->getXpbBuilder(&d->st, IXpbBuilder::DPB, nullptr, 0);
    dpb->insertString(&d->st, isc_dpb_user_name, "sysdba");
    dpb->insertString(&d->st, isc_dpb_password, "tarvokilm");
    dpb->insertString(&d->st, isc_dpb_lc_ctype, "WIN1251");
    dpb->insertInt(&d->st, isc_dpb_sql_dialect, 3);
    d->prov = d->master->getDispatcher();
    d->att = d->prov->attachDatabase(&d->st, QFile::encodeName(path).constData(), dpb->getBufferLength(&d->st),
                                     dpb->getBuffer(&d->st));
    dpb->dispose();
    d->tra = d->att->startTransaction(&d->st, 0, nullptr);
}

Engine::~Engine()
{
    for (IStatement *s : d->prepared)
        s->free(&d->st);
    d->tra->commit(&d->st);
    d->att->detach(&d->st);
    d->prov->release();
    d->st.dispose();
    delete d;
}

double Engine::run(const QString &sql, const QStringList &params, bool prepareEachTime, int *rows)
{
    QByteArray text;
    cp1251::encode(sql, text);
    QElapsedTimer t;
    t.start();
    IStatement *stmt = prepareEachTime ? nullptr : d->prepared.value(sql);
    if (!stmt) {
        stmt = d->att->prepare(&d->st, d->tra, unsigned(text.size()), text.constData(), 3,
                               IStatement::PREPARE_PREFETCH_METADATA);
        if (!prepareEachTime)
            d->prepared.insert(sql, stmt);
    }
    IMessageMetadata *in = nullptr;
    std::vector<unsigned char> inBuf;
    if (!params.isEmpty()) {
        IMessageMetadata *orig = stmt->getInputMetadata(&d->st);
        IMetadataBuilder *b = orig->getBuilder(&d->st);
        std::vector<QByteArray> values;
        for (int i = 0; i < params.size(); ++i) {
            QByteArray v;
            cp1251::encode(params[i], v);
            values.push_back(v);
            b->setType(&d->st, unsigned(i), SQL_VARYING + 1);
            b->setCharSet(&d->st, unsigned(i), 52);
            b->setLength(&d->st, unsigned(i), unsigned(std::max<qsizetype>(1, v.size())));
        }
        in = b->getMetadata(&d->st);
        b->release();
        orig->release();
        inBuf.assign(in->getMessageLength(&d->st), 0);
        for (int i = 0; i < params.size(); ++i) {
            unsigned char *f = inBuf.data() + in->getOffset(&d->st, unsigned(i));
            const auto len = uint16_t(values[size_t(i)].size());
            std::memcpy(f, &len, 2);
            std::memcpy(f + 2, values[size_t(i)].constData(), len);
            *reinterpret_cast<short *>(inBuf.data() + in->getNullOffset(&d->st, unsigned(i))) = 0;
        }
    }
    IMessageMetadata *out = stmt->getOutputMetadata(&d->st);
    std::vector<unsigned char> outBuf(out->getMessageLength(&d->st));
    IResultSet *rs = stmt->openCursor(&d->st, d->tra, in, in ? inBuf.data() : nullptr, out, 0);
    int n = 0;
    while (rs->fetchNext(&d->st, outBuf.data()) == IStatus::RESULT_OK)
        ++n;
    rs->close(&d->st);
    const double ms = double(t.nsecsElapsed()) / 1e6;
    out->release();
    if (in)
        in->release();
    if (prepareEachTime)
        stmt->free(&d->st);
    if (rows)
        *rows = n;
    return ms;
}

} // namespace bench
