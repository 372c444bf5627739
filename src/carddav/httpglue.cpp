#include "httpglue.h"

#include <QtEndian>
#include <arpa/inet.h>
#include <cstring>
#include <exception>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace dav {

// One request while it arrives: its body, or the note that it is too large.
struct HttpServer::Exchange
{
    QByteArray body;
    bool tooLarge = false;
    bool answered = false;
    bool held = false; // set aside once already before its answer
};

namespace {

// An answer's body handed to the library piece by piece.
struct Stream
{
    std::function<QByteArray()> next;
    QByteArray piece;
    qsizetype at = 0;
    bool ended = false;
    HttpServer *owner = nullptr;
    QString what; // the request, for the log when a piece fails
};

ssize_t readPiece(void *cls, uint64_t, char *buf, size_t max)
{
    auto *s = static_cast<Stream *>(cls);
    while (s->at == s->piece.size()) {
        if (s->ended)
            return MHD_CONTENT_READER_END_OF_STREAM;
        try {
            s->piece = s->next();
        } catch (const std::exception &e) {
            s->owner->note(s->what + QStringLiteral(": ответ прерван: ") + QString::fromLocal8Bit(e.what()));
            return MHD_CONTENT_READER_END_WITH_ERROR;
        } catch (...) {
            s->owner->note(s->what + QStringLiteral(": ответ прерван"));
            return MHD_CONTENT_READER_END_WITH_ERROR;
        }
        s->at = 0;
        if (s->piece.isEmpty())
            s->ended = true;
    }
    const size_t n = std::min(max, size_t(s->piece.size() - s->at));
    std::memcpy(buf, s->piece.constData() + s->at, n);
    s->at += qsizetype(n);
    return ssize_t(n);
}

void freeStream(void *cls)
{
    delete static_cast<Stream *>(cls);
}

MHD_Result collectHeader(void *cls, MHD_ValueKind, const char *key, const char *value)
{
    static_cast<Headers *>(cls)->add(QByteArray(key), QByteArray(value ? value : ""));
    return MHD_YES;
}

QString peerOf(MHD_Connection *c)
{
    const MHD_ConnectionInfo *info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (!info || !info->client_addr)
        return {};
    char text[INET6_ADDRSTRLEN] = {};
    const sockaddr *a = info->client_addr;
    if (a->sa_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(a)->sin_addr, text, sizeof text);
    else if (a->sa_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6 *>(a)->sin6_addr, text, sizeof text);
    return QString::fromLatin1(text);
}

MHD_Result queue(MHD_Connection *c, int status, MHD_Response *r)
{
    const MHD_Result ok = MHD_queue_response(c, unsigned(status), r);
    MHD_destroy_response(r);
    return ok;
}

MHD_Result plainAnswer(MHD_Connection *c, int status, const QByteArray &text)
{
    MHD_Response *r = MHD_create_response_from_buffer(size_t(text.size()), const_cast<char *>(text.constData()),
                                                      MHD_RESPMEM_MUST_COPY);
    MHD_add_response_header(r, "Content-Type", "text/plain; charset=utf-8");
    return queue(c, status, r);
}

MHD_Result onRequest(void *cls, MHD_Connection *c, const char *url, const char *method, const char *,
                     const char *upload, size_t *uploadSize, void **state)
{
    auto *server = static_cast<HttpServer *>(cls);
    auto *x = static_cast<HttpServer::Exchange *>(*state);
    if (!x) {
        x = new HttpServer::Exchange;
        *state = x;
        // A body announced too large is refused before it is sent.
        const char *length = MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
        if (length && QByteArray(length).toLongLong() > kMaxBodySize) {
            x->answered = true;
            return plainAnswer(c, 413, QByteArrayLiteral("Request body too large\n"));
        }
        return MHD_YES;
    }
    if (*uploadSize > 0) {
        if (!x->tooLarge && x->body.size() + qsizetype(*uploadSize) <= kMaxBodySize)
            x->body.append(upload, qsizetype(*uploadSize));
        else
            x->tooLarge = true;
        *uploadSize = 0;
        return MHD_YES;
    }
    if (x->answered)
        return MHD_YES;
    // After wrong passwords the request waits set aside: the other clients'
    // requests go on meanwhile.
    if (!x->held) {
        x->held = true;
        const char *auth = MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_AUTHORIZATION);
        if (const qint64 wait = server->waitBefore(QByteArray(auth ? auth : ""), peerOf(c));
            wait > 0 && server->setAside(c, wait))
            return MHD_YES;
    }
    x->answered = true;
    if (x->tooLarge)
        return plainAnswer(c, 413, QByteArrayLiteral("Request body too large\n"));
    Request request;
    request.method = QByteArray(method);
    request.path = QString::fromUtf8(url);
    MHD_get_connection_values(c, MHD_HEADER_KIND, collectHeader, &request.headers);
    request.body = std::move(x->body);
    request.peer = peerOf(c);
    const QString what = QString::fromLatin1(request.method) + QLatin1Char(' ') + request.path;
    Response response;
    try {
        response = server->answerOf(request);
    } catch (const std::exception &e) {
        server->note(what + QStringLiteral(" → 500: ") + QString::fromLocal8Bit(e.what()));
        return plainAnswer(c, 500, QByteArrayLiteral("Internal server error\n"));
    } catch (...) {
        server->note(what + QStringLiteral(" → 500"));
        return plainAnswer(c, 500, QByteArrayLiteral("Internal server error\n"));
    }
    server->note(what + QStringLiteral(" → ") + QString::number(response.status) +
                 (response.note.isEmpty() ? QString() : QStringLiteral(": ") + response.note));
    MHD_Response *r = nullptr;
    if (!response.body) {
        r = MHD_create_response_from_buffer(0, const_cast<char *>(""), MHD_RESPMEM_PERSISTENT);
    } else if (response.headers.contains(QByteArrayLiteral("Content-Length"))) {
        const QByteArray whole = response.readAll(); // small, known whole
        r = MHD_create_response_from_buffer(size_t(whole.size()), const_cast<char *>(whole.constData()),
                                            MHD_RESPMEM_MUST_COPY);
    } else {
        auto *s = new Stream{std::move(response.body), {}, 0, false, server, what};
        r = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 64 * 1024, readPiece, s, freeStream);
    }
    if (!r)
        return MHD_NO;
    for (const auto &[name, value] : response.headers.fields())
        if (name.compare(QByteArrayLiteral("Content-Length"), Qt::CaseInsensitive) != 0)
            MHD_add_response_header(r, name.constData(), value.constData());
    return queue(c, response.status, r);
}

void onCompleted(void *, MHD_Connection *, void **state, MHD_RequestTerminationCode)
{
    delete static_cast<HttpServer::Exchange *>(*state);
    *state = nullptr;
}

} // namespace

HttpServer::HttpServer(Server &server, std::function<void(const QString &)> log)
    : m_server(server), m_log(std::move(log))
{
}

HttpServer::~HttpServer()
{
    stop();
}

Response HttpServer::answerOf(const Request &request)
{
    return m_server.handle(request);
}

qint64 HttpServer::waitBefore(const QByteArray &authorization, const QString &peer)
{
    return m_server.waitBefore(authorization, peer);
}

bool HttpServer::setAside(MHD_Connection *c, qint64 ms)
{
    std::lock_guard lock(m_mutex);
    if (m_stopping)
        return false;
    MHD_suspend_connection(c);
    m_due.emplace(std::chrono::steady_clock::now() + std::chrono::milliseconds(ms), c);
    m_changed.notify_one();
    return true;
}

void HttpServer::wakeDue()
{
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        if (m_due.empty()) {
            m_changed.wait(lock);
            continue;
        }
        if (m_changed.wait_until(lock, m_due.begin()->first) == std::cv_status::timeout) {
            const auto now = std::chrono::steady_clock::now();
            while (!m_due.empty() && m_due.begin()->first <= now) {
                MHD_resume_connection(m_due.begin()->second);
                m_due.erase(m_due.begin());
            }
        }
    }
}

void HttpServer::note(const QString &line)
{
    if (m_log)
        m_log(line);
}

bool HttpServer::start(const HttpOptions &o, QString *error)
{
    stop();
    {
        std::lock_guard lock(m_mutex);
        m_stopping = false;
    }
    sockaddr_storage address{};
    socklen_t length = 0;
    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_AUTO | MHD_USE_ERROR_LOG | MHD_ALLOW_SUSPEND_RESUME;
    if (auto *v4 = reinterpret_cast<sockaddr_in *>(&address);
        inet_pton(AF_INET, o.address.constData(), &v4->sin_addr)) {
        v4->sin_family = AF_INET;
        v4->sin_port = qToBigEndian(o.port);
        length = sizeof(sockaddr_in);
    } else if (auto *v6 = reinterpret_cast<sockaddr_in6 *>(&address);
               inet_pton(AF_INET6, o.address.constData(), &v6->sin6_addr)) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = qToBigEndian(o.port);
        length = sizeof(sockaddr_in6);
        flags |= MHD_USE_IPv6;
    } else {
        *error = QStringLiteral("«%1» — не IP-адрес: укажите адрес, например 0.0.0.0:8443 или 127.0.0.1:8080.")
                     .arg(QString::fromLatin1(o.address));
        return false;
    }
    (void)length;
    const bool tls = !o.certificatePem.isEmpty();
    if (tls)
        flags |= MHD_USE_TLS;
    // The PEM texts must stay while the daemon runs: it copies them at start.
    const QByteArray cert = o.certificatePem + '\0', key = o.keyPem + '\0';
    MHD_OptionItem items[] = {
        {MHD_OPTION_SOCK_ADDR, 0, &address},
        {MHD_OPTION_CONNECTION_LIMIT, o.connectionLimit, nullptr},
        {MHD_OPTION_PER_IP_CONNECTION_LIMIT, o.perAddressLimit, nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT, o.timeoutSeconds, nullptr},
        {MHD_OPTION_NOTIFY_COMPLETED, intptr_t(&onCompleted), nullptr},
        {tls ? MHD_OPTION_HTTPS_MEM_CERT : MHD_OPTION_END, 0, const_cast<char *>(cert.constData())},
        {tls ? MHD_OPTION_HTTPS_MEM_KEY : MHD_OPTION_END, 0, const_cast<char *>(key.constData())},
        {MHD_OPTION_END, 0, nullptr},
    };
    m_daemon =
        MHD_start_daemon(flags, o.port, nullptr, nullptr, &onRequest, this, MHD_OPTION_ARRAY, items, MHD_OPTION_END);
    if (!m_daemon) {
        *error = QStringLiteral("Не удалось начать приём соединений на %1:%2 (адрес занят или недоступен, "
                                "или сертификат и ключ не подходят друг к другу).")
                     .arg(QString::fromLatin1(o.address))
                     .arg(o.port);
        return false;
    }
    m_waker = std::thread([this] { wakeDue(); });
    return true;
}

void HttpServer::stop()
{
    if (m_waker.joinable()) {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
            m_changed.notify_one();
        }
        m_waker.join();
    }
    // The library ends only connections it is serving: those set aside are
    // taken up first.
    {
        std::lock_guard lock(m_mutex);
        for (const auto &[due, c] : m_due)
            MHD_resume_connection(c);
        m_due.clear();
    }
    if (m_daemon)
        MHD_stop_daemon(m_daemon);
    m_daemon = nullptr;
}

quint16 HttpServer::port() const
{
    if (!m_daemon)
        return 0;
    const MHD_DaemonInfo *info = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_BIND_PORT);
    return info ? info->port : 0;
}

} // namespace dav
