// The CardDAV protocol library against a book in memory: discovery,
// properties, reports, writes and their refusals, and long answers streamed.

#include "carddav/davserver.h"
#include "carddav/davxml.h"
#include "carddav/httpglue.h"
#include "davcheck.h"
#include "fakebook.h"

#include <QtTest>
#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

using Fields = QList<QPair<QByteArray, QByteArray>>;

const QString kCards = u"/dav/addressbooks/alice/cards/"_s;
const QByteArray kPropfindHead = "<?xml version=\"1.0\"?><d:propfind xmlns:d=\"DAV:\" "
                                 "xmlns:card=\"urn:ietf:params:xml:ns:carddav\" "
                                 "xmlns:cs=\"http://calendarserver.org/ns/\"><d:prop>";

QByteArray propfind(const QByteArray &props)
{
    return kPropfindHead + props + "</d:prop></d:propfind>";
}

QByteArray basic(const QString &login, const QString &password)
{
    return "Basic " + (login + u':' + password).toUtf8().toBase64();
}

QByteArray multigetBody(const QStringList &hrefs, const QByteArray &addressData = "<card:address-data/>")
{
    QByteArray body = "<card:addressbook-multiget xmlns:d=\"DAV:\" xmlns:card=\"urn:ietf:params:xml:ns:carddav\">"
                      "<d:prop><d:getetag/>" +
                      addressData + "</d:prop>";
    for (const QString &h : hrefs)
        body += "<d:href>" + h.toUtf8() + "</d:href>";
    return body + "</card:addressbook-multiget>";
}

// One request over a connection of its own to the server on this machine;
// the whole answer, read until the server closes.
QByteArray exchange(quint16 port, const QByteArray &request)
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QByteArray answer;
    if (::connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
        ::send(s, request.constData(), size_t(request.size()), 0) == request.size()) {
        char buf[4096];
        for (ssize_t n; (n = ::recv(s, buf, sizeof buf, 0)) > 0;)
            answer.append(buf, qsizetype(n));
    }
    ::close(s);
    return answer;
}

QByteArray syncBody(const QString &token)
{
    return "<d:sync-collection xmlns:d=\"DAV:\"><d:sync-token>" + token.toUtf8() +
           "</d:sync-token><d:sync-level>1</d:sync-level><d:prop><d:getetag/></d:prop></d:sync-collection>";
}

} // namespace

class TestCardDav : public QObject
{
    Q_OBJECT

    FakeBook *m_book = nullptr;
    dav::Server *m_server = nullptr;

    dav::Response send(const QByteArray &method, const QString &path, const QByteArray &body = {},
                       const Fields &fields = {}, const QString &login = u"alice"_s)
    {
        dav::Request r;
        r.method = method;
        r.path = path;
        r.body = body;
        if (!login.isEmpty())
            r.headers.set("Authorization", basic(login, "pw-"_L1 + login));
        for (const auto &[name, value] : fields)
            r.headers.set(name, value);
        return m_server->handle(r);
    }
    Multistatus sendMultistatus(const QByteArray &method, const QString &path, const QByteArray &body,
                                const Fields &fields = {}, const QString &login = u"alice"_s)
    {
        dav::Response r = send(method, path, body, fields, login);
        if (r.status != 207)
            return {u"status %1"_s.arg(r.status), {}, {}};
        Multistatus ms = readMultistatus(r.readAll());
        if (r.headers.value("Content-Type") != "application/xml; charset=utf-8")
            ms.problem = u"content type"_s;
        return ms;
    }
    QString syncToken()
    {
        Multistatus ms = sendMultistatus("PROPFIND", kCards, propfind("<d:sync-token/>"), {{"Depth", "0"}});
        return ms.responses.value(0).props.value(u"{DAV:}sync-token"_s).text;
    }

private slots:
    void init()
    {
        m_book = new FakeBook;
        m_book->add(u"ivanov.vcf"_s, u"FN:Иван Иванов\r\nN:Иванов;Иван;;;\r\nEMAIL;TYPE=work:ivan@example.ru\r\n"
                                     "TEL;TYPE=cell:+7 900 111-22-33\r\nORG:Ромашка;Бухгалтерия\r\n"_s);
        m_book->add(u"smith.vcf"_s, u"FN:John Smith\r\nN:Smith;John;;;\r\nEMAIL:john@example.com\r\n"
                                    "TEL:+1 555 0100\r\n"_s);
        m_book->add(u"petrova.vcf"_s, u"FN:Ольга Петрова\r\nN:Петрова;Ольга;;;\r\nEMAIL:olga@example.ru\r\n"
                                      "ORG:Вектор\r\n"_s);
        m_server = new dav::Server(*m_book);
    }
    void cleanup()
    {
        delete m_server;
        delete m_book;
    }

    // From the host's root to the collection, as iOS and DAVx5 walk it.
    void discovery()
    {
        dav::Response wk = send("PROPFIND", u"/.well-known/carddav"_s, {}, {}, QString());
        QCOMPARE(wk.status, 301);
        QCOMPARE(wk.headers.value("Location"), "/dav/");

        for (const QString &start : {u"/"_s, u"/dav/"_s}) {
            const Multistatus root =
                sendMultistatus("PROPFIND", start, propfind("<d:current-user-principal/>"), {{"Depth", "0"}});
            QVERIFY2(root.problem.isEmpty(), qPrintable(root.problem));
            QCOMPARE(root.responses.size(), 1);
            const PropValue cup = root.responses[0].props.value(u"{DAV:}current-user-principal"_s);
            QCOMPARE(cup.status, 200);
            QCOMPARE(cup.text, u"/dav/principals/alice/"_s);
        }

        const Multistatus principal =
            sendMultistatus("PROPFIND", u"/dav/principals/alice/"_s,
                            propfind("<card:addressbook-home-set/><d:displayname/><d:resourcetype/>"
                                     "<d:principal-URL/>"),
                            {{"Depth", "0"}});
        const DavResponse &p = principal.responses.value(0);
        QCOMPARE(p.href, u"/dav/principals/alice/"_s);
        QCOMPARE(p.props.value(u"{urn:ietf:params:xml:ns:carddav}addressbook-home-set"_s).text,
                 u"/dav/addressbooks/alice/"_s);
        QCOMPARE(p.props.value(u"{DAV:}displayname"_s).text, u"ALICE"_s);
        QCOMPARE(p.props.value(u"{DAV:}resourcetype"_s).elements, QStringList{u"{DAV:}principal"_s});
        QCOMPARE(p.props.value(u"{DAV:}principal-URL"_s).text, u"/dav/principals/alice/"_s);

        const Multistatus home = sendMultistatus("PROPFIND", u"/dav/addressbooks/alice"_s,
                                                 propfind("<d:resourcetype/><d:displayname/>"), {{"Depth", "1"}});
        QCOMPARE(home.hrefs(), (QStringList{u"/dav/addressbooks/alice/"_s, kCards}));
        QCOMPARE(home.responses[1].props.value(u"{DAV:}resourcetype"_s).elements,
                 (QStringList{u"{DAV:}collection"_s, u"{urn:ietf:params:xml:ns:carddav}addressbook"_s}));
        QCOMPARE(home.responses[1].props.value(u"{DAV:}displayname"_s).text, u"Карточки"_s);
    }

    void collectionProperties_data()
    {
        QTest::addColumn<QString>("login");
        QTest::addColumn<QStringList>("privileges");
        QTest::newRow("full rights") << u"alice"_s << QStringList{u"{DAV:}privilege"_s, u"{DAV:}read"_s,
                                                                  u"{DAV:}privilege"_s, u"{DAV:}write"_s,
                                                                  u"{DAV:}privilege"_s, u"{DAV:}write-content"_s,
                                                                  u"{DAV:}privilege"_s, u"{DAV:}bind"_s,
                                                                  u"{DAV:}privilege"_s, u"{DAV:}unbind"_s};
        QTest::newRow("read-only") << u"bob"_s << QStringList{u"{DAV:}privilege"_s, u"{DAV:}read"_s};
    }
    void collectionProperties()
    {
        QFETCH(QString, login);
        QFETCH(QStringList, privileges);
        const QString path = "/dav/addressbooks/"_L1 + login + "/cards/"_L1;
        const Multistatus ms = sendMultistatus(
            "PROPFIND", path,
            propfind("<d:resourcetype/><d:displayname/><d:supported-report-set/><card:supported-address-data/>"
                     "<card:max-resource-size/><d:sync-token/><cs:getctag/><d:current-user-privilege-set/>"
                     "<d:owner/><x:color xmlns:x=\"http://apple.com/ns/ical/\"/><d:quota-available-bytes/>"),
            {{"Depth", "0"}}, login);
        QVERIFY2(ms.problem.isEmpty(), qPrintable(ms.problem));
        QCOMPARE(ms.responses.size(), 1);
        const auto &props = ms.responses[0].props;
        QCOMPARE(ms.responses[0].href, path);
        QCOMPARE(props.value(u"{DAV:}current-user-privilege-set"_s).elements, privileges);
        const QStringList reports = props.value(u"{DAV:}supported-report-set"_s).elements;
        QVERIFY(reports.contains(u"{urn:ietf:params:xml:ns:carddav}addressbook-multiget"_s));
        QVERIFY(reports.contains(u"{urn:ietf:params:xml:ns:carddav}addressbook-query"_s));
        QVERIFY(reports.contains(u"{DAV:}sync-collection"_s));
        QCOMPARE(props.value(u"{urn:ietf:params:xml:ns:carddav}supported-address-data"_s).elements.size(), 2);
        QCOMPARE(props.value(u"{urn:ietf:params:xml:ns:carddav}max-resource-size"_s).text, u"1048576"_s);
        const QString token = props.value(u"{DAV:}sync-token"_s).text;
        QVERIFY(QUrl(token).isValid() && !QUrl(token).scheme().isEmpty());
        QCOMPARE(props.value(u"{http://calendarserver.org/ns/}getctag"_s).text, token);
        QCOMPARE(props.value(u"{DAV:}owner"_s).text, "/dav/principals/"_L1 + login + u'/');
        // Properties the server does not have: a 404 propstat, the rest still 200.
        QCOMPARE(props.value(u"{http://apple.com/ns/ical/}color"_s).status, 404);
        QCOMPARE(props.value(u"{DAV:}quota-available-bytes"_s).status, 404);
        QCOMPARE(props.value(u"{DAV:}displayname"_s).status, 200);
        QCOMPARE(props.value(u"{DAV:}sync-token"_s).status, 200);
    }

    // Members in a Depth 1 listing and alone; allprop, propname and Depth infinity.
    void memberProperties()
    {
        const Multistatus list = sendMultistatus(
            "PROPFIND", kCards, propfind("<d:getetag/><d:getcontenttype/><d:resourcetype/>"), {{"Depth", "1"}});
        QCOMPARE(list.responses.size(), 4);
        const DavResponse *member = list.find(kCards + "smith.vcf"_L1);
        QVERIFY(member);
        QCOMPARE(member->props.value(u"{DAV:}getetag"_s).text,
                 u"\"%1\""_s.arg(QLatin1String(FakeBook::etag(m_book->stored[u"smith.vcf"_s]))));
        QCOMPARE(member->props.value(u"{DAV:}getcontenttype"_s).text, u"text/vcard; charset=utf-8"_s);
        QCOMPARE(member->props.value(u"{DAV:}resourcetype"_s).status, 200);
        QVERIFY(member->props.value(u"{DAV:}resourcetype"_s).elements.isEmpty());

        // No body is allprop; no Depth is infinity, which lists as deep as 1.
        const Multistatus all = sendMultistatus("PROPFIND", kCards, {});
        QCOMPARE(all.responses.size(), 4);
        QVERIFY(all.find(kCards + "ivanov.vcf"_L1)->props.contains(u"{DAV:}getetag"_s));
        QVERIFY(!all.responses[0].props.contains(u"{DAV:}sync-token"_s));

        const Multistatus one =
            sendMultistatus("PROPFIND", kCards + "petrova.vcf"_L1,
                            "<d:propfind xmlns:d=\"DAV:\"><d:propname/></d:propfind>", {{"Depth", "0"}});
        QCOMPARE(one.hrefs(), QStringList{kCards + "petrova.vcf"_L1});
        QVERIFY(one.responses[0].props.contains(u"{DAV:}getetag"_s));
        QVERIFY(one.responses[0].props.value(u"{DAV:}getetag"_s).text.isEmpty());

        QCOMPARE(send("PROPFIND", kCards + "nobody.vcf"_L1, {}, {{"Depth", "0"}}).status, 404);
    }

    void authentication_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("authorization");
        QTest::addColumn<int>("status");
        const QByteArray good = basic(u"alice"_s, u"pw-alice"_s);
        QTest::newRow("no credentials") << QByteArray("PROPFIND") << kCards << QByteArray() << 401;
        QTest::newRow("wrong password") << QByteArray("PROPFIND") << kCards << basic(u"alice"_s, u"pw-bob"_s) << 401;
        QTest::newRow("unknown user") << QByteArray("GET") << kCards << basic(u"carol"_s, u"pw-carol"_s) << 401;
        QTest::newRow("not base64") << QByteArray("GET") << kCards << QByteArray("Basic !!!") << 401;
        QTest::newRow("another scheme") << QByteArray("GET") << kCards << QByteArray("Bearer abc") << 401;
        QTest::newRow("OPTIONS without") << QByteArray("OPTIONS") << kCards << QByteArray() << 200;
        QTest::newRow("well-known without") << QByteArray("GET") << u"/.well-known/carddav"_s << QByteArray() << 301;
        QTest::newRow("good") << QByteArray("GET") << kCards << good << 200;
    }
    void authentication()
    {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(QByteArray, authorization);
        QFETCH(int, status);
        dav::Request r;
        r.method = method;
        r.path = path;
        if (!authorization.isEmpty())
            r.headers.set("authorization", authorization); // any case of the name
        dav::Response resp = m_server->handle(r);
        QCOMPARE(resp.status, status);
        if (status == 401)
            QCOMPARE(resp.headers.value("WWW-Authenticate"), "Basic realm=\"Zentrax\", charset=\"UTF-8\"");
        if (method == "OPTIONS") {
            QCOMPARE(resp.headers.value("DAV"), "1, 3, addressbook");
            QVERIFY(resp.headers.value("Allow").contains("REPORT"));
        }
    }

    void refusals_data()
    {
        QTest::addColumn<QString>("login");
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("error");
        const QByteArray card = FakeBook::vcard(u"new"_s, u"FN:New\r\n"_s);
        const QString bobCard = u"/dav/addressbooks/bob/cards/smith.vcf"_s;
        QTest::newRow("read-only PUT") << u"bob"_s << QByteArray("PUT") << u"/dav/addressbooks/bob/cards/new.vcf"_s
                                       << card << 403 << u"{DAV:}need-privileges"_s;
        QTest::newRow("read-only DELETE")
            << u"bob"_s << QByteArray("DELETE") << bobCard << QByteArray() << 403 << u"{DAV:}need-privileges"_s;
        QTest::newRow("another's principal")
            << u"bob"_s << QByteArray("PROPFIND") << u"/dav/principals/alice/"_s << QByteArray() << 403 << QString();
        QTest::newRow("another's card") << u"bob"_s << QByteArray("GET") << kCards + "smith.vcf"_L1 << QByteArray()
                                        << 403 << QString();
        QTest::newRow("foreign token") << u"alice"_s << QByteArray("REPORT") << kCards
                                       << syncBody(u"http://example.com/sync/5"_s) << 403
                                       << u"{DAV:}valid-sync-token"_s;
        QTest::newRow("unknown token") << u"alice"_s << QByteArray("REPORT") << kCards
                                       << syncBody(u"http://zentrax.invalid/ns/sync/e0.1"_s) << 403
                                       << u"{DAV:}valid-sync-token"_s;
        QTest::newRow("MKCOL of a new book") << u"alice"_s << QByteArray("MKCOL") << u"/dav/addressbooks/alice/other/"_s
                                             << QByteArray() << 403 << QString();
        QTest::newRow("MKCOL on the collection")
            << u"alice"_s << QByteArray("MKCOL") << kCards << QByteArray() << 405 << QString();
        QTest::newRow("DELETE the collection")
            << u"alice"_s << QByteArray("DELETE") << kCards << QByteArray() << 403 << QString();
        QTest::newRow("unsupported report")
            << u"alice"_s << QByteArray("REPORT") << kCards
            << QByteArray("<d:acl-principal-prop-set xmlns:d=\"DAV:\"/>") << 403 << u"{DAV:}supported-report"_s;
        QTest::newRow("card over 1 MB") << u"alice"_s << QByteArray("PUT") << kCards + "big.vcf"_L1
                                        << FakeBook::vcard(u"big"_s, "NOTE:"_L1 + QString(1 << 20, u'x') + "\r\n"_L1)
                                        << 403 << u"{urn:ietf:params:xml:ns:carddav}max-resource-size"_s;
        QTest::newRow("unknown path") << u"alice"_s << QByteArray("PROPFIND") << u"/elsewhere/"_s << QByteArray() << 404
                                      << QString();
        QTest::newRow("unknown method") << u"alice"_s << QByteArray("BREW") << kCards << QByteArray() << 501
                                        << QString();
    }
    void refusals()
    {
        QFETCH(QString, login);
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(QString, error);
        const int before = m_book->stored.size();
        dav::Response r = send(method, path, body, {{"Content-Type", "text/vcard"}}, login);
        QCOMPARE(r.status, status);
        if (!error.isEmpty())
            QCOMPARE(errorOf(r.readAll()), error);
        QCOMPARE(m_book->stored.size(), before);
    }

    // GET and PUT with their preconditions, DELETE, the UID conflict.
    void writes()
    {
        const QString smith = kCards + "smith.vcf"_L1;
        dav::Response get = send("GET", smith);
        QCOMPARE(get.status, 200);
        const QByteArray etag = get.headers.value("ETag");
        QCOMPARE(etag, '"' + FakeBook::etag(m_book->stored[u"smith.vcf"_s]) + '"');
        QCOMPARE(get.headers.value("Content-Type"), "text/vcard; charset=utf-8");
        QVERIFY(get.readAll().contains("FN:John Smith"));
        dav::Response head = send("HEAD", smith);
        QCOMPARE(head.headers.value("ETag"), etag);
        QVERIFY(head.readAll().isEmpty());
        QCOMPARE(send("GET", smith, {}, {{"If-None-Match", etag}}).status, 304);
        QCOMPARE(send("GET", kCards + "nobody.vcf"_L1).status, 404);

        const QByteArray edited = FakeBook::vcard(u"smith"_s, u"FN:John Smith Jr\r\n"_s);
        const QByteArray fresh = FakeBook::vcard(u"new-one"_s, u"FN:Someone New\r\n"_s);
        const QString freshHref = kCards + "new-one.vcf"_L1;
        const Fields vcard{{"Content-Type", "text/vcard; charset=utf-8"}};
        auto with = [&](const QByteArray &name, const QByteArray &value) { return Fields{vcard[0], {name, value}}; };
        QCOMPARE(send("PUT", smith, edited, with("If-None-Match", "*")).status, 412);
        QCOMPARE(send("PUT", smith, edited, with("If-Match", "\"r999\"")).status, 412);
        QCOMPARE(send("PUT", smith, edited, with("If-Match", "W/" + etag)).status, 412);
        QCOMPARE(send("PUT", freshHref, fresh, with("If-Match", "*")).status, 412);
        QVERIFY(!m_book->stored[u"smith.vcf"_s].text.contains("Jr"));

        dav::Response updated = send("PUT", smith, edited, with("If-Match", etag));
        QCOMPARE(updated.status, 204);
        QVERIFY(!updated.headers.contains("ETag")); // the server transforms what it stores
        QVERIFY(m_book->stored[u"smith.vcf"_s].text.contains("Jr"));
        QCOMPARE(send("PUT", smith, edited, with("If-Match", etag)).status, 412); // now stale
        QCOMPARE(send("PUT", smith, edited, vcard).status, 204);                  // no condition: accepted

        dav::Response created = send("PUT", freshHref, fresh, with("If-None-Match", "*"));
        QCOMPARE(created.status, 201);
        QVERIFY(!created.headers.contains("ETag"));

        // The same UID under another name.
        dav::Response conflict = send("PUT", kCards + "copy.vcf"_L1, fresh, vcard);
        QCOMPARE(conflict.status, 409);
        const QByteArray body = conflict.readAll();
        QCOMPARE(errorOf(body), u"{urn:ietf:params:xml:ns:carddav}no-uid-conflict"_s);
        QCOMPARE(errorText(body), freshHref);

        QCOMPARE(send("PUT", kCards + "x.vcf"_L1, "{}", {{"Content-Type", "application/json"}}).status, 403);
        QCOMPARE(send("PUT", kCards + "x.vcf"_L1, "BEGIN:VCARD\r\nEND:VCARD\r\n", vcard).status, 403);

        QCOMPARE(send("DELETE", freshHref, {}, {{"If-Match", "\"r1\""}}).status, 412);
        QCOMPARE(send("DELETE", freshHref).status, 204);
        QCOMPARE(send("DELETE", freshHref).status, 404);
        QCOMPARE(send("GET", freshHref).status, 404);
    }

    // An initial sync, then one after a change, after a deletion, and with nothing new.
    void syncCollection()
    {
        const Multistatus first = sendMultistatus("REPORT", kCards, syncBody({}));
        QVERIFY2(first.problem.isEmpty(), qPrintable(first.problem));
        QCOMPARE(first.responses.size(), 3);
        for (const DavResponse &r : first.responses)
            QVERIFY(r.props.value(u"{DAV:}getetag"_s).text.startsWith(u'"'));
        QCOMPARE(first.syncToken, syncToken());

        const Fields vcard{{"Content-Type", "text/vcard"}};
        QCOMPARE(send("PUT", kCards + "smith.vcf"_L1, FakeBook::vcard(u"smith"_s, u"FN:J. Smith\r\n"_s), vcard).status,
                 204);
        const Multistatus changed = sendMultistatus("REPORT", kCards, syncBody(first.syncToken));
        QCOMPARE(changed.hrefs(), QStringList{kCards + "smith.vcf"_L1});
        QCOMPARE(changed.responses[0].props.value(u"{DAV:}getetag"_s).status, 200);
        QVERIFY(changed.syncToken != first.syncToken);

        QCOMPARE(send("DELETE", kCards + "ivanov.vcf"_L1).status, 204);
        const Multistatus deleted = sendMultistatus("REPORT", kCards, syncBody(changed.syncToken));
        QCOMPARE(deleted.hrefs(), QStringList{kCards + "ivanov.vcf"_L1});
        QCOMPARE(deleted.responses[0].status, 404);
        QVERIFY(deleted.responses[0].props.isEmpty());

        const Multistatus nothing = sendMultistatus("REPORT", kCards, syncBody(deleted.syncToken));
        QVERIFY(nothing.responses.isEmpty());
        QCOMPARE(nothing.syncToken, deleted.syncToken);

        // Both changes since the first token, with the cards' text when asked.
        const QByteArray withData =
            "<d:sync-collection xmlns:d=\"DAV:\" xmlns:card=\"urn:ietf:params:xml:ns:carddav\"><d:sync-token>" +
            first.syncToken.toUtf8() +
            "</d:sync-token><d:sync-level>1</d:sync-level><d:prop><card:address-data/></d:prop>"
            "</d:sync-collection>";
        const Multistatus both = sendMultistatus("REPORT", kCards, withData);
        QCOMPARE(both.responses.size(), 2);
        QVERIFY(both.find(kCards + "smith.vcf"_L1)
                    ->props.value(u"{urn:ietf:params:xml:ns:carddav}address-data"_s)
                    .text.contains(u"FN:J. Smith"_s));

        // A restored database: the old tokens are refused.
        m_book->epoch = u"e2"_s;
        QCOMPARE(send("REPORT", kCards, syncBody(nothing.syncToken)).status, 403);
        // A limit the changes exceed: refused whole, never cut without a token.
        const QByteArray limited = "<d:sync-collection xmlns:d=\"DAV:\"><d:sync-token/><d:sync-level>1"
                                   "</d:sync-level><d:limit><d:nresults>1</d:nresults></d:limit>"
                                   "<d:prop><d:getetag/></d:prop></d:sync-collection>";
        QCOMPARE(send("REPORT", kCards, limited).status, 507);
    }

    void badBodies_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        const QByteArray doctype = "<?xml version=\"1.0\"?><!DOCTYPE d:propfind [<!ENTITY x \"xxxxxxxx\">"
                                   "<!ENTITY y \"&x;&x;&x;&x;\">]><d:propfind xmlns:d=\"DAV:\"><d:prop>"
                                   "<d:displayname>&y;</d:displayname></d:prop></d:propfind>";
        const QByteArray external = "<?xml version=\"1.0\"?><!DOCTYPE r SYSTEM \"file:///etc/passwd\">"
                                    "<d:propfind xmlns:d=\"DAV:\"><d:allprop/></d:propfind>";
        QTest::newRow("PROPFIND with entities") << QByteArray("PROPFIND") << doctype << 400;
        QTest::newRow("REPORT with an external DTD") << QByteArray("REPORT") << external << 400;
        QTest::newRow("malformed") << QByteArray("PROPFIND") << QByteArray("<d:propfind xmlns:d=\"DAV:\">") << 400;
        QTest::newRow("undeclared prefix") << QByteArray("REPORT") << QByteArray("<x:sync-collection/>") << 400;
        QTest::newRow("not a propfind") << QByteArray("PROPFIND") << QByteArray("<d:lockinfo xmlns:d=\"DAV:\"/>")
                                        << 400;
        QTest::newRow("REPORT without body") << QByteArray("REPORT") << QByteArray() << 400;
        QTest::newRow("over 16 MB") << QByteArray("REPORT") << QByteArray(dav::kMaxBodySize + 1, ' ') << 413;
    }
    void badBodies()
    {
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QCOMPARE(send(method, kCards, body, {{"Depth", "0"}}).status, status);
    }

    // A body read into elements keeps only what it holds: elements without
    // attributes keep no room for any (a multiget of 100,000 hrefs once
    // held 160 MB of it), those with attributes keep them.
    void parsedBodyKeepsNoReserve()
    {
        QByteArray body = "<card:addressbook-query xmlns:d=\"DAV:\" xmlns:card=\"urn:ietf:params:xml:ns:carddav\">"
                          "<card:filter><card:prop-filter name=\"FN\"><card:text-match match-type=\"contains\">"
                          "ив</card:text-match></card:prop-filter></card:filter>";
        for (int i = 0; i < 1000; ++i)
            body += "<d:href>/dav/" + QByteArray::number(i) + ".vcf</d:href>";
        body += "</card:addressbook-query>";
        dav::Element root;
        QString error;
        QVERIFY2(dav::parseXml(body, root, &error), qPrintable(error));
        QCOMPARE(root.children.size(), size_t(1001));
        for (size_t i = 1; i < root.children.size(); ++i)
            QCOMPARE(root.children[i].attributes.capacity(), 0);
        const dav::Element *filter = root.child(u"urn:ietf:params:xml:ns:carddav"_s, u"filter"_s);
        QVERIFY(filter);
        const dav::Element &prop = filter->children.front();
        QCOMPARE(prop.attribute(u"name"_s), u"FN"_s);
        QCOMPARE(prop.children.front().attribute(u"match-type"_s), u"contains"_s);
        QCOMPARE(prop.children.front().text, u"ив"_s);
    }

    // Thousands of hrefs answered piece by piece, unknown ones as 404.
    void largeMultiget()
    {
        QStringList hrefs;
        for (int i = 0; i < 5000; ++i) {
            const QString name = u"c%1.vcf"_s.arg(i);
            m_book->add(name, u"FN:Card %1\r\nNOTE:%2\r\n"_s.arg(i).arg(QString(40, u'n')));
            hrefs << kCards + name;
        }
        hrefs << kCards + "missing.vcf"_L1 << u"/dav/addressbooks/bob/cards/c1.vcf"_s;
        dav::Response r = send("REPORT", kCards, multigetBody(hrefs), {{"Depth", "1"}});
        QCOMPARE(r.status, 207);
        QVERIFY(!r.headers.contains("Content-Length"));
        int pieces = 0;
        QByteArray all;
        for (QByteArray piece = r.body(); !piece.isEmpty(); piece = r.body()) {
            ++pieces;
            QVERIFY(piece.size() < 200 << 10);
            all += piece;
        }
        QVERIFY2(pieces >= 10, qPrintable(QString::number(pieces)));
        QCOMPARE(m_book->cardsCalls, 1);
        const Multistatus ms = readMultistatus(all);
        QVERIFY2(ms.problem.isEmpty(), qPrintable(ms.problem));
        QCOMPARE(ms.responses.size(), 5002);
        QCOMPARE(ms.find(kCards + "missing.vcf"_L1)->status, 404);
        QCOMPARE(ms.find(u"/dav/addressbooks/bob/cards/c1.vcf"_s)->status, 404);
        const DavResponse *c4999 = ms.find(kCards + "c4999.vcf"_L1);
        QVERIFY(c4999);
        // The card's text as stored, its CR LF line ends kept through the XML.
        QCOMPARE(c4999->props.value(u"{urn:ietf:params:xml:ns:carddav}address-data"_s).text.toUtf8(),
                 m_book->stored[u"c4999.vcf"_s].text);

        // The listing of all of them streams as well.
        dav::Response listing = send("PROPFIND", kCards, propfind("<d:getetag/>"), {{"Depth", "1"}});
        pieces = 0;
        all.clear();
        for (QByteArray piece = listing.body(); !piece.isEmpty(); piece = listing.body(), ++pieces)
            all += piece;
        QVERIFY(pieces >= 5);
        QCOMPARE(readMultistatus(all).responses.size(), 5004);
    }

    // Hrefs of a request as clients write them: absolute URLs, percent-encoded.
    void hrefForms()
    {
        m_book->add(u"Анна Ли.vcf"_s, u"FN:Анна Ли\r\n"_s);
        const QString encoded = kCards + "%D0%90%D0%BD%D0%BD%D0%B0%20%D0%9B%D0%B8.vcf"_L1;
        const Multistatus list = sendMultistatus("PROPFIND", kCards, propfind("<d:getetag/>"), {{"Depth", "1"}});
        QVERIFY(list.find(encoded));

        const Multistatus ms =
            sendMultistatus("REPORT", kCards,
                            multigetBody({"https://cards.example.org:8443"_L1 + kCards + "smith.vcf"_L1, encoded,
                                          kCards + "sm%69th.vcf"_L1}));
        QCOMPARE(ms.responses.size(), 3);
        for (const DavResponse &r : ms.responses)
            QVERIFY2(r.status == 0 && r.props.value(u"{DAV:}getetag"_s).status == 200, qPrintable(r.href));
        QVERIFY(ms.find("https://cards.example.org:8443"_L1 + kCards + "smith.vcf"_L1)); // as the client wrote it
        QCOMPARE(send("GET", kCards + u"Анна Ли.vcf"_s).status, 200);
    }

    void addressDataVersion_data()
    {
        QTest::addColumn<QByteArray>("addressData");
        QTest::addColumn<QByteArray>("accept");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("version");
        QTest::newRow("default") << QByteArray("<card:address-data/>") << QByteArray() << 207
                                 << QByteArray("VERSION:3.0");
        QTest::newRow("version 4.0") << QByteArray("<card:address-data content-type=\"text/vcard\" version=\"4.0\"/>")
                                     << QByteArray() << 207 << QByteArray("VERSION:4.0");
        QTest::newRow("version 3.0 over Accept")
            << QByteArray("<card:address-data version=\"3.0\"/>") << QByteArray("text/vcard;version=4.0") << 207
            << QByteArray("VERSION:3.0");
        QTest::newRow("Accept prefers 4.0")
            << QByteArray("<card:address-data/>") << QByteArray("text/vcard;q=0.9, text/vcard;version=4.0") << 207
            << QByteArray("VERSION:4.0");
        QTest::newRow("Accept ranks 3.0 higher")
            << QByteArray("<card:address-data/>") << QByteArray("text/vcard;version=4.0;q=0.5, */*") << 207
            << QByteArray("VERSION:3.0");
        QTest::newRow("version 2.1") << QByteArray("<card:address-data version=\"2.1\"/>") << QByteArray() << 403
                                     << QByteArray();
        QTest::newRow("jCard") << QByteArray("<card:address-data content-type=\"application/vcard+json\"/>")
                               << QByteArray() << 403 << QByteArray();
    }
    void addressDataVersion()
    {
        QFETCH(QByteArray, addressData);
        QFETCH(QByteArray, accept);
        QFETCH(int, status);
        QFETCH(QByteArray, version);
        const Fields fields{{"Accept", accept}};
        dav::Response r = send("REPORT", kCards, multigetBody({kCards + "smith.vcf"_L1}, addressData), fields);
        QCOMPARE(r.status, status);
        if (status != 207)
            return;
        const Multistatus ms = readMultistatus(r.readAll());
        const QString card = ms.responses.value(0).props.value(u"{urn:ietf:params:xml:ns:carddav}address-data"_s).text;
        QVERIFY2(card.contains(QString::fromLatin1(version)), qPrintable(card));
        // A GET chooses by its Accept header alone.
        if (!addressData.contains("version"))
            QVERIFY(send("GET", kCards + "smith.vcf"_L1, {}, fields).readAll().contains(version));
    }

    void query_data()
    {
        QTest::addColumn<QByteArray>("filter");
        QTest::addColumn<QStringList>("found");
        auto text = [](const char *prop, const char *type, const char *value, const char *more = "") {
            return QByteArray("<card:prop-filter name=\"") + prop + "\"><card:text-match match-type=\"" + type + "\"" +
                   more + ">" + value + "</card:text-match></card:prop-filter>";
        };
        QTest::newRow("no filter") << QByteArray() << QStringList{u"ivanov"_s, u"petrova"_s, u"smith"_s};
        QTest::newRow("FN contains, any case") << text("FN", "contains", "ИВАН") << QStringList{u"ivanov"_s};
        QTest::newRow("EMAIL equals") << text("EMAIL", "equals", "John@Example.com") << QStringList{u"smith"_s};
        QTest::newRow("EMAIL equals, octets")
            << text("EMAIL", "equals", "John@Example.com", " collation=\"i;octet\"") << QStringList{};
        QTest::newRow("TEL ends-with") << text("TEL", "ends-with", "22-33") << QStringList{u"ivanov"_s};
        QTest::newRow("N component equals") << text("N", "equals", "петрова") << QStringList{u"petrova"_s};
        QTest::newRow("ORG starts-with a unit") << text("ORG", "starts-with", "бух") << QStringList{u"ivanov"_s};
        QTest::newRow("UID equals") << text("UID", "equals", "smith") << QStringList{u"smith"_s};
        QTest::newRow("negated") << text("EMAIL", "ends-with", ".ru", " negate-condition=\"yes\"")
                                 << QStringList{u"smith"_s};
        QTest::newRow("ORG not defined")
            << QByteArray("<card:prop-filter name=\"ORG\"><card:is-not-defined/></card:prop-filter>")
            << QStringList{u"smith"_s};
        QTest::newRow("anyof") << text("FN", "contains", "smith") + text("ORG", "equals", "вектор")
                               << QStringList{u"petrova"_s, u"smith"_s};
        QTest::newRow("allof") << "<allof/>" + text("EMAIL", "ends-with", ".ru") + text("ORG", "contains", "век")
                               << QStringList{u"petrova"_s};
        QTest::newRow("param-filter")
            << QByteArray("<card:prop-filter name=\"EMAIL\"><card:param-filter name=\"TYPE\"><card:text-match>WORK"
                          "</card:text-match></card:param-filter></card:prop-filter>")
            << QStringList{u"ivanov"_s};
        QTest::newRow("limit") << QByteArray("<limit/>") << QStringList{u"ivanov"_s};
    }
    void query()
    {
        QFETCH(QByteArray, filter);
        QFETCH(QStringList, found);
        QByteArray test = "anyof";
        QByteArray limit;
        if (filter.startsWith("<allof/>")) {
            test = "allof";
            filter = filter.mid(8);
        } else if (filter == "<limit/>") {
            filter.clear();
            limit = "<card:limit><card:nresults>1</card:nresults></card:limit>";
        }
        const QByteArray body =
            "<card:addressbook-query xmlns:d=\"DAV:\" xmlns:card=\"urn:ietf:params:xml:ns:carddav\">"
            "<d:prop><d:getetag/></d:prop><card:filter test=\"" +
            test + "\">" + filter + "</card:filter>" + limit + "</card:addressbook-query>";
        // Evolution sends Depth 0 on the collection: taken as 1.
        const Multistatus ms = sendMultistatus("REPORT", kCards, body, {{"Depth", "0"}});
        QVERIFY2(ms.problem.isEmpty(), qPrintable(ms.problem));
        QStringList names;
        for (const DavResponse &r : ms.responses) {
            if (r.status == 507) {
                QCOMPARE(r.href, kCards);
                QCOMPARE(r.error, u"{DAV:}number-of-matches-within-limits"_s);
                continue;
            }
            QVERIFY(r.href.startsWith(kCards) && r.href.endsWith(".vcf"_L1));
            names << r.href.mid(kCards.size()).chopped(4);
        }
        names.sort();
        QCOMPARE(names, found);
        QCOMPARE(ms.responses.size(), found.size() + (limit.isEmpty() ? 0 : 1));
    }

    // What the server does not do, answered so that clients go on.
    // A request held back after wrong passwords waits aside: another
    // client's request meanwhile is answered first, and the held one is
    // answered in full when its wait is over.
    void heldRequestHoldsNoOneElse()
    {
        m_book->delays.insert(u"bob"_s, 2000);
        dav::HttpServer http(*m_server);
        QString error;
        QVERIFY2(http.start(dav::HttpOptions{}, &error), qPrintable(error));
        auto propfindAs = [](const QString &login) {
            return "PROPFIND /dav/ HTTP/1.1\r\nHost: x\r\nConnection: close\r\nDepth: 0\r\nContent-Length: 0\r\n"
                   "Authorization: " +
                   basic(login, "pw-"_L1 + login) + "\r\n\r\n";
        };
        std::atomic<int> finished{0};
        QByteArray held, other;
        int heldAt = 0, otherAt = 0;
        std::thread slow([&] {
            held = exchange(http.port(), propfindAs(u"bob"_s));
            heldAt = ++finished;
        });
        QTest::qWait(300); // bob's request is set aside by now
        std::thread quick([&] {
            other = exchange(http.port(), propfindAs(u"alice"_s));
            otherAt = ++finished;
        });
        quick.join();
        slow.join();
        QVERIFY2(other.startsWith("HTTP/1.1 207"), other.left(80).constData());
        QVERIFY2(held.startsWith("HTTP/1.1 207"), held.left(80).constData());
        QCOMPARE(otherAt, 1);
        QCOMPARE(heldAt, 2);
        // Stopped while a request waits aside: it ends, nothing hangs.
        std::thread again([&] { held = exchange(http.port(), propfindAs(u"bob"_s)); });
        QTest::qWait(300);
        http.stop();
        again.join();
    }

    void harmlessAnswers()
    {
        const QByteArray unknownCollation =
            "<card:addressbook-query xmlns:d=\"DAV:\" xmlns:card=\"urn:ietf:params:xml:ns:carddav\"><d:prop>"
            "<d:getetag/></d:prop><card:filter><card:prop-filter name=\"FN\"><card:text-match "
            "collation=\"i;klingon\">x</card:text-match></card:prop-filter></card:filter></card:addressbook-query>";
        dav::Response collation = send("REPORT", kCards, unknownCollation);
        QCOMPARE(collation.status, 403);
        QCOMPARE(errorOf(collation.readAll()), u"{urn:ietf:params:xml:ns:carddav}supported-collation"_s);

        for (const char *report : {"expand-property", "principal-property-search", "principal-search-property-set"}) {
            const QByteArray body = QByteArray("<d:") + report + " xmlns:d=\"DAV:\"/>";
            const Multistatus ms = sendMultistatus("REPORT", u"/dav/principals/alice/"_s, body);
            QVERIFY2(ms.problem.isEmpty(), report);
            QVERIFY(ms.responses.isEmpty());
        }

        const Multistatus patch = sendMultistatus(
            "PROPPATCH", kCards,
            "<d:propertyupdate xmlns:d=\"DAV:\"><d:set><d:prop><d:displayname>Мои</d:displayname></d:prop>"
            "</d:set></d:propertyupdate>");
        QCOMPARE(patch.responses.value(0).props.value(u"{DAV:}displayname"_s).status, 403);
        QCOMPARE(send("MOVE", kCards + "smith.vcf"_L1).status, 403);
        QCOMPARE(send("GET", kCards).status, 200);
    }
};

QTEST_GUILESS_MAIN(TestCardDav)
#include "tst_carddav.moc"
