#include "davsettings.h"

#include "db/access.h"
#include "db/statements.h"

#include <QUrl>
#include <algorithm>

namespace davdb {

namespace {

const QString kExample = QStringLiteral("https://zentrax.office.local:8443/");

} // namespace

bool DavSettings::tableExists(const QString &name)
{
    db::Rows rows = m_db.read(sql::countTables(), {{QStringLiteral("name"), name}});
    return rows.next() && rows.number(QStringLiteral("n")) > 0;
}

bool DavSettings::kept()
{
    return tableExists(QStringLiteral("CARDDAV_SETTINGS"));
}

bool DavSettings::passwordsKept()
{
    return tableExists(QStringLiteral("CARDDAV_PASSWORDS"));
}

QString DavSettings::address()
{
    if (!kept())
        return {};
    db::Rows rows = m_db.read(QStringLiteral("SELECT val FROM carddav_settings WHERE name = 'address'"));
    return rows.next() ? rows.text(QStringLiteral("val")).trimmed() : QString();
}

QString DavSettings::addressProblem(const QString &text)
{
    const QString t = text.trimmed();
    if (t.size() > kLongestAddress)
        return QStringLiteral("Адрес длиннее %1 знаков.").arg(kLongestAddress);
    if (!t.startsWith(QLatin1String("https://"), Qt::CaseInsensitive) &&
        !t.startsWith(QLatin1String("http://"), Qt::CaseInsensitive))
        return QStringLiteral("Адрес должен начинаться с https:// или http://, например %1").arg(kExample);
    if (std::any_of(t.begin(), t.end(), [](QChar c) { return c.isSpace(); }))
        return QStringLiteral("В адресе не может быть пробелов.");
    const QUrl url(t, QUrl::StrictMode);
    if (!url.isValid())
        return QStringLiteral("Адрес записан с ошибкой; пример верного: %1").arg(kExample);
    if (url.host().isEmpty())
        return QStringLiteral("В адресе нет имени сервера, например %1").arg(kExample);
    // Everybody sees the address: a login or password in it would be everybody's.
    if (!url.userInfo().isEmpty())
        return QStringLiteral("В адресе не должно быть логина или пароля: каждый входит со своими.");
    return {};
}

void DavSettings::setAddress(const QString &text)
{
    const QString t = text.trimmed();
    if (!t.isEmpty())
        if (const QString problem = addressProblem(t); !problem.isEmpty())
            throw db::DbError(problem);
    if (!kept())
        throw db::DbError(QStringLiteral("Адрес сервера хранится в базе данных после её обновления: его предлагает "
                                         "администратору вход в программу, или команда zentrax-makedb --upgrade."));
    m_db.unit([&] {
        if (t.isEmpty())
            m_db.write(QStringLiteral("DELETE FROM carddav_settings WHERE name = 'address'"));
        else
            m_db.write(QStringLiteral("UPDATE OR INSERT INTO carddav_settings (name, val) VALUES ('address', :val) "
                                      "MATCHING (name)"),
                       {{QStringLiteral("val"), t}});
    });
}

} // namespace davdb
