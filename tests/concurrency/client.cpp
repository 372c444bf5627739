// zentrax-concurrency-client: one copy of the program's database work, for a
// test that starts several at once on one database (a file shared by
// embedded engines, or a database on a Firebird server).
//
// Every change goes through core::CardStore on a SharedDb, as the card window
// saves. Each client appends what it does to its journal, one line a step:
//   begin|done insert KEY ID VER USER   an own card, with its accounts (ID "-" at begin)
//   begin|done update ID VER USER       an own card, rewritten whole
//   begin|done remove ID
//   begin|done shared ID VER USER N     a card others save too; N counts its saves
//   conflict shared ID                  refused with the program's conflict message
//   seed KEY ID                         a card every client may save
//   paused shared ID VER                stopped inside that save's commit, to be killed
//   held                                stopped between two steps, to be killed there
//   end ...                             the client finished
// A line "begin" without its "done" is the step a killed client was in.
// "verify" reads every journal and checks the database against them.
//
//   client COMMAND --db PATH|--path-txt FILE [--program DIR] [--journal FILE] [options]
// (--db wins over --path-txt)
// Exit status 0 when the client did what it was told, 1 on any error.

#include "app/paths.h"
#include "core/cardstore.h"
#include "core/listmodel.h"
#include "core/listservice.h"
#include "core/photos.h"
#include "core/stamp.h"
#include "printout/cardexport.h"
#include "printout/workbook.h"
#include "db/ibase.h"
#include "db/shared.h"
#include "db/statements.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMap>
#include <QRandomGenerator>
#include <QSet>
#include <QThread>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

struct Options
{
    QString command, db;
    QHash<QString, QStringList> values;
    QString get(const QString &k, const QString &def = {}) const
    {
        return values.contains(k) ? values.value(k).last() : def;
    }
    qint64 num(const QString &k, qint64 def = 0) const { return values.contains(k) ? get(k).toLongLong() : def; }
    bool has(const QString &k) const { return values.contains(k); }
    QStringList all(const QString &k) const { return values.value(k); }
};

int g_errors = 0;

void out(const QString &line)
{
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

void error(const QString &what)
{
    ++g_errors;
    QString one = what;
    one.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    out(QStringLiteral("ERROR ") + one);
}

// Appends whole lines with one write each, so a killed client leaves no torn line.
class Journal
{
public:
    void open(const QString &path)
    {
        if (path.isEmpty())
            return;
        m_fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (m_fd < 0)
            error(QStringLiteral("cannot open the journal %1").arg(path));
    }
    void line(const QString &text)
    {
        if (m_fd < 0)
            return;
        const QByteArray b = text.toUtf8() + '\n';
        if (::write(m_fd, b.constData(), size_t(b.size())) != b.size())
            error(QStringLiteral("journal write failed"));
    }

private:
    int m_fd = -1;
};

Journal g_journal;

bool waitForFile(const QString &path, int seconds)
{
    QElapsedTimer t;
    t.start();
    while (!QFileInfo::exists(path)) {
        if (t.elapsed() > seconds * 1000LL)
            return false;
        QThread::msleep(5);
    }
    return true;
}

void touch(const QString &path)
{
    QFile f(path + QStringLiteral(".new"));
    f.open(QIODevice::WriteOnly);
    f.close();
    QFile::rename(path + QStringLiteral(".new"), path); // appears at once, whole
}

// ------------------------------------------------------------ card contents

quint32 hashOf(const QString &text)
{
    const QByteArray h = QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha1);
    return quint32(uchar(h[0])) << 24 | quint32(uchar(h[1])) << 16 | quint32(uchar(h[2])) << 8 | uchar(h[3]);
}

QString dateOf(quint32 h)
{
    return QStringLiteral("%1.%2.%3")
        .arg(int(h % 28) + 1, 2, 10, QLatin1Char('0'))
        .arg(int(h / 28 % 12) + 1, 2, 10, QLatin1Char('0'))
        .arg(1940 + int(h / 336 % 70));
}

// Every column of a card in version `ver`: each one tells the version, so a
// row mixing two saves is seen. `counter` is the number of saves of a card
// that several clients save.
core::CardRecord cardOf(const QString &key, const QString &ver, qint64 counter)
{
    const quint32 h = hashOf(key + QLatin1Char('/') + ver);
    core::CardRecord r;
    auto set = [&](const char *c, const QString &v) { r.values.insert(QString::fromLatin1(c), v); };
    set("fam", QStringLiteral("Иванов ") + ver);
    set("name1", QStringLiteral("Пётр ") + ver);
    set("name2", QStringLiteral("Сергеевич ") + key);
    set("work", QStringLiteral("ООО «Вектор» ") + ver + QLatin1Char(' ') + key);
    set("dep", QStringLiteral("Отдел ") + ver);
    set("post", QStringLiteral("Инженер ") + ver);
    set("bdate", dateOf(h));
    set("wtel", QStringLiteral("+7 495 ") + ver);
    set("htel", QStringLiteral("+7 499 ") + ver);
    set("wmob", QStringLiteral("+7 903 ") + ver);
    set("hmob", QStringLiteral("+7 916 ") + ver);
    set("wmail", ver + QStringLiteral("@work.example"));
    set("hmail", ver + QStringLiteral("@home.example"));
    set("wskype", QStringLiteral("w.") + ver);
    set("hskype", QStringLiteral("h.") + ver);
    set("ps", ver.right(30));
    set("pnum", QString::number(counter));
    set("pdate1", dateOf(h * 7 + 1));
    set("pdate2", dateOf(h * 11 + 3));
    set("vs", ver.left(30));
    set("vnum", QString::number(h % 1000000));
    set("vdate1", dateOf(h * 13 + 5));
    set("vdate2", dateOf(h * 17 + 9));
    const char *flags[] = {"smok", "alc", "fish", "hunt", "paint", "art", "mus", "trav", "cook", "sport"};
    for (int i = 0; i < 10; ++i)
        set(flags[i], (h >> i) & 1 ? QStringLiteral("1") : QStringLiteral("0"));
    set("other", QStringLiteral("Увлечения ") + ver + QStringLiteral("\r\nвторая строка ") + key);
    set("rem", QStringLiteral("Заметка ") + ver + QStringLiteral("\r\n\r\nконец"));
    return r;
}

core::Accounts accountsOf(const QString &key, const QString &ver)
{
    core::Accounts a;
    for (int k = 0; k < 4; ++k) {
        a.network[k] = QStringLiteral("Сеть %1 %2").arg(k + 1).arg(ver);
        a.address[k] = QStringLiteral("https://net%1.example/%2/%3").arg(k + 1).arg(key, ver);
    }
    return a;
}

// The first column in which `got` differs from version `ver`, or "".
QString differs(const core::CardRecord &got, const QString &key, const QString &ver, qint64 counter)
{
    const core::CardRecord want = cardOf(key, ver, counter);
    for (const QString &c : core::cardColumns())
        if (got.value(c) != want.value(c))
            return QStringLiteral("%1 is \"%2\", version %3 has \"%4\"").arg(c, got.value(c), ver, want.value(c));
    if (got.sysinfo != key)
        return QStringLiteral("sysinfo is \"%1\", not \"%2\"").arg(got.sysinfo, key);
    return {};
}

QString differs(const core::Accounts &got, const QString &key, const QString &ver)
{
    const core::Accounts want = accountsOf(key, ver);
    for (int k = 0; k < 4; ++k)
        if (got.network[k] != want.network[k] || got.address[k] != want.address[k])
            return QStringLiteral("accounts %1 are \"%2\" \"%3\", version %4 has \"%5\" \"%6\"")
                .arg(k + 1)
                .arg(got.network[k], got.address[k], ver, want.network[k], want.address[k]);
    return {};
}

// ------------------------------------------------------------ the database

struct Client
{
    SharedDb db;
    core::CardStore store{db.access};
    qint64 conflicts = 0;
    QString program; // the built program's folder: Forms/form.xlsx for printouts
    QString photos;  // the office's photo folder (files/ beside path.txt)
    QString scratch; // this client's own scratch folder

    void open(const Options &o)
    {
        program = o.get(QStringLiteral("program"), QCoreApplication::applicationDirPath());
        photos = o.get(QStringLiteral("photos"),
                       QFileInfo(o.get(QStringLiteral("path-txt"), o.db)).absolutePath() + QStringLiteral("/files"));
        scratch = QDir::tempPath() + QStringLiteral("/zentrax-client-%1").arg(QCoreApplication::applicationPid());
        QDir().mkpath(scratch);
        QDir().mkpath(photos);
        db.IBDbase.databaseName = o.db;
        db.IBDbase.open();
    }

    // The card printed as the program prints it: the stored card and its
    // accounts read again, the workbook filled in the scratch folder (and
    // not opened). A card deleted meanwhile prints nothing.
    void print(qint64 id)
    {
        const auto card = store.load(id);
        if (!card)
            return;
        const auto accounts = store.loadAccounts(id);
        try {
            const auto workbook = printout::xlsxWorkbook([](const QString &) { return true; });
            printout::exportCard(*workbook, {program, photos, scratch}, *card, accounts);
        } catch (const printout::Error &e) {
            error(QStringLiteral("printing card %1: %2").arg(id).arg(QString::fromUtf8(e.what())));
        }
    }

    // A conflict counts when it reaches us as the program tells it to the user.
    bool isToldConflict(const db::DbError &e)
    {
        if (!e.conflict())
            return false;
        if (e.text() != db::conflictMessage()) {
            error(QStringLiteral("a conflict with the wrong text: %1").arg(e.text()));
            return false;
        }
        ++conflicts;
        return true;
    }

    // Until `clear`, every commit first checks that the transaction holds the
    // card `key` in version `ver` together with its accounts: a save that
    // committed one without the other would leave half a card.
    void expectWhole(const QString &key, const QString &ver, const std::function<void()> &thenPause = {})
    {
        db.IBTrans.beforeCommit = [this, key, ver, thenPause] {
            QString card, acc;
            {
                db::IBQuery q(&db.IBDbase, &db.IBTrans);
                q.setSql(QStringLiteral("SELECT b.fam, a.sn1 FROM base b LEFT JOIN accounts a ON a.bs_fk = b.pk_id "
                                        "WHERE b.sysinfo = :k"));
                q.setParam(QStringLiteral("k"), key);
                q.open();
                card = q.asText(0);
                acc = q.asText(1);
            }
            if (card != cardOf(key, ver, 0).value(QStringLiteral("fam")) || acc != accountsOf(key, ver).network[0])
                error(QStringLiteral("the save of %1 as %2 commits \"%3\" with accounts \"%4\"")
                          .arg(key, ver, card, acc));
            if (thenPause)
                thenPause();
        };
    }
    void clear() { db.IBTrans.beforeCommit = nullptr; }

    // The card as the card window loads it: its row and its accounts.
    struct Loaded
    {
        core::CardRecord card;
        std::optional<core::Accounts> accounts;
    };
    Loaded load(qint64 id)
    {
        const auto card = store.load(id);
        if (!card)
            throw db::DbError(QStringLiteral("card %1 is missing").arg(id));
        return {*card, store.loadAccounts(id)};
    }
    qint64 counterOf(qint64 id, QString *key)
    {
        const Loaded l = load(id);
        *key = l.card.sysinfo;
        return l.card.value(QStringLiteral("pnum")).toLongLong();
    }
};

QString versionOf(const QString &name, qint64 n)
{
    return QStringLiteral("%1.%2").arg(name).arg(n);
}

// ------------------------------------------------------------ commands

// Cards that every client may save, at their first version and a count of 0.
int seed(const Options &o)
{
    Client c;
    c.open(o);
    for (const QString &key : o.all(QStringLiteral("key"))) {
        const core::Accounts acc = accountsOf(key, key);
        c.expectWhole(key, key);
        const qint64 id = c.store.insert(cardOf(key, key, 0), 1, key, &acc);
        c.clear();
        g_journal.line(QStringLiteral("seed %1 %2").arg(key).arg(id));
        out(QStringLiteral("SEED %1 %2").arg(key).arg(id));
    }
    return g_errors ? 1 : 0;
}

// One save of a card that others save too: loaded, its count raised, stored
// whole. Returns false when refused with a conflict.
bool sharedSave(Client &c, qint64 id, const QString &ver, qint64 user, const std::function<void()> &afterLoad = {},
                const std::function<void()> &pause = {})
{
    const Client::Loaded loaded = c.load(id);
    const QString key = loaded.card.sysinfo;
    const qint64 n = loaded.card.value(QStringLiteral("pnum")).toLongLong() + 1;
    c.expectWhole(key, ver, pause);
    if (afterLoad)
        afterLoad();
    // Between the load and the save the card is printed and read again, as a
    // user may: no read may hide a colleague's save from this one.
    c.print(id);
    c.load(id);
    const core::Accounts acc = accountsOf(key, ver);
    g_journal.line(QStringLiteral("begin shared %1 %2 %3 %4").arg(id).arg(ver).arg(user).arg(n));
    try {
        const bool stored = c.store.update(id, cardOf(key, ver, n), user, &acc, loaded.card, loaded.accounts);
        c.clear();
        if (!stored)
            throw db::DbError(QStringLiteral("card %1 is gone").arg(id));
    } catch (const db::DbError &e) {
        c.clear();
        if (c.isToldConflict(e)) {
            g_journal.line(QStringLiteral("conflict shared %1").arg(id));
            out(QStringLiteral("CONFLICT card %1").arg(id));
            return false;
        }
        throw;
    }
    g_journal.line(QStringLiteral("done shared %1 %2 %3 %4").arg(id).arg(ver).arg(user).arg(n));
    return true;
}

// Loads the card, waits for the go, then saves it: two of these at once race.
int race(const Options &o)
{
    Client c;
    c.open(o);
    const qint64 id = o.num(QStringLiteral("card"));
    bool won = false;
    try {
        won = sharedSave(c, id, o.get(QStringLiteral("as")), o.num(QStringLiteral("user")), [&] {
            touch(o.get(QStringLiteral("ready")));
            if (!waitForFile(o.get(QStringLiteral("go")), 120))
                throw db::DbError(QStringLiteral("no go within 120 s"));
        });
    } catch (const db::DbError &e) {
        error(e.text());
        return 1;
    }
    out(QStringLiteral("RESULT %1").arg(won ? QStringLiteral("won") : QStringLiteral("conflict")));
    g_journal.line(QStringLiteral("end"));
    return g_errors ? 1 : 0;
}

// Updates the card without committing (its row stays locked), says so, and
// commits once released.
int hold(const Options &o)
{
    Client c;
    c.open(o);
    const qint64 id = o.num(QStringLiteral("card"));
    const QString ver = o.get(QStringLiteral("as"));
    const qint64 user = o.num(QStringLiteral("user"));
    try {
        QString key;
        const qint64 n = c.counterOf(id, &key) + 1;
        g_journal.line(QStringLiteral("begin shared %1 %2 %3 %4").arg(id).arg(ver).arg(user).arg(n));
        // One unit, which ends (and commits) only once released.
        c.db.access.unit([&] {
            // The card's own update statement, as CardStore binds it.
            db::IBQuery upd(&c.db.IBDbase, &c.db.IBTrans);
            upd.setSql(sql::updateCard());
            const core::CardRecord card = cardOf(key, ver, n);
            for (const QString &col : core::cardColumns())
                upd.setParam(col, card.value(col));
            upd.setParam(QStringLiteral("ldt"), user);
            upd.setParam(QStringLiteral("pk_id"), id);
            upd.execute();
            if (upd.rowsAffected() != 1)
                throw db::DbError(QStringLiteral("the update touched %1 rows").arg(upd.rowsAffected()));
            db::IBQuery q(&c.db.IBDbase, &c.db.IBTrans);
            q.setSql(sql::selectAccountsId());
            q.setParam(QStringLiteral("bs_fk"), id);
            q.open();
            if (q.eof())
                throw db::DbError(QStringLiteral("card %1 has no accounts").arg(id));
            const qint64 accId = q.asInt(QStringLiteral("pk_id"));
            q.close();
            c.store.updateAccounts(accId, accountsOf(key, ver));
            c.expectWhole(key, ver);
            touch(o.get(QStringLiteral("ready")));
            if (!waitForFile(o.get(QStringLiteral("release")), 120))
                throw db::DbError(QStringLiteral("not released within 120 s"));
        });
        g_journal.line(QStringLiteral("done shared %1 %2 %3 %4").arg(id).arg(ver).arg(user).arg(n));
        out(QStringLiteral("RESULT committed"));
        g_journal.line(QStringLiteral("end"));
    } catch (const db::DbError &e) {
        error(e.text());
    }
    return g_errors ? 1 : 0;
}

// One save of a card others save; tells how long it took.
int save(const Options &o)
{
    Client c;
    c.open(o);
    QElapsedTimer t;
    bool won = false;
    try {
        won = sharedSave(c, o.num(QStringLiteral("card")), o.get(QStringLiteral("as")), o.num(QStringLiteral("user")),
                         [&] { t.start(); });
    } catch (const db::DbError &e) {
        error(e.text());
        return 1;
    }
    out(QStringLiteral("RESULT %1 %2 ms")
            .arg(won ? QStringLiteral("won") : QStringLiteral("conflict"))
            .arg(t.elapsed()));
    g_journal.line(QStringLiteral("end"));
    return g_errors ? 1 : 0;
}

// A copy with its list open, as the main window keeps it: once the database
// is set to tell it of commits (--ready is made then), it waits for the card
// of --key, which another copy stores, to show in its list by itself.
int live(const Options &o)
{
    Client c;
    c.open(o);
    core::ListService list(c.db);
    list.setLive(true);
    list.search(ListFilter{}, ListSort::Name);
    list.finish();
    QElapsedTimer t;
    t.start();
    while (!list.eventsArmed() && t.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    const bool armed = list.eventsArmed();
    QFile(o.get(QStringLiteral("ready"))).open(QIODevice::WriteOnly);
    const QString name = QStringLiteral("Сергеевич ") + o.get(QStringLiteral("key"));
    auto shown = [&] {
        for (int r = 0; r < list.model().cardCount(); ++r)
            if (list.model().cell(r, 1).contains(name))
                return true;
        return false;
    };
    t.restart();
    while (!shown() && t.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    out(QStringLiteral("LIVE %1 after %2 ms, told by the database: %3")
            .arg(shown() ? QStringLiteral("shown") : QStringLiteral("not shown"))
            .arg(t.elapsed())
            .arg(armed ? QStringLiteral("yes") : QStringLiteral("no")));
    return shown() && armed ? 0 : 1;
}

// Inserts, updates and deletes cards of its own and saves the shared ones,
// until it has done --min-ops and the --stop file exists (or --ops are done).
int work(const Options &o)
{
    Client c;
    try {
        c.open(o);
    } catch (const db::DbError &e) {
        error(e.text());
        return 1;
    }
    const QString name = o.get(QStringLiteral("as"));
    const qint64 user = o.num(QStringLiteral("user"));
    const qint64 minOps = o.num(QStringLiteral("min-ops"), 0);
    const qint64 maxOps = o.num(QStringLiteral("ops"), 1000000);
    const QString stop = o.get(QStringLiteral("stop"));
    const bool removes = !o.has(QStringLiteral("no-remove"));
    const qint64 pauseAfter = o.num(QStringLiteral("pause-after"), -1);
    const QString hold = o.get(QStringLiteral("hold"));
    QList<qint64> shared;
    for (const QString &s : o.get(QStringLiteral("shared")).split(QLatin1Char(','), Qt::SkipEmptyParts))
        shared << s.toLongLong();
    const quint32 seedValue = quint32(o.num(QStringLiteral("seed"), 1));
    QRandomGenerator rng(seedValue);
    out(QStringLiteral("START %1 seed %2").arg(name).arg(seedValue));

    struct Own
    {
        QString key, ver;
    };
    std::map<qint64, Own> own;
    qint64 n = 0, inserts = 0, updates = 0, removed = 0, sharedOk = 0;
    auto newVer = [&] { return versionOf(name, ++n); };

    for (qint64 op = 0; op < maxOps; ++op) {
        if (op >= minOps && !stop.isEmpty() && QFileInfo::exists(stop))
            break;
        if (op >= minOps && stop.isEmpty())
            break;
        if (!hold.isEmpty() && QFileInfo::exists(hold)) {
            // Between two steps, outside any call into the database engine:
            // an embedded engine killed inside its lock table leaves the
            // other processes waiting for it for ever.
            g_journal.line(QStringLiteral("held"));
            out(QStringLiteral("HELD"));
            QThread::sleep(300); // killed long before
            std::_Exit(1);
        }
        try {
            if (op == pauseAfter && !shared.isEmpty()) {
                // A save stopped between its statements and its commit, to be killed there.
                const QString ver = newVer();
                const QString paused = o.get(QStringLiteral("paused"));
                auto pauseInCommit = [&, ver] {
                    g_journal.line(QStringLiteral("paused shared %1 %2").arg(shared.first()).arg(ver));
                    touch(paused);
                    QThread::sleep(300); // killed long before
                    error(QStringLiteral("not killed while paused"));
                    std::_Exit(1);
                };
                while (!sharedSave(c, shared.first(), ver, user, {}, pauseInCommit)) {
                }
                continue;
            }
            // Weights: insert 35, update 30, delete 15, save a shared card 20.
            enum { Insert, Update, Remove, Shared } kind = Insert;
            const int wRemove = removes ? 15 : 0, wShared = shared.isEmpty() ? 0 : 20;
            const int dice = int(rng.bounded(35 + 30 + wRemove + wShared));
            if (dice >= 65 + wRemove)
                kind = Shared;
            else if (dice >= 65 && !own.empty())
                kind = Remove;
            else if (dice >= 35 && !own.empty())
                kind = Update;
            if (kind == Insert) {
                const QString key = QStringLiteral("%1.k%2").arg(name).arg(op);
                const QString ver = newVer();
                const core::Accounts acc = accountsOf(key, ver);
                g_journal.line(QStringLiteral("begin insert %1 - %2 %3").arg(key, ver).arg(user));
                c.expectWhole(key, ver);
                const qint64 id = c.store.insert(cardOf(key, ver, 0), user, key, &acc);
                c.clear();
                g_journal.line(QStringLiteral("done insert %1 %2 %3 %4").arg(key).arg(id).arg(ver).arg(user));
                own[id] = {key, ver};
                ++inserts;
            } else if (kind == Update) {
                auto it = own.begin();
                std::advance(it, rng.bounded(int(own.size())));
                const qint64 id = it->first;
                // As the card window does: the stored card first, then the save.
                const auto stored = c.store.load(id);
                const auto storedAcc = c.store.loadAccounts(id);
                c.print(id);
                QString bad = !stored ? QStringLiteral("missing") : differs(*stored, it->second.key, it->second.ver, 0);
                if (bad.isEmpty())
                    bad = !storedAcc ? QStringLiteral("no accounts")
                                     : differs(*storedAcc, it->second.key, it->second.ver);
                if (!bad.isEmpty())
                    error(QStringLiteral("own card %1 is not as saved: %2").arg(id).arg(bad));
                const QString ver = newVer();
                const core::Accounts acc = accountsOf(it->second.key, ver);
                g_journal.line(QStringLiteral("begin update %1 %2 %3").arg(id).arg(ver).arg(user));
                c.expectWhole(it->second.key, ver);
                if (stored && !c.store.update(id, cardOf(it->second.key, ver, 0), user, &acc, *stored, storedAcc))
                    error(QStringLiteral("own card %1 vanished").arg(id));
                c.clear();
                g_journal.line(QStringLiteral("done update %1 %2 %3").arg(id).arg(ver).arg(user));
                it->second.ver = ver;
                ++updates;
            } else if (kind == Remove) {
                auto it = own.begin();
                std::advance(it, rng.bounded(int(own.size())));
                const qint64 id = it->first;
                g_journal.line(QStringLiteral("begin remove %1").arg(id));
                c.store.remove(id);
                g_journal.line(QStringLiteral("done remove %1").arg(id));
                own.erase(it);
                ++removed;
            } else {
                const qint64 id = shared[rng.bounded(int(shared.size()))];
                if (sharedSave(c, id, newVer(), user))
                    ++sharedOk;
            }
        } catch (const db::DbError &e) {
            c.clear();
            error(QStringLiteral("op %1: %2").arg(op).arg(e.text()));
            c.db.IBTrans.rollback();
        }
    }
    const QString summary = QStringLiteral("ops=%1 inserts=%2 updates=%3 removes=%4 shared=%5 conflicts=%6 errors=%7")
                                .arg(inserts + updates + removed + sharedOk + c.conflicts)
                                .arg(inserts)
                                .arg(updates)
                                .arg(removed)
                                .arg(sharedOk)
                                .arg(c.conflicts)
                                .arg(g_errors);
    g_journal.line(QStringLiteral("end ") + summary);
    out(QStringLiteral("REPORT %1 %2").arg(name, summary));
    return g_errors ? 1 : 0;
}

// A new card with a photo, saved in a given second of the clock: two of these
// under one login get one stamp, and must still keep their photos apart.
int photo(const Options &o)
{
    Client c;
    c.open(o);
    const qint64 user = o.num(QStringLiteral("user"));
    const QString key = o.get(QStringLiteral("key"));
    const qint64 at = o.num(QStringLiteral("at"));
    while (QDateTime::currentSecsSinceEpoch() < at)
        QThread::msleep(2);
    const QString stamp = makeStamp(user);
    const core::Accounts acc = accountsOf(key, key);
    const qint64 id = c.store.insert(cardOf(key, key, 0), user, stamp, &acc);
    const QString fpath =
        core::PhotoStore(c.db.access, c.photos).attach(id, stamp, o.get(QStringLiteral("image")), {c.scratch, {}});
    out(QStringLiteral("PHOTO %1 %2 %3").arg(id).arg(stamp, fpath));
    return g_errors ? 1 : 0;
}

// Saves a card, waits while the server is stopped and started again, then
// saves it twice more: the first of those meets the lost connection and says
// so, the next goes through on a new one.
int reconnect(const Options &o)
{
    Client c;
    c.open(o);
    const qint64 id = o.num(QStringLiteral("card"));
    auto saveOnce = [&](const QString &ver) {
        const Client::Loaded l = c.load(id);
        const QString key = l.card.sysinfo;
        const core::Accounts acc = accountsOf(key, ver);
        const qint64 n = l.card.value(QStringLiteral("pnum")).toLongLong() + 1;
        if (!c.store.update(id, cardOf(key, ver, n), 61, &acc, l.card, l.accounts))
            throw db::DbError(QStringLiteral("card %1 is gone").arg(id));
    };
    saveOnce(QStringLiteral("re1"));
    touch(o.get(QStringLiteral("ready")));
    if (!waitForFile(o.get(QStringLiteral("go")), 120)) {
        error(QStringLiteral("no go within 120 s"));
        return 1;
    }
    try {
        saveOnce(QStringLiteral("re2"));
        error(QStringLiteral("the save after the restart did not notice the lost connection"));
    } catch (const db::DbError &e) {
        if (!e.connectionLost()) {
            error(e.text());
            return 1;
        }
        QString first = e.text().section(QLatin1Char('\r'), 0, 0);
        out(QStringLiteral("LOST %1").arg(first));
    }
    saveOnce(QStringLiteral("re3"));
    out(QStringLiteral("RESULT saved again"));
    return g_errors ? 1 : 0;
}

// Deletes a card's photo as the card window does.
int unphoto(const Options &o)
{
    Client c;
    c.open(o);
    const auto result = core::PhotoStore(c.db.access, c.photos).deleteFile(o.num(QStringLiteral("card")));
    out(QStringLiteral("UNPHOTO %1").arg(int(result)));
    return result == core::PhotoStore::Deleted::Deleted ? 0 : 1;
}

// ------------------------------------------------------------ verification

struct Expect
{
    QString key;
    QString ver; // the version last committed
    qint64 user = 0;
    qint64 counter = 0;
    bool removed = false;
    bool shared = false;
    // The step its killed client was in: the card must be as before it or as after it.
    QString pending; // "insert", "update", "remove" or ""
    QString pendingVer;
    qint64 pendingUser = 0;
};

int verify(const Options &o)
{
    std::map<qint64, Expect> cards; // by id
    QHash<QString, qint64> idOfKey;
    QList<qint64> insertIds;
    QHash<QString, Expect> lostInserts; // begun, never confirmed: by key
    // Shared saves confirmed, by card and count; and those a killed client began.
    std::map<qint64, QMap<qint64, QPair<QString, qint64>>> sharedDone;
    std::map<qint64, QList<std::tuple<qint64, QString, qint64>>> sharedPending;
    qint64 nInsert = 0, nUpdate = 0, nRemove = 0, nShared = 0, nConflict = 0, nClients = 0, nKilled = 0;
    int failures = 0;
    auto fail = [&](const QString &what) {
        ++failures;
        out(QStringLiteral("FAIL ") + what);
    };

    const QDir dir(o.get(QStringLiteral("journals")));
    for (const QFileInfo &fi : dir.entryInfoList({QStringLiteral("*.journal")}, QDir::Files, QDir::Name)) {
        QFile f(fi.filePath());
        if (!f.open(QIODevice::ReadOnly))
            continue;
        ++nClients;
        const QString who = fi.completeBaseName();
        QStringList begun; // the open "begin" line
        bool ended = false;
        bool seeds = false;
        for (const QByteArray &raw : f.readAll().split('\n')) {
            const QString line = QString::fromUtf8(raw);
            if (line.isEmpty())
                continue;
            const QStringList w = line.split(QLatin1Char(' '));
            if (w[0] == QLatin1String("seed")) {
                Expect e;
                e.key = w[1];
                e.ver = w[1];
                e.user = 1;
                e.shared = true;
                cards[w[2].toLongLong()] = e;
                idOfKey[e.key] = w[2].toLongLong();
                insertIds << w[2].toLongLong();
                seeds = true;
            } else if (w[0] == QLatin1String("begin")) {
                if (!begun.isEmpty())
                    fail(QStringLiteral("%1: \"%2\" never ended").arg(who, begun.join(QLatin1Char(' '))));
                begun = w;
            } else if (w[0] == QLatin1String("done")) {
                const bool same = w[1] == QLatin1String("insert")
                                      ? begun.value(1) == w[1] && begun.value(2) == w[2] && begun.value(4) == w[4]
                                      : begun.mid(1) == w.mid(1);
                if (!same)
                    fail(QStringLiteral("%1: \"%2\" without its begin").arg(who, line));
                begun.clear();
                const qint64 id = w[1] == QLatin1String("insert") ? w[3].toLongLong() : w[2].toLongLong();
                if (w[1] == QLatin1String("insert")) {
                    Expect e;
                    e.key = w[2];
                    e.ver = w[4];
                    e.user = w[5].toLongLong();
                    if (cards.count(id))
                        fail(QStringLiteral("id %1 given to two new cards (%2 and %3)")
                                 .arg(id)
                                 .arg(cards[id].key, e.key));
                    cards[id] = e;
                    idOfKey[e.key] = id;
                    insertIds << id;
                    ++nInsert;
                } else if (w[1] == QLatin1String("update")) {
                    cards[id].ver = w[3];
                    cards[id].user = w[4].toLongLong();
                    ++nUpdate;
                } else if (w[1] == QLatin1String("remove")) {
                    cards[id].removed = true;
                    ++nRemove;
                } else if (w[1] == QLatin1String("shared")) {
                    const qint64 n = w[5].toLongLong();
                    auto &done = sharedDone[id];
                    if (done.contains(n))
                        fail(QStringLiteral("card %1: save %2 committed twice (%3 and %4): one overwrote the other")
                                 .arg(id)
                                 .arg(n)
                                 .arg(done[n].first, w[3]));
                    done[n] = {w[3], w[4].toLongLong()};
                    ++nShared;
                }
            } else if (w[0] == QLatin1String("conflict")) {
                if (begun.value(1) != w[1] || begun.value(2) != w[2])
                    fail(QStringLiteral("%1: \"%2\" without its begin").arg(who, line));
                begun.clear();
                ++nConflict;
            } else if (w[0] == QLatin1String("end")) {
                ended = true;
            }
        }
        if (!ended && !seeds)
            ++nKilled;
        if (!begun.isEmpty()) {
            if (ended)
                fail(QStringLiteral("%1 ended inside \"%2\"").arg(who, begun.join(QLatin1Char(' '))));
            out(QStringLiteral("killed %1 in: %2").arg(who, begun.join(QLatin1Char(' '))));
            if (begun[1] == QLatin1String("insert")) {
                Expect e;
                e.key = begun[2];
                e.pending = begun[1];
                e.pendingVer = begun[4];
                e.pendingUser = begun[5].toLongLong();
                lostInserts.insert(e.key, e);
            } else if (begun[1] == QLatin1String("shared")) {
                sharedPending[begun[2].toLongLong()]
                    << std::make_tuple(begun[5].toLongLong(), begun[3], begun[4].toLongLong());
            } else {
                Expect &e = cards[begun[2].toLongLong()];
                e.pending = begun[1];
                if (begun[1] == QLatin1String("update")) {
                    e.pendingVer = begun[3];
                    e.pendingUser = begun[4].toLongLong();
                }
            }
        }
    }

    // The shared cards: every save counted once, the last one stored.
    for (auto &[id, e] : cards) {
        if (!e.shared)
            continue;
        const auto &done = sharedDone[id];
        for (qint64 n = 1; n <= done.size(); ++n)
            if (!done.contains(n))
                fail(QStringLiteral("card %1: %2 saves committed but none wrote count %3")
                         .arg(id)
                         .arg(done.size())
                         .arg(n));
        e.counter = done.size();
        if (!done.isEmpty()) {
            e.ver = done.last().first;
            e.user = done.last().second;
        }
        for (const auto &[n, ver, user] : sharedPending[id]) {
            if (n == e.counter + 1) {
                e.pending = QStringLiteral("shared");
                e.pendingVer = ver;
                e.pendingUser = user;
            } else {
                // Its count went to a later save of another client: the stored
                // card, checked below, is that one's.
                out(QStringLiteral("killed save of card %1 as %2: not stored, save %3 is %4's")
                        .arg(id)
                        .arg(ver)
                        .arg(n)
                        .arg(done.value(n).first));
            }
        }
    }

    Client c;
    c.open(o);
    {
        db::IBQuery q(&c.db.IBDbase, &c.db.IBTrans);
        q.setSql(QStringLiteral("SELECT mon$remote_protocol, mon$remote_address FROM mon$attachments "
                                "WHERE mon$attachment_id = CURRENT_CONNECTION"));
        q.open();
        const QString protocol = q.asText(0).trimmed();
        out(QStringLiteral("CONNECTION %1 %2 %3")
                .arg(o.db, protocol.isEmpty() ? QStringLiteral("embedded") : protocol, q.asText(1).trimmed()));
        q.close();
    }
    qint64 rowsVerified = 0, accountsVerified = 0;
    // What the database holds, read apart from the card statements.
    QHash<qint64, QString> keyOfRow;
    QHash<qint64, int> accountsOfCard;
    {
        db::IBQuery q(&c.db.IBDbase, &c.db.IBTrans);
        q.setSql(QStringLiteral("SELECT COUNT(*) AS n, COUNT(DISTINCT pk_id) AS d FROM base"));
        q.open();
        if (q.asInt(QStringLiteral("n")) != q.asInt(QStringLiteral("d")))
            fail(QStringLiteral("card ids repeat: %1 rows, %2 ids")
                     .arg(q.asInt(QStringLiteral("n")))
                     .arg(q.asInt(QStringLiteral("d"))));
        q.close();
        q.setSql(QStringLiteral("SELECT pk_id, sysinfo FROM base"));
        q.open();
        for (; !q.eof(); q.next())
            keyOfRow.insert(q.asInt(0), q.asText(1));
        q.close();
        q.setSql(QStringLiteral("SELECT bs_fk FROM accounts"));
        q.open();
        for (; !q.eof(); q.next())
            accountsOfCard[q.asInt(0)] += 1;
        q.close();
    }
    {
        QHash<qint64, int> handedOut;
        for (qint64 id : insertIds)
            if (++handedOut[id] == 2)
                fail(QStringLiteral("id %1 was handed out to two cards").arg(id));
    }
    for (auto it = accountsOfCard.cbegin(); it != accountsOfCard.cend(); ++it)
        if (!keyOfRow.contains(it.key()))
            fail(QStringLiteral("%1 accounts row(s) of card %2, which does not exist").arg(it.value()).arg(it.key()));

    // Whether the card is stored whole in version `ver`: the row and its one accounts row.
    auto wholeAs = [&](qint64 id, const QString &key, const QString &ver, qint64 counter, qint64 user) -> QString {
        const auto card = c.store.load(id);
        if (!card)
            return QStringLiteral("missing");
        QString bad = differs(*card, key, ver, counter);
        if (bad.isEmpty() && card->values.value(QStringLiteral("fam")).isEmpty())
            bad = QStringLiteral("empty");
        if (!bad.isEmpty())
            return bad;
        db::IBQuery q(&c.db.IBDbase, &c.db.IBTrans);
        q.setSql(QStringLiteral("SELECT ldt FROM base WHERE pk_id = :id"));
        q.setParam(QStringLiteral("id"), id);
        q.open();
        const qint64 ldt = q.asInt(0);
        q.close();
        if (ldt != user)
            return QStringLiteral("last editor %1, the save of version %2 was by %3").arg(ldt).arg(ver).arg(user);
        if (accountsOfCard.value(id) != 1)
            return QStringLiteral("%1 accounts rows").arg(accountsOfCard.value(id));
        const auto acc = c.store.loadAccounts(id);
        if (!acc)
            return QStringLiteral("no accounts");
        return differs(*acc, key, ver);
    };

    QSet<qint64> expected;
    for (auto &[id, e] : cards) {
        expected.insert(id);
        const bool present = keyOfRow.contains(id);
        if (e.removed) {
            if (present || accountsOfCard.contains(id))
                fail(QStringLiteral("card %1 (%2) was deleted but %3")
                         .arg(id)
                         .arg(e.key, present ? QStringLiteral("is there") : QStringLiteral("its accounts are")));
            continue;
        }
        if (e.pending == QLatin1String("remove")) {
            if (!present && !accountsOfCard.contains(id)) {
                out(QStringLiteral("killed delete of card %1: done whole").arg(id));
                continue;
            }
        }
        if (!present) {
            fail(QStringLiteral("card %1 (%2) is missing").arg(id).arg(e.key));
            continue;
        }
        if (keyOfRow.value(id) != e.key)
            fail(QStringLiteral("card %1 holds the key %2, not %3").arg(id).arg(keyOfRow.value(id), e.key));
        const QString asBefore = wholeAs(id, e.key, e.ver, e.counter, e.user);
        if (asBefore.isEmpty()) {
            ++rowsVerified;
            ++accountsVerified;
            if (!e.pending.isEmpty())
                out(QStringLiteral("killed %1 of card %2: not stored, the card is whole as before")
                        .arg(e.pending)
                        .arg(id));
            continue;
        }
        if (e.pending == QLatin1String("update") || e.pending == QLatin1String("shared")) {
            const QString asAfter =
                wholeAs(id, e.key, e.pendingVer, e.counter + (e.pending == QLatin1String("shared")), e.pendingUser);
            if (asAfter.isEmpty()) {
                ++rowsVerified;
                ++accountsVerified;
                out(QStringLiteral("killed %1 of card %2: stored whole").arg(e.pending).arg(id));
                continue;
            }
            fail(QStringLiteral("card %1 (%2) is neither as before the killed save (%3) nor as after it (%4)")
                     .arg(id)
                     .arg(e.key, asBefore, asAfter));
            continue;
        }
        fail(QStringLiteral("card %1 (%2) is not version %3: %4").arg(id).arg(e.key, e.ver, asBefore));
    }
    for (const Expect &e : lostInserts) {
        const QList<qint64> ids = keyOfRow.keys(e.key);
        if (ids.isEmpty()) {
            out(QStringLiteral("killed insert of %1: not stored").arg(e.key));
            continue;
        }
        if (ids.size() > 1) {
            fail(QStringLiteral("the killed insert of %1 is stored %2 times").arg(e.key).arg(ids.size()));
            continue;
        }
        expected.insert(ids.first());
        const QString bad = wholeAs(ids.first(), e.key, e.pendingVer, 0, e.pendingUser);
        if (bad.isEmpty()) {
            ++rowsVerified;
            ++accountsVerified;
            out(QStringLiteral("killed insert of %1: stored whole as card %2").arg(e.key).arg(ids.first()));
        } else {
            fail(QStringLiteral("the killed insert of %1 is stored half: %2").arg(e.key, bad));
        }
    }
    for (auto it = keyOfRow.cbegin(); it != keyOfRow.cend(); ++it)
        if (!expected.contains(it.key()))
            fail(QStringLiteral("card %1 (%2) was never saved by any client").arg(it.key()).arg(it.value()));

    out(QStringLiteral("VERIFY clients=%1 killed=%2 inserts=%3 updates=%4 removes=%5 shared=%6 conflicts=%7 "
                       "cards=%8 rows_verified=%9 accounts_verified=%10 failures=%11")
            .arg(nClients)
            .arg(nKilled)
            .arg(nInsert)
            .arg(nUpdate)
            .arg(nRemove)
            .arg(nShared)
            .arg(nConflict)
            .arg(keyOfRow.size())
            .arg(rowsVerified)
            .arg(accountsVerified)
            .arg(failures));
    return failures ? 1 : 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("A copy of the program at work on a shared database, for the concurrency test."));
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("seed, race, hold, save, work or verify"));
    const QStringList valued = {u"as"_s,       u"at"_s,          u"card"_s,     u"db"_s,     u"go"_s,      u"hold"_s,
                                u"image"_s,    u"journal"_s,     u"journals"_s, u"key"_s,    u"min-ops"_s, u"ops"_s,
                                u"path-txt"_s, u"pause-after"_s, u"paused"_s,   u"photos"_s, u"program"_s, u"ready"_s,
                                u"release"_s,  u"seed"_s,        u"shared"_s,   u"stop"_s,   u"user"_s};
    for (const QString &name : valued)
        parser.addOption(QCommandLineOption(name, name, QStringLiteral("value")));
    parser.addOption(QCommandLineOption(QStringLiteral("no-remove"), QStringLiteral("keep the cards made")));
    if (!parser.parse(app.arguments()) || parser.positionalArguments().size() != 1) {
        std::fprintf(stderr, "%s\nusage: zentrax-concurrency-client seed|race|hold|save|work|verify --db PATH ...\n",
                     qPrintable(parser.errorText()));
        return 2;
    }
    Options o;
    o.command = parser.positionalArguments().first();
    for (const QString &name : valued)
        if (parser.isSet(name))
            o.values[name] = parser.values(name);
    if (parser.isSet(QStringLiteral("no-remove")))
        o.values[QStringLiteral("no-remove")] = {QStringLiteral("1")};
    o.db = o.get(QStringLiteral("db"));
    if (o.db.isEmpty() && o.has(QStringLiteral("path-txt"))) {
        // As the program reads it: the first line, whatever ends it; a server
        // connection string is not looked for as a file.
        QFile f(o.get(QStringLiteral("path-txt")));
        if (!f.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(f.fileName()));
            return 1;
        }
        const QByteArray all = f.readAll();
        qsizetype end = 0;
        while (end < all.size() && all[end] != '\n' && all[end] != '\r')
            ++end;
        o.db = QString::fromLocal8Bit(all.left(end));
        if (!paths::isServerPath(o.db) && !QFileInfo(o.db).isFile()) {
            std::fprintf(stderr, "ERROR %s is neither a server path nor a file\n", qPrintable(o.db));
            return 1;
        }
    }
    db::prepareEngine(o.get(QStringLiteral("program"), QCoreApplication::applicationDirPath()));
    g_journal.open(o.get(QStringLiteral("journal")));
    try {
        if (o.command == QLatin1String("seed"))
            return seed(o);
        if (o.command == QLatin1String("race"))
            return race(o);
        if (o.command == QLatin1String("hold"))
            return hold(o);
        if (o.command == QLatin1String("save"))
            return save(o);
        if (o.command == QLatin1String("work"))
            return work(o);
        if (o.command == QLatin1String("verify"))
            return verify(o);
        if (o.command == QLatin1String("photo"))
            return photo(o);
        if (o.command == QLatin1String("unphoto"))
            return unphoto(o);
        if (o.command == QLatin1String("reconnect"))
            return reconnect(o);
        if (o.command == QLatin1String("live"))
            return live(o);
    } catch (const db::DbError &e) {
        error(e.text());
        return 1;
    }
    std::fprintf(stderr, "unknown command %s\n", qPrintable(o.command));
    return 2;
}
