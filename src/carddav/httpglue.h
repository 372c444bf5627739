#pragma once
// The CardDAV server on the network: libmicrohttpd takes the connections,
// TLS, the limits per address and the timeouts; each request goes whole to
// dav::Server, and its answer is sent piece by piece as it is made. One
// thread of the library serves every connection, so the book is only ever
// called from that thread, one call at a time. A request held back after
// wrong passwords is set aside meanwhile, not waited for on that thread.

#include "davserver.h"

#include <QByteArray>
#include <QString>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

struct MHD_Daemon;
struct MHD_Connection;

namespace dav {

struct HttpOptions
{
    QByteArray address = QByteArrayLiteral("127.0.0.1"); // an IPv4 or IPv6 address to listen on
    quint16 port = 0;                                    // 0: any free port (see HttpServer::port)
    QByteArray certificatePem, keyPem;                   // TLS; both empty: plain HTTP
    unsigned connectionLimit = 64;
    unsigned perAddressLimit = 16;
    unsigned timeoutSeconds = 120; // an idle connection is closed after this
};

class HttpServer
{
public:
    // `log` is told one line per request (method, path, status, why).
    HttpServer(Server &server, std::function<void(const QString &)> log = {});
    ~HttpServer();
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    // Starts listening; false with `error` said in Russian when it cannot.
    bool start(const HttpOptions &options, QString *error);
    // Stops taking connections and ends those open (between two pieces).
    void stop();
    // The port it listens on.
    quint16 port() const;

    // For the library's C callbacks only: a request's state while it
    // arrives, its answer, a line for the log.
    struct Exchange;
    Response answerOf(const Request &request);
    qint64 waitBefore(const QByteArray &authorization, const QString &peer);
    // Sets the connection aside and takes it up again after `ms`; false
    // while the server stops (the request is then answered at once).
    bool setAside(MHD_Connection *c, qint64 ms);
    void note(const QString &line);

private:
    Server &m_server;
    std::function<void(const QString &)> m_log;
    MHD_Daemon *m_daemon = nullptr;

    // The connections set aside, by when they are due, and the thread that
    // takes them up again.
    void wakeDue();
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::multimap<std::chrono::steady_clock::time_point, MHD_Connection *> m_due;
    bool m_stopping = false;
    std::thread m_waker;
};

} // namespace dav
