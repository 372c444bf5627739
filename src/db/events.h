#pragma once
// A database event (POST_EVENT in a trigger) delivered to this program as
// it is committed, so that it need not ask the database again and again.

#include "ibase.h"

#include <QByteArray>
#include <functional>
#include <memory>

namespace db {

class EventWatch
{
public:
    // Watches the event `name` on the connection `db`; nothing is delivered
    // before arm().
    EventWatch(IBDatabase &db, const QByteArray &name);
    // Cancels the watch; `posted` is never called after this returns.
    ~EventWatch();
    EventWatch(const EventWatch &) = delete;
    EventWatch &operator=(const EventWatch &) = delete;

    // Asks for the next posting of the event: `posted` is called once, on a
    // thread of the client library, when a commit posts it (or at once, the
    // first time, with what was posted before). Arm again after each call.
    // False when the connection cannot deliver events (a server whose event
    // port cannot be reached, say): the caller then looks by itself.
    bool arm(std::function<void()> posted);
    // Armed on the connection as it is now: a connection opened anew (after
    // it was lost) has no watch until armed again.
    bool armed() const;

private:
    class Callback;
    IBDatabase &m_db;
    QByteArray m_block; // the event's name and its count as last delivered
    Firebird::IAttachment *m_armedOn = nullptr;
    Firebird::IEvents *m_events = nullptr;
    Callback *m_callback = nullptr;
    void cancel();
};

} // namespace db
