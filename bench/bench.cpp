// zentrax-bench: the list, the birthday statements and the start-up, measured
// side by side with the bare engine at several database sizes; at 10,000
// cards also the export of every card to vCard and CSV and their import.
//
//   zentrax-bench --cache DIR --out FILE SIZE...   (bench/run calls this)
//   zentrax-bench --parse N    card files of N and 2N lines read, the times compared
//
// The list and the birthdays run through the core, as the main window runs
// them; each size runs in a child process of its own, so that its peak memory
// is its own. The start-up is the program's windows: zentrax-bench-startup
// (startup.cpp), beside this executable, runs it.

#include "engine.h"

#include "report.h"

#include <firebird/Interface.h>

#include "cardfiles/cardimport.h"
#include "cardfiles/exportcards.h"
#include "core/cardstore.h"
#include "core/contactlist.h"
#include "core/duplicates.h"
#include "core/listservice.h"
#include "core/listmodel.h"
#include "core/liststatement.h"
#include "core/searchindex.h"
#include "db/ibase.h"
#include "db/schema.h"
#include "db/shared.h"
#include "demo.h"
#include "hostilecards.h"
#include "referencesql.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

double percentile(QList<double> v, double p)
{
    std::sort(v.begin(), v.end());
    if (v.isEmpty())
        return 0;
    const int i = std::min(int(v.size()) - 1, int(p * (v.size() - 1) + 0.5));
    return v[i];
}

// A line of /proc/self/status in MB: "VmHWM:" the peak resident memory, "VmRSS:" the present.
double statusMb(const char *key)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const qsizetype n = qsizetype(std::strlen(key));
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(n).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return 0;
}

double peakRssMb()
{
    return statusMb("VmHWM:");
}

// Where the memory went, step by step, on stderr beside the steps' rows.
void tellMemory(const char *after)
{
    std::fprintf(stderr, "  %-24s resident %.0f MB, peak %.0f MB\n", after, statusMb("VmRSS:"), peakRssMb());
}

struct Step
{
    QString name, kind;
    QList<double> program, engine, literal;
};

QJsonObject stepJson(const Step &s)
{
    const double p95 = percentile(s.program, 0.95);
    const double eng = percentile(s.engine, 0.5);
    const double lit = percentile(s.literal, 0.5);
    QJsonObject o;
    o[QStringLiteral("name")] = s.name;
    o[QStringLiteral("kind")] = s.kind;
    o[QStringLiteral("median_ms")] = percentile(s.program, 0.5);
    o[QStringLiteral("p95_ms")] = p95;
    o[QStringLiteral("engine_ms")] = eng;
    o[QStringLiteral("engine_literal_ms")] = lit;
    o[QStringLiteral("ratio")] = eng > 0 ? p95 / eng : 0;
    o[QStringLiteral("ratio_literal")] = lit > 0 ? p95 / lit : 0;
    return o;
}

// ------------------------------------------------------------ measuring child

// A card saved as the card window saves it, `saves` times, with the change
// log's trigger on and off by turns (in blocks of ten, so both meet the same
// machine), on a copy of the database: the cost of the log to every save.
QList<Step> saveSteps(const QString &folder, int saves)
{
    QTemporaryDir tmp;
    const QString path = tmp.filePath(QStringLiteral("dbase.fdb"));
    if (!tmp.isValid() || !QFile::copy(folder + QStringLiteral("/dbase.fdb"), path))
        return {};
    SharedDb db;
    db.IBDbase.databaseName = path;
    db.IBDbase.open();
    core::CardStore store(db.access);
    const qint64 id = 1;
    std::optional<core::CardRecord> loaded = store.load(id);
    if (!loaded)
        return {};
    auto trigger = [&](bool on) {
        db::IBTransaction t(&db.IBDbase);
        db::IBQuery q(&db.IBDbase, &t);
        q.setSql(QStringLiteral("ALTER TRIGGER base_changed ") +
                 (on ? QStringLiteral("ACTIVE") : QStringLiteral("INACTIVE")));
        q.execute();
        t.commit();
    };
    Step with{QStringLiteral("card save, change log on"), QStringLiteral("save"), {}, {}, {}};
    Step without{QStringLiteral("card save, change log off"), QStringLiteral("save"), {}, {}, {}};
    for (int block = 0; block < 2 * saves / 10; ++block) {
        const bool on = block % 2 == 0;
        trigger(on);
        for (int i = 0; i < 10; ++i) {
            core::CardRecord card = *loaded;
            card.values[QStringLiteral("work")] = QStringLiteral("Работа %1").arg(block * 10 + i);
            QElapsedTimer t;
            t.start();
            store.update(id, card, 1, nullptr, *loaded, std::nullopt);
            (on ? with : without).program << double(t.nsecsElapsed()) / 1e6;
            loaded = store.load(id);
        }
    }
    return {with, without};
}

// The list as the main window fills it: the first screen of rows at once,
// the rest in slices as its event loop fetches them.

int measure(const QString &folder, int reps)
{
    SharedDb db;
    db.IBDbase.databaseName = folder + QStringLiteral("/dbase.fdb");
    db.IBDbase.open();
    // (no transaction held: the program holds none)
    // The list as the main window drives it; the statement answers "any
    // position" until the index is measured below.
    // As the program's start-up does: the change log trimmed of what no copy needs.
    schema::trimChangeLog(db.IBDbase);
    core::ListService list(db);
    list.setIndexUsed(false);
    list.setLive(true);
    ListModel &model = list.model();
    bench::Engine engine(folder + QStringLiteral("/dbase.fdb"));

    QList<Step> steps;
    double indexMb = 0;

    // Fills the model with the list of `f`; returns the milliseconds to the
    // whole list, `first` those to its first rows (in the model when the
    // search returns). Then, untimed, what the window's event loop runs after
    // a list is shown (the index's look at the database's transactions).
    auto fillList = [&](const ListFilter &f, double *first) {
        QElapsedTimer t;
        t.start();
        list.search(f, ListSort::Name);
        if (first)
            *first = double(t.nsecsElapsed()) / 1e6;
        list.finish();
        const double ms = double(t.nsecsElapsed()) / 1e6;
        QCoreApplication::processEvents();
        return ms;
    };

    // `after`: a list shown untimed before each run (the clear button empties a narrowed search).
    auto listStep = [&](const QString &name, const QString &kind, const ListFilter &f,
                        const ListFilter *after = nullptr) {
        Step s{name, kind, {}, {}, {}};
        // The statement the program runs, with its parameters in place, for the engine alone.
        QStringList names, params;
        const QString positional = db::toPositional(listSql(f, ListSort::Name), &names);
        db::IBQuery probe(&db.IBDbase, &db.IBTrans);
        probe.setSql(listSql(f, ListSort::Name));
        bindList(probe, f);
        for (const QString &n : names)
            params << probe.paramText(n);
        QList<double> first;
        for (int i = 0; i < reps; ++i) {
            if (after)
                fillList(*after, nullptr);
            double firstMs = 0;
            s.program << fillList(f, &firstMs);
            first << firstMs;
            s.engine << engine.run(positional, params, false);
            s.literal << engine.run(quotedPatternListSql(f, ListSort::Name), {}, true);
        }
        std::fprintf(stderr, "  %s %8d rows\n", name.leftJustified(24).toUtf8().constData(), model.cardCount());
        steps << s;
        // What the user sees first: the list's first screen of rows.
        steps << Step{name + QStringLiteral(" (first rows)"), kind, first, s.engine, s.literal};
    };

    const ListFilter all;
    listStep(QStringLiteral("full list (start-up)"), QStringLiteral("full"), all);
    for (const QString &prefix :
         {QStringLiteral("И"), QStringLiteral("Ив"), QStringLiteral("Ива"), QStringLiteral("Иван")})
        listStep(QStringLiteral("surname ") + prefix, QStringLiteral("narrow"),
                 ListFilter{prefix, {}, {}, {}, {}, false});
    listStep(QStringLiteral("phone +7 912"), QStringLiteral("narrow"),
             ListFilter{{}, {}, {}, {}, QStringLiteral("+7 912"), false});
    const ListFilter narrowed{QStringLiteral("Ив"), {}, {}, {}, {}, false};
    listStep(QStringLiteral("clear button"), QStringLiteral("full"), all, &narrowed);

    // Birthdays of May: the count (beside the month box) and the list.
    {
        constexpr int kMonth = 5;
        Step count{QStringLiteral("birthday count"), QStringLiteral("birthday"), {}, {}, {}};
        Step shown{QStringLiteral("birthday list"), QStringLiteral("birthday"), {}, {}, {}};
        for (int i = 0; i < reps; ++i) {
            QElapsedTimer t;
            t.start();
            core::countBirthdays(db.access, kMonth);
            count.program << double(t.nsecsElapsed()) / 1e6;
            count.engine << engine.run(birthdayCountSql(kMonth), {}, false);
            count.literal << engine.run(likeOnlyBirthdayCountSql(kMonth), {}, true);
            t.restart();
            list.showBirthdays(kMonth);
            shown.program << double(t.nsecsElapsed()) / 1e6;
            shown.engine << engine.run(birthdayListSql(kMonth), {}, false);
            shown.literal << engine.run(likeOnlyBirthdayListSql(kMonth), {}, true);
        }
        std::fprintf(stderr, "  %-24s %8d rows\n", "birthday list", model.cardCount());
        steps << count << shown;
    }

    // "Any position": each box, a rare text (a handful of cards) and a common
    // one (tens of thousands); by the statement first, then by the index.
    auto contains = [](int box, const QString &text) {
        ListFilter f;
        (box == 0 ? f.name : box == 1 ? f.work : box == 3 ? f.mail : f.tel) = text;
        f.contains = true;
        return f;
    };
    auto anyPositionSteps = [&](const QString &suffix) {
        listStep(QStringLiteral("work contains техно") + suffix, QStringLiteral("any"),
                 contains(1, QStringLiteral("техно")));
        listStep(QStringLiteral("name contains лекс") + suffix, QStringLiteral("any"),
                 contains(0, QStringLiteral("лекс")));
        listStep(QStringLiteral("e-mail contains petrova") + suffix, QStringLiteral("any"),
                 contains(3, QStringLiteral("petrova")));
        listStep(QStringLiteral("phone contains 45-67") + suffix, QStringLiteral("any"),
                 contains(4, QStringLiteral("45-67")));
        listStep(QStringLiteral("rare: e-mail contains .123@corp1") + suffix, QStringLiteral("any"),
                 contains(3, QStringLiteral(".123@corp1")));
        listStep(QStringLiteral("common: name contains ова") + suffix, QStringLiteral("any"),
                 contains(0, QStringLiteral("ова")));
    };
    tellMemory("memory: lists");
    const double rssBefore = peakRssMb();
    anyPositionSteps(QStringLiteral(" [statement]"));
    tellMemory("memory: statement");

    // The index read in place, on the thread that searches, as the program
    // once read it when the box was first ticked: the whole read is one
    // stall of the window. Made and let go before the list's own, so that
    // the two never take memory at once.
    {
        Step build{QStringLiteral("any position: index read"), QStringLiteral("index"), {}, {}, {}};
        ListFilter any;
        any.contains = true;
        for (int i = 0; i < std::max(1, reps / 5); ++i) {
            QElapsedTimer t;
            t.start();
            core::SearchIndex index(db);
            if (!index.find(any, ListSort::Name)) {
                std::fprintf(stderr, "the index cannot serve this database\n");
                return 1;
            }
            build.program << double(t.nsecsElapsed()) / 1e6;
        }
        steps << build;
    }
    tellMemory("memory: index in place");

    // The longest gap between two turns of this thread's event loop (a timer
    // every millisecond) until `done` holds, processing events meanwhile.
    auto longestStall = [](const std::function<bool()> &done, double *wholeMs = nullptr) {
        QElapsedTimer whole, gap;
        whole.start();
        gap.start();
        double longest = 0;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            longest = std::max(longest, double(gap.nsecsElapsed()) / 1e6);
            gap.restart();
        });
        tick.start(1);
        while (!done()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
            if (whole.elapsed() > 300000) {
                std::fprintf(stderr, "the list did not settle within five minutes\n");
                std::exit(1);
            }
        }
        longest = std::max(longest, double(gap.nsecsElapsed()) / 1e6);
        if (wholeMs)
            *wholeMs = double(whole.nsecsElapsed()) / 1e6;
        return longest;
    };

    // The index read beside the window's thread, as the list reads it at the
    // first "any position" search: the statement answers meanwhile, then the
    // list is searched again from the index; the hand-over included.
    list.setIndexUsed(true);
    const ListFilter lexs = contains(0, QStringLiteral("лекс"));
    {
        Step stall{
            QStringLiteral("any position: longest stall while the index is read"), QStringLiteral("index"), {}, {}, {}};
        Step ready{QStringLiteral("any position: index ready beside the window"), QStringLiteral("index"), {}, {}, {}};
        for (int i = 0; i < std::max(1, reps / 5); ++i) {
            list.forgetIndex();
            double whole = 0;
            list.search(lexs, ListSort::Name);
            stall.program << longestStall([&] { return list.indexReady() && !list.filling(); }, &whole);
            ready.program << whole;
        }
        if (!list.indexReady()) {
            std::fprintf(stderr, "the index cannot serve this database\n");
            return 1;
        }
        indexMb = double(list.indexBytes()) / (1024.0 * 1024.0);
        std::fprintf(stderr, "  %-24s %.0f MB\n", "index", indexMb);
        steps << stall << ready;
    }
    tellMemory("memory: index beside");

    anyPositionSteps(QString());

    // Another copy commits changes of 1,000 cards: the list notices them by
    // itself and takes them into the index (placed by the learned order, or
    // by a read anew beside the window), then the next keystroke.
    {
        Step stall{QStringLiteral("any position: longest stall while catching up with 1,000 changes by another "
                                  "connection"),
                   QStringLiteral("index"),
                   {},
                   {},
                   {}};
        Step after{QStringLiteral("any position: keystroke after the catch-up"), QStringLiteral("index"), {}, {}, {}};
        SharedDb other;
        db::IBQuery otherSql(&other.IBDbase, &other.IBTrans);
        other.IBDbase.databaseName = db.IBDbase.databaseName;
        other.IBDbase.open();
        // A mark added to the departments of `count` cards by the other
        // connection (the list's rows stay as they are), or taken away again.
        auto markDepartments = [&](qint64 first, int count, bool on) {
            otherSql.setSql(QStringLiteral("UPDATE base SET dep = %1 WHERE pk_id BETWEEN :a AND :a + %2")
                                .arg(on ? QStringLiteral("COALESCE(dep, '') || '#'")
                                        : QStringLiteral("NULLIF(LEFT(dep, CHAR_LENGTH(dep) - 1), '')"))
                                .arg(count - 1));
            otherSql.setParam(QStringLiteral("a"), first);
            otherSql.execute();
            other.IBTrans.commit();
        };
        for (int i = 0; i < std::max(1, reps / 5); ++i) {
            list.search(lexs, ListSort::Name);
            list.finish();
            bool noticed = false;
            const auto c = QObject::connect(&list, &core::ListService::othersChanged, [&] { noticed = true; });
            // Taken away again untimed afterwards.
            auto mark = [&](bool on) { markDepartments(1 + i * 1000, 1000, on); };
            mark(true);
            stall.program << longestStall([&] { return noticed && list.indexReady() && !list.filling(); });
            noticed = false;
            QElapsedTimer t;
            t.start();
            list.search(lexs, ListSort::Name);
            list.finish();
            after.program << double(t.nsecsElapsed()) / 1e6;
            mark(false);
            longestStall([&] { return noticed && list.indexReady() && !list.filling(); });
            QObject::disconnect(c);
        }
        steps << stall << after;

        // A colleague's import of 20,000 cards' changes: more than the
        // window's thread takes in at once. The list stays as it stood, then
        // shows them (read beside the window); the whole wait timed too.
        Step bigStall{QStringLiteral("any position: longest stall while catching up with 20,000 changes by another "
                                     "connection"),
                      QStringLiteral("index"),
                      {},
                      {},
                      {}};
        Step bigShown{QStringLiteral("any position: 20,000 changes by another connection shown"),
                      QStringLiteral("index"),
                      {},
                      {},
                      {}};
        for (int i = 0; i < std::max(1, reps / 5); ++i) {
            list.search(lexs, ListSort::Name);
            list.finish();
            int followed = 0; // the list stays as it stood, then shows them
            const auto c = QObject::connect(&list, &core::ListService::othersChanged, [&] { ++followed; });
            auto mark = [&](bool on) { markDepartments(1 + i * 20000, 20000, on); };
            auto settled = [&] { return followed >= 2 && list.indexReady() && !list.filling(); };
            mark(true);
            double whole = 0;
            bigStall.program << longestStall(settled, &whole);
            bigShown.program << whole;
            followed = 0;
            mark(false);
            longestStall(settled);
            QObject::disconnect(c);
        }
        steps << bigStall << bigShown;

        // A card another connection changes, from its commit to its row in
        // the model, in a list narrowed to a surname's first letters.
        Step live{QStringLiteral("live: a change by another connection shown"), QStringLiteral("live"), {}, {}, {}};
        const ListFilter ivan{QStringLiteral("Иван"), {}, {}, {}, {}, false};
        for (int i = 0; i < std::max(3, reps / 2); ++i) {
            list.search(ivan, ListSort::Name);
            list.finish();
            const QString id = model.id(0);
            const QString marker = QStringLiteral("Правка %1.").arg(i);
            otherSql.setSql(QStringLiteral("UPDATE base SET work = :w WHERE pk_id = :id"));
            otherSql.setParam(QStringLiteral("w"), marker);
            otherSql.setParam(QStringLiteral("id"), id.toLongLong());
            otherSql.execute();
            other.IBTrans.commit();
            QElapsedTimer t;
            t.start();
            auto shown = [&] {
                for (int r = 0; r < model.cardCount(); ++r)
                    if (model.id(r) == id)
                        return model.cell(r, 2).startsWith(marker); // work, then the department
                return false;
            };
            while (!shown() && t.elapsed() < 10000)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
            live.program << double(t.nsecsElapsed()) / 1e6;
        }
        steps << live;
    }
    tellMemory("memory: catch-up, live");

    // Every group of probable duplicates across the database, as the
    // duplicate search finds them; each card the demo set planted as the
    // person of the card before it must be in that card's group.
    {
        Step dup{QStringLiteral("duplicates: all groups"), QStringLiteral("duplicates"), {}, {}, {}};
        QList<core::DuplicateGroup> groups;
        for (int i = 0; i < std::max(1, reps / 5); ++i) {
            QElapsedTimer t;
            t.start();
            groups = core::storedDuplicates(db.access);
            dup.program << double(t.nsecsElapsed()) / 1e6;
        }
        QList<qint64> ids;
        {
            db::IBQuery q(&db.IBDbase, &db.IBRead);
            q.setSql(QStringLiteral("SELECT pk_id FROM base ORDER BY pk_id"));
            q.open();
            for (; !q.eof(); q.next())
                ids << q.asInt(0);
            q.close();
        }
        QHash<qint64, int> groupOf;
        for (int g = 0; g < groups.size(); ++g)
            for (qint64 id : groups[g].ids)
                groupOf.insert(id, g);
        int planted = 0, found = 0;
        for (qsizetype i = 1; i < ids.size(); ++i)
            if (demo::isPlantedDuplicate(quint64(i))) {
                ++planted;
                found += groupOf.contains(ids[i]) && groupOf.value(ids[i], -1) == groupOf.value(ids[i - 1], -2);
            }
        std::fprintf(stderr, "  %-24s %8d groups, %d of %d planted pairs found\n", "duplicates", int(groups.size()),
                     found, planted);
        if (found != planted) {
            std::fprintf(stderr, "planted duplicates were not found\n");
            return 1;
        }
        steps << dup;
    }
    tellMemory("memory: duplicates");

    const double rss = peakRssMb();
    steps << saveSteps(folder, reps >= 15 ? 100 : 40);

    QJsonArray arr;
    for (const Step &s : steps)
        arr.append(stepJson(s));
    QJsonObject out;
    out[QStringLiteral("rss_mb")] = rss;
    out[QStringLiteral("rss_before_index_mb")] = rssBefore;
    out[QStringLiteral("index_mb")] = indexMb;
    out[QStringLiteral("database_mb")] =
        double(QFileInfo(folder + QStringLiteral("/dbase.fdb")).size()) / (1024.0 * 1024.0);
    out[QStringLiteral("steps")] = arr;
    std::printf("%s\n", QJsonDocument(out).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
    return 0;
}

// Cards out and in: every card of the database exported as vCard 4.0 and as
// CSV, then each file imported into an empty database, as the main window
// and zentrax-cards do it (short batches of cards sharing a commit). The
// demo cards hold planted duplicates, which an import skips unless told to
// add them: they are added, so that every exported card is stored, and the
// new database is counted to show it. Run once: an import changes its
// database.
int transfer(const QString &folder)
{
    QTemporaryDir tmp;
    SharedDb src;
    src.IBDbase.databaseName = folder + QStringLiteral("/dbase.fdb");
    src.IBDbase.open();
    QList<Step> steps;
    QElapsedTimer t;
    const QList<qint64> ids = core::listIds(src.access, ListFilter{}, ListSort::Name);
    const struct
    {
        const char *name, *file;
        core::CardFormat format;
    } kinds[] = {{"vCard 4.0", "cards.vcf", core::CardFormat::VCard4}, {"CSV", "cards.csv", core::CardFormat::Csv}};
    for (const auto &k : kinds) {
        const QString file = tmp.filePath(QLatin1String(k.file));
        t.start();
        const core::ExportReport out =
            core::exportCards(src.access, tmp.filePath(QStringLiteral("files")), ids, k.format, file);
        steps << Step{QStringLiteral("export %1 (%2 cards)").arg(QLatin1String(k.name)).arg(out.written),
                      QStringLiteral("transfer"),
                      {double(t.nsecsElapsed()) / 1e6},
                      {},
                      {}};
        if (!out.complete()) {
            std::fprintf(stderr, "export: %s\n", qPrintable(out.text(file)));
            return 1;
        }
    }
    for (const auto &k : kinds) {
        const QString empty = tmp.filePath(QStringLiteral("empty-%1.fdb").arg(QLatin1String(k.file)));
        schema::createDatabase(empty);
        SharedDb dst;
        dst.IBDbase.databaseName = empty;
        dst.IBDbase.open();
        QDir().mkpath(tmp.filePath(QStringLiteral("temp")));
        core::CardImport in(dst.access, tmp.filePath(QStringLiteral("files")), tmp.filePath(QStringLiteral("temp")));
        t.start();
        if (!in.read(tmp.filePath(QLatin1String(k.file)))) {
            std::fprintf(stderr, "import: %s\n", qPrintable(in.error()));
            return 1;
        }
        steps << Step{QStringLiteral("import %1: read, check").arg(QLatin1String(k.name)),
                      QStringLiteral("transfer"),
                      {double(t.nsecsElapsed()) / 1e6},
                      {},
                      {}};
        t.start();
        const core::ImportReport report = in.store(true, 1);
        steps << Step{QStringLiteral("import %1: store (%2)").arg(QLatin1String(k.name)).arg(report.stored),
                      QStringLiteral("transfer"),
                      {double(t.nsecsElapsed()) / 1e6},
                      {},
                      {}};
        if (!report.complete() || report.stored != ids.size() || report.skipped != 0) {
            std::fprintf(stderr, "import: %d of %d cards stored, %d skipped as duplicates\n%s\n", report.stored,
                         int(ids.size()), report.skipped, qPrintable(report.text(5)));
            return 1;
        }
        db::Rows count = dst.access.read(QStringLiteral("SELECT COUNT(*) FROM base"));
        const qint64 held = count.next() ? count.number(0) : -1;
        if (held != ids.size()) {
            std::fprintf(stderr, "import: the new database holds %lld cards, not %d\n", (long long)held,
                         int(ids.size()));
            return 1;
        }
        std::fprintf(stderr, "  %-24s %d cards stored (%d of them look like duplicates)\n",
                     qPrintable(QStringLiteral("import %1").arg(QLatin1String(k.name))), report.stored,
                     in.duplicates());
    }
    QJsonArray arr;
    for (const Step &s : steps)
        arr.append(stepJson(s));
    QJsonObject out;
    out[QStringLiteral("rss_mb")] = peakRssMb();
    out[QStringLiteral("steps")] = arr;
    std::printf("%s\n", QJsonDocument(out).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
    return 0;
}

// ------------------------------------------------------------------- parent

QString ensureDatabase(const QString &cache, const QString &makedb, qint64 size)
{
    // A database made with another schema, or other demo cards, is made again.
    const QString schemaHash = QString::fromLatin1(
        QCryptographicHash::hash(
            (schema::statements().join(QLatin1Char('\n')) + QString::number(demo::kVersion)).toUtf8(),
            QCryptographicHash::Sha1)
            .toHex()
            .left(12));
    const QString folder = QDir(cache).filePath(QString::number(size) + QLatin1Char('-') + schemaHash);
    const QString path = folder + QStringLiteral("/dbase.fdb");
    if (QFileInfo::exists(path))
        return folder;
    QDir().mkpath(folder);
    std::fprintf(stderr, "making %lld demo cards in %s\n", (long long)size, qPrintable(path));
    const int rc =
        QProcess::execute(makedb, {QStringLiteral("--demo"), QString::number(size), path + QStringLiteral(".part")});
    if (rc != 0 || !QFile::rename(path + QStringLiteral(".part"), path)) {
        std::fprintf(stderr, "cannot make %s\n", qPrintable(path));
        std::exit(1);
    }
    return folder;
}

QList<double> startupTimes(const QString &folder, int reps)
{
    const QString child = QCoreApplication::applicationDirPath() + QStringLiteral("/zentrax-bench-startup");
    QList<double> login, list;
    for (int i = 0; i < reps; ++i) {
        QProcess p;
        QElapsedTimer t;
        t.start();
        p.start(child, {folder});
        double tLogin = -1, tList = -1;
        QByteArray buf;
        while (p.state() != QProcess::NotRunning || p.bytesAvailable()) {
            p.waitForReadyRead(50);
            buf += p.readAllStandardOutput();
            if (tLogin < 0 && buf.contains("login\n"))
                tLogin = double(t.nsecsElapsed()) / 1e6;
            if (tList < 0 && buf.contains("list ")) {
                tList = double(t.nsecsElapsed()) / 1e6;
                break;
            }
            if (t.elapsed() > 600000)
                break;
        }
        p.waitForFinished(60000);
        if (tList < 0)
            std::fprintf(stderr, "%s did not reach the filled list: %s\n", qPrintable(child),
                         qPrintable(p.errorString()));
        login << tLogin;
        list << tList - tLogin;
    }
    return login + QList<double>{-1} + list;
}

// The database size whose cards the benchmark exports and imports.
constexpr qint64 kTransferSize = 10000;

int parent(const QString &cache, const QString &out, const QStringList &sizeArgs)
{
    const QString makedb = QStringLiteral(ZENTRAX_PROGRAM_DIR "/zentrax-makedb");
    QList<qint64> sizes;
    for (const QString &a : sizeArgs)
        sizes << a.toLongLong();
    if (sizes.isEmpty())
        sizes = {10000, 100000};
    QJsonObject bySize;
    for (qint64 size : sizes) {
        const QString folder = ensureDatabase(cache, makedb, size);
        const int reps = size >= 1000000 ? 5 : 15;
        std::fprintf(stderr, "measuring %lld cards (%d runs a step)\n", (long long)size, reps);
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--measure"), folder, QStringLiteral("--reps"), QString::number(reps)});
        child.waitForFinished(-1);
        QJsonObject result = QJsonDocument::fromJson(child.readAllStandardOutput().trimmed()).object();
        if (result.isEmpty()) {
            std::fprintf(stderr, "the measurement of %lld cards failed\n", (long long)size);
            return 1;
        }
        const QList<double> st = startupTimes(folder, size >= 1000000 ? 3 : 7);
        const qsizetype split = st.indexOf(-1);
        QJsonArray steps = result.value(QStringLiteral("steps")).toArray();
        for (const auto &[name, samples] : {std::pair{QStringLiteral("start to login window"), st.mid(0, split)},
                                            std::pair{QStringLiteral("login to filled list"), st.mid(split + 1)}}) {
            Step s{name, QStringLiteral("startup"), samples, {}, {}};
            steps.append(stepJson(s));
        }
        // The cards' export and import, at the size an office's address book has.
        if (size == kTransferSize) {
            QProcess child;
            child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--transfer"), folder});
            child.waitForFinished(-1);
            const QJsonObject moved = QJsonDocument::fromJson(child.readAllStandardOutput().trimmed()).object();
            if (moved.isEmpty()) {
                std::fprintf(stderr, "the export and import of %lld cards failed\n", (long long)size);
                return 1;
            }
            for (const auto &v : moved.value(QStringLiteral("steps")).toArray())
                steps.append(v);
            result[QStringLiteral("transfer_rss_mb")] = moved.value(QStringLiteral("rss_mb"));
        }
        result[QStringLiteral("steps")] = steps;
        bySize[QString::number(size)] = result;
    }
    QJsonObject all;
    all[QStringLiteral("sizes")] = bySize;
    QDir().mkpath(QFileInfo(out).absolutePath());
    QFile f(out);
    if (f.open(QIODevice::WriteOnly))
        f.write(QJsonDocument(all).toJson());

    std::printf("%-9s %-36s %-8s %9s %9s %9s %9s %7s %7s\n", "cards", "step", "kind", "median", "p95", "engine",
                "literal", "ratio", "r.lit");
    for (qint64 size : sizes) {
        const QJsonObject r = bySize.value(QString::number(size)).toObject();
        for (const auto &v : r.value(QStringLiteral("steps")).toArray()) {
            const QJsonObject s = v.toObject();
            std::printf(
                "%-9lld %s %-8s %9.1f %9.1f %9.1f %9.1f %7.2f %7.2f\n", (long long)size,
                s.value(QStringLiteral("name")).toString().leftJustified(36).toUtf8().constData(),
                qPrintable(s.value(QStringLiteral("kind")).toString()), s.value(QStringLiteral("median_ms")).toDouble(),
                s.value(QStringLiteral("p95_ms")).toDouble(), s.value(QStringLiteral("engine_ms")).toDouble(),
                s.value(QStringLiteral("engine_literal_ms")).toDouble(), s.value(QStringLiteral("ratio")).toDouble(),
                s.value(QStringLiteral("ratio_literal")).toDouble());
        }
        std::printf("%-9lld peak resident memory %.0f MB (%.0f MB before the index was read; the index %.0f MB), "
                    "database %.0f MB\n",
                    (long long)size, r.value(QStringLiteral("rss_mb")).toDouble(),
                    r.value(QStringLiteral("rss_before_index_mb")).toDouble(),
                    r.value(QStringLiteral("index_mb")).toDouble(), r.value(QStringLiteral("database_mb")).toDouble());
        if (r.contains(QStringLiteral("transfer_rss_mb")))
            std::printf("%-9lld peak resident memory of the export and import %.0f MB\n", (long long)size,
                        r.value(QStringLiteral("transfer_rss_mb")).toDouble());
    }
    std::printf("(milliseconds; ratio = p95 / engine on the statement run, r.lit = p95 / engine on the "
                "original statement with its patterns written in, the literal one)\nwritten to %s\n",
                qPrintable(out));
    return 0;
}

// ------------------------------------------------------------- card parsing

// Files of one shape at size `n`: the file at 2n is twice as long and
// should take twice the time to read, not four times.
struct Shape
{
    const char *name;
    QByteArray (*file)(int n);
};

// The fastest of three reads of `bytes`, in milliseconds.
double readMs(const QByteArray &bytes)
{
    double best = -1;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer t;
        t.start();
        const core::CardFile f = core::readCards(bytes);
        const double ms = double(t.nsecsElapsed()) / 1e6;
        if (f.cards.size() != 1)
            std::fprintf(stderr, "  (read %d cards, not 1)\n", int(f.cards.size()));
        best = best < 0 ? ms : std::min(best, ms);
    }
    return best;
}

// Each shape read at a size and at twice that size: the ratio of the times
// is about 2 when reading takes time in proportion to the file.
int parsing(int n)
{
    const Shape shapes[] = {{"quoted-printable soft breaks after a long parameter", hostile::softBreaks},
                            {"a card with many e-mails", hostile::manyMails},
                            {"a card with many web addresses", hostile::manyUrls},
                            {"CSV: many stray bytes on one line", hostile::csvStrayBytes}};
    std::printf("%-52s %10s %10s %10s %10s %6s\n", "shape", "bytes", "ms", "bytes x2", "ms x2", "ratio");
    for (const Shape &s : shapes) {
        const QByteArray once = s.file(n), twice = s.file(2 * n);
        const double a = readMs(once), b = readMs(twice);
        std::printf("%-52s %10lld %10.1f %10lld %10.1f %6.2f\n", s.name, qlonglong(once.size()), a,
                    qlonglong(twice.size()), b, a > 0 ? b / a : 0.0);
        std::fflush(stdout);
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("FIREBIRD", QByteArray(ZENTRAX_PROGRAM_DIR "/firebird"));
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Times the program's list, searches, saves and start-up."));
    parser.addPositionalArgument(QStringLiteral("cards"),
                                 QStringLiteral("database sizes to measure (10000 and 100000 by default)"),
                                 QStringLiteral("[cards...]"));
    const QCommandLineOption cache(QStringLiteral("cache"), QStringLiteral("folder of the databases made"),
                                   QStringLiteral("folder"), QStringLiteral("bench/cache"));
    const QCommandLineOption out(QStringLiteral("out"), QStringLiteral("file of the results"), QStringLiteral("file"),
                                 QStringLiteral("bench/results/latest.json"));
    // The measuring children, one per size.
    const QCommandLineOption measureIn(QStringLiteral("measure"), QStringLiteral("measure this database folder"),
                                       QStringLiteral("folder"));
    const QCommandLineOption reps(QStringLiteral("reps"), QStringLiteral("runs a step"), QStringLiteral("n"),
                                  QStringLiteral("15"));
    const QCommandLineOption transferIn(QStringLiteral("transfer"),
                                        QStringLiteral("time the export and import in this folder"),
                                        QStringLiteral("folder"));
    const QCommandLineOption parse(QStringLiteral("parse"),
                                   QStringLiteral("time the reading of card files of n and 2n lines"),
                                   QStringLiteral("n"));
    // The bare engine's process (see engine.h).
    const QCommandLineOption engineFor(
        QStringLiteral("engine"), QStringLiteral("serve the bare engine on this database"), QStringLiteral("file"));
    parser.addOptions({cache, out, measureIn, reps, transferIn, parse, engineFor});
    parser.addHelpOption();
    parser.process(app);
    if (parser.isSet(engineFor))
        return bench::serveEngine(parser.value(engineFor));
    if (parser.isSet(parse))
        return parsing(parser.value(parse).toInt());
    if (parser.isSet(transferIn))
        return bench::runReported([&] { return transfer(parser.value(transferIn)); });
    if (parser.isSet(measureIn))
        return bench::runReported([&] { return measure(parser.value(measureIn), parser.value(reps).toInt()); });
    return parent(parser.value(cache), parser.value(out), parser.positionalArguments());
}
