#include "cardcheck.h"
#include "cardfields.h"

#include "db/columns.h"
#include "db/cp1251.h"
#include "db/statements.h"

namespace core {

int CardChecks::length(const QString &table, const QString &column)
{
    const QString name = table.toUpper();
    auto it = m_lengths.find(name);
    if (it == m_lengths.end()) // the program never changes its schema while it runs
        it = m_lengths.insert(name, db::textColumnLengths(m_db, name));
    return it->value(column.toUpper());
}

QString CardChecks::cardProblem(const CardRecord &card, const QStringList &columns, const CardRecord *loaded,
                                const Labels &label)
{
    for (const QString &column : columns) {
        const QString value = card.value(column);
        if (!loaded || value != loaded->value(column))
            for (qsizetype i = 0; i < value.size(); ++i)
                if (cp1251::isUndefinedByte(value[i]))
                    return QStringLiteral("В поле «%1» в позиции %2 стоит знак, которого нет в кодировке Windows-1251 "
                                          "(его записала другая программа).\rУдалите этот знак или верните полю "
                                          "прежнее значение.")
                        .arg(label(column))
                        .arg(i + 1);
        const QString problem = db::valueProblem(label(column), value, length(QStringLiteral("BASE"), column));
        if (!problem.isEmpty())
            return problem;
    }
    return QString();
}

QString CardChecks::accountsProblem(const Accounts &accounts)
{
    for (int k = 0; k < 4; ++k)
        for (const auto &[column, value] : {std::pair{QStringLiteral("sn%1").arg(k + 1), accounts.network[k]},
                                            std::pair{QStringLiteral("adr%1").arg(k + 1), accounts.address[k]}}) {
            const QString problem =
                db::valueProblem(fieldLabel(column), value, length(QStringLiteral("ACCOUNTS"), column));
            if (!problem.isEmpty())
                return problem;
        }
    return QString();
}

QString CardChecks::refValuesProblem(const QString (&values)[3], const QString (&labels)[3])
{
    for (int i = 0; i < 3; ++i) {
        const sql::RefTable &ref = sql::refTable(sql::kRefs[i]);
        const QString problem =
            db::valueProblem(labels[i], values[i], length(QLatin1String(ref.table), QLatin1String(ref.column)));
        if (!problem.isEmpty())
            return problem;
    }
    return QString();
}

} // namespace core
