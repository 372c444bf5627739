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

// The two texts built from the column lists are built once: every save asks
// for its statement by its text.
QString updateCard()
{
    static const QString text = [] {
        QStringList sets;
        for (const QString &c : baseUpdateColumns())
            sets << c + QStringLiteral("=:") + c;
        return QStringLiteral("UPDATE Base SET ") + sets.join(QStringLiteral(", ")) +
               QStringLiteral(" WHERE pk_id =:pk_id");
    }();
    return text;
}

QString insertCard()
{
    static const QString text = [] {
        const QStringList &cols = baseInsertColumns();
        QStringList params;
        for (const QString &c : cols)
            params << QStringLiteral(":") + c;
        return QStringLiteral("INSERT INTO Base (") + cols.join(QStringLiteral(", ")) + QStringLiteral(") VALUES (") +
               params.join(QStringLiteral(", ")) + QStringLiteral(") RETURNING pk_id");
    }();
    return text;
}

QString deleteCard()
{
    return QStringLiteral("delete from base where pk_id=:pk_id");
}
QString deletePost()
{
    return QStringLiteral("delete from post where pk_id=:pk_id");
}
QString deleteDepartment()
{
    return QStringLiteral("delete from department where pk_id=:pk_id");
}
QString deleteOrganization()
{
    return QStringLiteral("delete from organization where pk_id=:pk_id");
}
QString deleteUser()
{
    return QStringLiteral("delete from pers where pk_id=:pk_id");
}
QString deleteAccounts()
{
    return QStringLiteral("delete from accounts where bs_fk=:bs_fk");
}

QString selectLogins()
{
    return QStringLiteral("SELECT Login FROM Pers");
}

QString selectUserByLogin()
{
    return QStringLiteral("SELECT pk_id, fio, pass, level FROM Pers WHERE login = ") +
           boundText(QStringLiteral("login"));
}

QString selectUsers()
{
    return QStringLiteral("SELECT * FROM pers ORDER BY fio COLLATE PXW_CYRL");
}
QString selectUser()
{
    return QStringLiteral("SELECT * FROM pers WHERE pk_id=:pk_id");
}
QString insertUser()
{
    return QStringLiteral("INSERT INTO pers (fio, login, pass, level) VALUES (:fio, :login, :pass, :level)");
}
QString updateUser()
{
    return QStringLiteral("UPDATE pers SET fio=:fio, login=:login, pass=:pass, level=:level WHERE pk_id=:pk_id");
}

QString selectAccounts()
{
    return QStringLiteral("SELECT * FROM accounts WHERE bs_fk = :bs_fk");
}
QString selectAccountsId()
{
    return QStringLiteral("SELECT pk_id FROM accounts WHERE bs_fk = :bs_fk");
}
QString insertAccounts()
{
    return QStringLiteral("INSERT INTO accounts (bs_fk, sn1, sn2, sn3, sn4, adr1, adr2, adr3, adr4) "
                          "VALUES (:bs_fk, :sn1, :sn2, :sn3, :sn4, :adr1, :adr2, :adr3, :adr4)");
}
QString updateAccounts()
{
    return QStringLiteral("UPDATE accounts SET sn1=:sn1, sn2=:sn2, sn3=:sn3, sn4=:sn4, adr1=:adr1, adr2=:adr2, "
                          "adr3=:adr3, adr4=:adr4 WHERE pk_id=:pk_id");
}

QString countTables()
{
    return QStringLiteral("SELECT COUNT(*) AS n FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = :name");
}

QString selectDistinct()
{
    return QStringLiteral("SELECT card_a, card_b FROM zentrax_distinct");
}

QString insertDistinct()
{
    return QStringLiteral("INSERT INTO zentrax_distinct (card_a, card_b) SELECT :a, :b FROM RDB$DATABASE "
                          "WHERE NOT EXISTS (SELECT 1 FROM zentrax_distinct WHERE card_a = :a2 AND card_b = :b2)");
}

QString deleteDistinct()
{
    return QStringLiteral("DELETE FROM zentrax_distinct");
}

QString countPhotoUsers()
{
    return QStringLiteral("SELECT COUNT(*) AS n FROM base WHERE fpath = :fpath");
}

QString selectPhotoPath()
{
    return QStringLiteral("SELECT fpath FROM base WHERE pk_id = :pk_id");
}
QString selectStamp()
{
    return QStringLiteral("SELECT sysinfo FROM Base WHERE pk_id = :pk_id");
}
QString updatePhotoPath()
{
    return QStringLiteral("UPDATE Base SET fpath=:fpath where pk_id=:pk_id");
}

const RefTable &refTable(Ref ref)
{
    static const RefTable tables[] = {{"organization", "org"}, {"department", "dep"}, {"post", "post"}};
    return tables[int(ref)];
}

QString selectRefAll(Ref ref)
{
    return QStringLiteral("SELECT * FROM ") + QLatin1String(refTable(ref).table);
}

QString selectRefExact(Ref ref)
{
    const RefTable &t = refTable(ref);
    return QStringLiteral("SELECT * FROM %1 WHERE UPPER(%2 COLLATE PXW_CYRL) = ")
               .arg(QLatin1String(t.table), QLatin1String(t.column)) +
           boundText(QStringLiteral("v"));
}

QString selectRefLike(Ref ref)
{
    const RefTable &t = refTable(ref);
    return QStringLiteral("SELECT * FROM %1 WHERE UPPER(%2 COLLATE PXW_CYRL) LIKE ")
               .arg(QLatin1String(t.table), QLatin1String(t.column)) +
           boundText(QStringLiteral("pattern")) +
           QStringLiteral(" ORDER BY %1 COLLATE PXW_CYRL").arg(QLatin1String(t.column));
}

QString selectRefById(Ref ref)
{
    return QStringLiteral("SELECT * FROM %1 WHERE pk_id=:pk_id").arg(QLatin1String(refTable(ref).table));
}

QString insertRef(Ref ref)
{
    const RefTable &t = refTable(ref);
    return QStringLiteral("INSERT INTO %1 (%2) VALUES (:%2)").arg(QLatin1String(t.table), QLatin1String(t.column));
}

QString updateRef(Ref ref)
{
    const RefTable &t = refTable(ref);
    return QStringLiteral("UPDATE %1 SET %2=:%2 WHERE pk_id=:pk_id")
        .arg(QLatin1String(t.table), QLatin1String(t.column));
}

QString deleteRef(Ref ref)
{
    switch (ref) {
    case Ref::Organization:
        return deleteOrganization();
    case Ref::Department:
        return deleteDepartment();
    case Ref::Post:
        break;
    }
    return deletePost();
}

QString selectCardsWithAccounts(int count)
{
    QStringList ids;
    for (int i = 1; i <= count; ++i)
        ids << QStringLiteral(":id%1").arg(i);
    return QStringLiteral("SELECT b.*, a.pk_id AS acc_id, a.sn1, a.sn2, a.sn3, a.sn4, a.adr1, a.adr2, a.adr3, a.adr4 "
                          "FROM base b LEFT JOIN accounts a ON a.pk_id = "
                          "(SELECT MIN(x.pk_id) FROM accounts x WHERE x.bs_fk = b.pk_id) WHERE b.pk_id IN (") +
           ids.join(QStringLiteral(", ")) + QStringLiteral(")");
}

QString selectFolderUsers()
{
    // Cast: a folder name longer than the stamp column is still compared.
    return QStringLiteral("SELECT sysinfo, fpath FROM base WHERE pk_id <> :pk_id AND ("
                          "sysinfo = CAST(:folder AS VARCHAR(260) CHARACTER SET WIN1251) OR "
                          "fpath STARTING WITH CAST(:back AS VARCHAR(261) CHARACTER SET WIN1251) OR "
                          "fpath STARTING WITH CAST(:slash AS VARCHAR(261) CHARACTER SET WIN1251))");
}

} // namespace sql
