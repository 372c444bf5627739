// zentrax-carddav: the office's cards for phones and mail programs over
// CardDAV, served from the database the desktop copies share, and the
// device passwords that let them in.

#include "carddav/dbbook.h"
#include "carddav/davserver.h"
#include "carddav/httpglue.h"
#include "core/dbpath.h"
#include "db/engineerrors.h"
#include "db/ibase.h"
#include "db/schema.h"
#include "db/shared.h"
#include "terminal.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <arpa/inet.h>
#include <pthread.h>

namespace {

constexpr int kUsage = 2;
constexpr int kFailed = 1;

void say(const QString &text)
{
    std::fprintf(stderr, "zentrax-carddav: %s\n", text.toUtf8().constData());
}

void printHelp()
{
    std::printf(
        "%s", QStringLiteral(
                  "Использование:\n"
                  "  zentrax-carddav [--database ПУТЬ] [--settings ФАЙЛ] --listen АДРЕС:ПОРТ --cert ФАЙЛ --key ФАЙЛ\n"
                  "  zentrax-carddav [--database ПУТЬ] --listen 127.0.0.1:ПОРТ --plain-http\n"
                  "  zentrax-carddav [--database ПУТЬ] passwords add --user ЛОГИН --label НАЗВАНИЕ\n"
                  "  zentrax-carddav [--database ПУТЬ] passwords list --user ЛОГИН\n"
                  "  zentrax-carddav [--database ПУТЬ] passwords revoke --user ЛОГИН --label НАЗВАНИЕ\n\n"
                  "Сервер CardDAV отдаёт карточки базы телефонам и почтовым программам и принимает их\n"
                  "изменения, пока не получит SIGTERM или SIGINT. Соединения — по TLS (сертификат и ключ в\n"
                  "формате PEM); без TLS (--plain-http) — только на адресе этой машины (127.0.0.1, ::1),\n"
                  "для прокси с TLS перед сервером.\n\n"
                  "Телефоны входят с логином пользователя программы и паролем устройства (passwords add),\n"
                  "а не с паролем рабочего места. passwords add спрашивает пароль рабочего места (или берёт\n"
                  "его из ZENTRAX_PASSWORD) и выводит новый пароль последней строкой; он показывается один раз.\n\n"
                  "База данных — та же, что открывает программа: dbase.fdb или path.txt рядом с ней, либо\n"
                  "--database (файл или сервер Firebird: хост:/путь). Параметры можно записать в файл\n"
                  "(--settings): строки вида listen=0.0.0.0:8443, cert=..., key=..., database=..., plain-http=true.\n")
                  .toUtf8()
                  .constData());
}

int usageError(const QString &what)
{
    say(what + QStringLiteral(" Справка: zentrax-carddav --help"));
    return kUsage;
}

// The options, from the command line over those of the settings file.
struct Options
{
    QString database, listen, cert, key, user, label;
    bool plainHttp = false;
    QStringList words; // what is not an option: passwords add|list|revoke
};

std::optional<Options> parse(const QStringList &args, QString *problem)
{
    Options o;
    QString settings;
    bool plainSet = false;
    for (int i = 1; i < args.size(); ++i) {
        const QString &a = args[i];
        auto value = [&](QString &into) {
            if (i + 1 >= args.size()) {
                *problem = QStringLiteral("после %1 нужно значение.").arg(a);
                return false;
            }
            into = args[++i];
            return true;
        };
        bool ok = true;
        if (a == QLatin1String("--database"))
            ok = value(o.database);
        else if (a == QLatin1String("--listen"))
            ok = value(o.listen);
        else if (a == QLatin1String("--cert"))
            ok = value(o.cert);
        else if (a == QLatin1String("--key"))
            ok = value(o.key);
        else if (a == QLatin1String("--user"))
            ok = value(o.user);
        else if (a == QLatin1String("--label"))
            ok = value(o.label);
        else if (a == QLatin1String("--settings"))
            ok = value(settings);
        else if (a == QLatin1String("--plain-http"))
            o.plainHttp = plainSet = true;
        else if (a.startsWith(QLatin1String("--"))) {
            *problem = QStringLiteral("неизвестный параметр %1.").arg(a);
            return std::nullopt;
        } else
            o.words << a;
        if (!ok)
            return std::nullopt;
    }
    if (!settings.isEmpty()) {
        if (!QFileInfo(settings).isReadable()) {
            *problem = QStringLiteral("файл параметров %1 не читается.").arg(settings);
            return std::nullopt;
        }
        const QSettings file(settings, QSettings::IniFormat);
        auto take = [&](QString &into, const char *name) {
            if (into.isEmpty())
                into = file.value(QLatin1String(name)).toString();
        };
        take(o.database, "database");
        take(o.listen, "listen");
        take(o.cert, "cert");
        take(o.key, "key");
        if (!plainSet)
            o.plainHttp = file.value(QStringLiteral("plain-http"), false).toBool();
    }
    return o;
}

// The database as the desktop program finds it, opened; the reason when not.
bool openDatabase(SharedDb &db, Options &o, QString *problem)
{
    const QString folder = QCoreApplication::applicationDirPath();
    if (o.database.isEmpty()) {
        o.database = core::chooseDatabase(folder).path;
        if (o.database.isEmpty()) {
            *problem = QStringLiteral("в папке программы %1 нет ни dbase.fdb, ни path.txt; укажите базу данных: "
                                      "--database ПУТЬ.")
                           .arg(folder);
            return false;
        }
    }
    db::prepareEngine(folder);
    if (!db::isServerPath(o.database)) {
        if (!QFileInfo(o.database).isFile()) {
            *problem = QStringLiteral("файл базы данных %1 не найден.").arg(o.database);
            return false;
        }
        const QString lock = db::lockFolderProblem(db::lockFolder());
        if (!lock.isEmpty()) {
            *problem = lock;
            return false;
        }
    }
    try {
        db.IBDbase.databaseName = o.database;
        db.IBDbase.open();
        if (!schema::pendingUpgrade(db.IBDbase).isEmpty()) {
            *problem = QStringLiteral("база данных %1 создана более ранней версией программы; обновите её: "
                                      "zentrax-makedb --upgrade %1 (или войдите в программу администратором).")
                           .arg(o.database);
            return false;
        }
    } catch (const db::DbError &e) {
        *problem = QStringLiteral("не удалось открыть базу данных %1: %2").arg(o.database, e.text());
        return false;
    }
    return true;
}

int passwords(SharedDb &db, const Options &o)
{
    const QString verb = o.words.value(1);
    if (o.user.isEmpty())
        return usageError(QStringLiteral("не указан пользователь: --user ЛОГИН."));
    davdb::DevicePasswords store(db.access);
    try {
        if (verb == QLatin1String("add")) {
            if (o.label.trimmed().isEmpty())
                return usageError(QStringLiteral("не указано название устройства: --label НАЗВАНИЕ."));
            const std::optional<QString> password = terminal::askPassword();
            if (!password) {
                say(terminal::noPasswordText());
                return kFailed;
            }
            const QString made = store.add(o.user, *password, o.label.trimmed());
            std::printf("Пароль устройства «%s» пользователя %s (показывается один раз):\n%s\n",
                        o.label.trimmed().toUtf8().constData(), o.user.toUtf8().constData(), made.toUtf8().constData());
            return 0;
        }
        if (verb == QLatin1String("list")) {
            for (const davdb::DevicePasswords::Entry &e : store.list(o.user))
                std::printf("%s\tсоздан %s\t%s\n", e.label.toUtf8().constData(),
                            e.made.toString(QStringLiteral("dd.MM.yyyy HH:mm")).toUtf8().constData(),
                            e.used.isNull() ? "не использовался"
                                            : QStringLiteral("использован %1")
                                                  .arg(e.used.toString(QStringLiteral("dd.MM.yyyy HH:mm")))
                                                  .toUtf8()
                                                  .constData());
            return 0;
        }
        if (verb == QLatin1String("revoke")) {
            if (!store.revoke(o.user, o.label.trimmed())) {
                say(QStringLiteral("у пользователя %1 нет пароля устройства «%2».").arg(o.user, o.label));
                return kFailed;
            }
            std::printf("Пароль устройства «%s» отозван.\n", o.label.trimmed().toUtf8().constData());
            return 0;
        }
    } catch (const db::DbError &e) {
        say(e.text());
        return kFailed;
    }
    return usageError(QStringLiteral("passwords: нужно add, list или revoke."));
}

// 127.0.0.0/8 or ::1: this machine only.
bool isLoopback(const QString &address)
{
    const QByteArray text = address.toLatin1();
    unsigned char a[16] = {};
    if (inet_pton(AF_INET, text.constData(), a) == 1)
        return a[0] == 127;
    static const unsigned char one[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    return inet_pton(AF_INET6, text.constData(), a) == 1 && std::memcmp(a, one, 16) == 0;
}

sigset_t endingSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
}

int serve(SharedDb &db, const Options &o)
{
    const qsizetype colon = o.listen.lastIndexOf(QLatin1Char(':'));
    bool portOk = false;
    const uint port = colon > 0 ? o.listen.mid(colon + 1).toUInt(&portOk) : 0;
    QString address = colon > 0 ? o.listen.left(colon) : QString();
    if (address.startsWith(QLatin1Char('[')) && address.endsWith(QLatin1Char(']')))
        address = address.mid(1, address.size() - 2);
    if (!portOk || port > 65535 || address.isEmpty())
        return usageError(QStringLiteral("--listen АДРЕС:ПОРТ, например 0.0.0.0:8443 или [::1]:8080."));
    dav::HttpOptions http;
    http.address = address.toLatin1();
    http.port = quint16(port);
    if (o.plainHttp) {
        // A password in clear goes nowhere but to this machine (a TLS proxy in front).
        if (!isLoopback(address))
            return usageError(QStringLiteral("без TLS сервер слушает только адрес этой машины (127.0.0.1 или ::1)."));
    } else {
        if (o.cert.isEmpty() || o.key.isEmpty())
            return usageError(QStringLiteral("нужны сертификат и ключ: --cert ФАЙЛ --key ФАЙЛ (или --plain-http на "
                                             "127.0.0.1 за прокси с TLS)."));
        QFile cert(o.cert), key(o.key);
        if (!cert.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly)) {
            say(QStringLiteral("не читается %1.").arg(cert.isOpen() ? o.key : o.cert));
            return kFailed;
        }
        http.certificatePem = cert.readAll();
        http.keyPem = key.readAll();
    }
    // The embedded engine, once loaded, takes SIGINT and SIGTERM on this
    // thread for itself: they are blocked here again, for sigwait below.
    const sigset_t ending = endingSignals();
    pthread_sigmask(SIG_BLOCK, &ending, nullptr);
    davdb::DbBook book(db, QCoreApplication::applicationDirPath() + QStringLiteral("/files"));
    dav::Server server(book);
    dav::HttpServer listener(server, [](const QString &line) {
        std::fprintf(stderr, "%s %s\n", QDateTime::currentDateTime().toString(Qt::ISODate).toUtf8().constData(),
                     line.toUtf8().constData());
    });
    QString problem;
    if (!listener.start(http, &problem)) {
        say(problem);
        return kFailed;
    }
    say(QStringLiteral("карточки базы %1 доступны по адресу %2://%3:%4/ (остановка: SIGTERM или Ctrl+C)")
            .arg(o.database, o.plainHttp ? QStringLiteral("http") : QStringLiteral("https"), o.listen.left(colon))
            .arg(listener.port()));
    int signal = 0;
    sigwait(&ending, &signal);
    say(QStringLiteral("остановка."));
    listener.stop();
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    db::setWindowAdvice(false);
    const QStringList args = QCoreApplication::arguments();
    if (args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"))) {
        printHelp();
        return 0;
    }
    QString problem;
    std::optional<Options> o = parse(args, &problem);
    if (!o)
        return usageError(problem);
    const bool managing = o->words.value(0) == QLatin1String("passwords");
    if (!managing && !o->words.isEmpty())
        return usageError(QStringLiteral("неизвестная команда «%1».").arg(o->words.first()));
    if (!managing && o->listen.isEmpty())
        return usageError(QStringLiteral("не указан адрес: --listen АДРЕС:ПОРТ."));
    // The signals that end the server wait for the main thread alone: every
    // thread made from here on (the engine's, the HTTP library's) inherits
    // the mask and never takes them.
    if (!managing) {
        const sigset_t ending = endingSignals();
        pthread_sigmask(SIG_BLOCK, &ending, nullptr);
    }
    SharedDb db;
    if (!openDatabase(db, *o, &problem)) {
        say(problem);
        return kFailed;
    }
    return managing ? passwords(db, *o) : serve(db, *o);
}
