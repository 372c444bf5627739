#include "events.h"

#include "ibase_p.h"

#include <atomic>
#include <mutex>

namespace db {

// What the client library calls when the event is posted. It outlives the
// watch when a delivery is under way as the watch ends, hence its own count.
class EventWatch::Callback : public Firebird::IEventCallbackImpl<Callback, Firebird::ThrowStatusWrapper>
{
public:
    explicit Callback(QByteArray block) : m_block(std::move(block)) {}

    void addRef() override { ++m_refs; }
    int release() override
    {
        if (--m_refs == 0) {
            delete this;
            return 0;
        }
        return 1;
    }

    void eventCallbackFunction(unsigned length, const unsigned char *events) override
    {
        // Under the lock while telling: the watch, ending, waits for it, and
        // what it is told only hands the news on.
        std::lock_guard lock(m_mutex);
        if (events && length == unsigned(m_block.size()))
            m_block = QByteArray(reinterpret_cast<const char *>(events), qsizetype(length));
        m_fired = true;
        if (m_posted)
            m_posted();
    }

    void expect(std::function<void()> posted)
    {
        std::lock_guard lock(m_mutex);
        m_posted = std::move(posted);
        m_fired = false;
    }
    void forget()
    {
        std::lock_guard lock(m_mutex);
        m_posted = nullptr;
    }
    QByteArray block()
    {
        std::lock_guard lock(m_mutex);
        return m_block;
    }
    bool fired()
    {
        std::lock_guard lock(m_mutex);
        return m_fired;
    }

private:
    std::atomic<int> m_refs{1};
    std::mutex m_mutex;
    QByteArray m_block;
    std::function<void()> m_posted;
    bool m_fired = false;
};

namespace {

// The event parameter block: its version, then the name with its length
// and the count last seen (four bytes, least significant first).
QByteArray eventBlock(const QByteArray &name)
{
    QByteArray b;
    b.append(char(1)); // EPB_version1
    b.append(char(name.size()));
    b.append(name);
    b.append(4, '\0');
    return b;
}

} // namespace

EventWatch::EventWatch(IBDatabase &db, const QByteArray &name)
    : m_db(db), m_block(eventBlock(name)), m_callback(new Callback(m_block))
{
}

EventWatch::~EventWatch()
{
    m_callback->forget();
    cancel();
    m_callback->release();
}

void EventWatch::cancel()
{
    if (!m_events)
        return;
    // On the connection it was armed on, if that is still open; a watch
    // that fired, or whose connection went, only needs letting go of.
    if (m_armedOn == m_db.attachment() && !m_callback->fired()) {
        try {
            Status st;
            m_events->cancel(&st); // releases it as well
            m_events = nullptr;
        } catch (const Firebird::FbException &) {
        }
    }
    if (m_events)
        m_events->release();
    m_events = nullptr;
    m_armedOn = nullptr;
}

bool EventWatch::arm(std::function<void()> posted)
{
    cancel();
    Firebird::IAttachment *att = m_db.attachment();
    if (!att)
        return false;
    const QByteArray block = m_callback->block();
    m_callback->expect(std::move(posted));
    try {
        Status st;
        m_events = att->queEvents(&st, m_callback, unsigned(block.size()),
                                  reinterpret_cast<const unsigned char *>(block.constData()));
    } catch (const Firebird::FbException &) {
        m_callback->forget();
        return false;
    }
    m_armedOn = att;
    return true;
}

bool EventWatch::armed() const
{
    return m_events && m_armedOn == m_db.attachment() && !m_callback->fired();
}

} // namespace db
