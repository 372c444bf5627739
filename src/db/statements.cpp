#include "statements.h"

namespace sql {

const QStringList &baseUpdateColumns()
{
    static const QStringList cols = {
        QStringLiteral("fam"),   QStringLiteral("name1"),  QStringLiteral("name2"),  QStringLiteral("work"),
        QStringLiteral("dep"),   QStringLiteral("post"),   QStringLiteral("bdate"),  QStringLiteral("wtel"),
        QStringLiteral("htel"),  QStringLiteral("wmob"),   QStringLiteral("hmob"),   QStringLiteral("wmail"),
        QStringLiteral("hmail"), QStringLiteral("wskype"), QStringLiteral("hskype"), QStringLiteral("ps"),
        QStringLiteral("pnum"),  QStringLiteral("pdate1"), QStringLiteral("pdate2"), QStringLiteral("vs"),
        QStringLiteral("vnum"),  QStringLiteral("vdate1"), QStringLiteral("vdate2"), QStringLiteral("smok"),
        QStringLiteral("alc"),   QStringLiteral("fish"),   QStringLiteral("hunt"),   QStringLiteral("paint"),
        QStringLiteral("art"),   QStringLiteral("mus"),    QStringLiteral("trav"),   QStringLiteral("cook"),
        QStringLiteral("sport"), QStringLiteral("other"),  QStringLiteral("rem"),    QStringLiteral("ldt"),
    };
    return cols;
}

const QStringList &baseInsertColumns()
{
    static const QStringList cols = [] {
        QStringList c = baseUpdateColumns();
        c.removeLast(); // ldt comes after sysinfo and fdt
        c << QStringLiteral("sysinfo") << QStringLiteral("fdt") << QStringLiteral("ldt") << QStringLiteral("fpath");
        return c;
    }();
    return cols;
}

QString selectCard()
{
    return QStringLiteral("SELECT  * FROM Base WHERE pk_id = :pk_id");
}

QString updateCard()
{
    QStringList sets;
    for (const QString &c : baseUpdateColumns())
        sets << c + QStringLiteral("=:") + c;
    return QStringLiteral("UPDATE Base SET ") + sets.join(QStringLiteral(", ")) + QStringLiteral(" WHERE pk_id =:pk_id");
}

QString insertCard()
{
    const QStringList &cols = baseInsertColumns();
    QStringList params;
    for (const QString &c : cols)
        params << QStringLiteral(":") + c;
    return QStringLiteral("INSERT INTO Base (") + cols.join(QStringLiteral(", ")) + QStringLiteral(") VALUES (") +
           params.join(QStringLiteral(", ")) + QStringLiteral(") RETURNING pk_id");
}

QString deleteCard() { return QStringLiteral("delete from base where pk_id=:pk_id"); }
QString deletePost() { return QStringLiteral("delete from post where pk_id=:pk_id"); }
QString deleteDepartment() { return QStringLiteral("delete from department where pk_id=:pk_id"); }
QString deleteOrganization() { return QStringLiteral("delete from organization where pk_id=:pk_id"); }
QString deleteUser() { return QStringLiteral("delete from pers where pk_id=:pk_id"); }
QString deleteAccounts() { return QStringLiteral("delete from accounts where bs_fk=:bs_fk"); }

QString selectLogins() { return QStringLiteral("SELECT Login FROM Pers"); }

QString selectUserByLogin()
{
    return QStringLiteral("SELECT pk_id, fio, pass, level FROM Pers WHERE login = ") + boundText(QStringLiteral("login"));
}

} // namespace sql
