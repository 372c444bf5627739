#include "cardmerge.h"

#include "cardfields.h"

namespace core {

bool isFlagColumn(const QString &column)
{
    static const QStringList flags = {QStringLiteral("smok"), QStringLiteral("alc"),   QStringLiteral("fish"),
                                      QStringLiteral("hunt"), QStringLiteral("paint"), QStringLiteral("art"),
                                      QStringLiteral("mus"),  QStringLiteral("trav"),  QStringLiteral("cook"),
                                      QStringLiteral("sport")};
    return flags.contains(column);
}

bool isEmptyValue(const QString &column, const QString &text)
{
    if (text.trimmed().isEmpty() || text == emptyDate())
        return true;
    // A flag "0" is no value: a habit ticked on any card is kept.
    return isFlagColumn(column) && text != QLatin1String("1");
}

namespace {

// A text joined to another on a line of its own, unless it is there already.
void addLine(QString &to, const QString &line)
{
    const QString t = line.trimmed();
    if (t.isEmpty() || to.contains(t))
        return;
    if (!to.isEmpty() && !to.endsWith(QLatin1String("\r\n")))
        to += QStringLiteral("\r\n");
    to += t;
}

bool emptySlot(const Accounts &a, int k)
{
    const QString n = a.network[k].trimmed();
    return a.address[k].trimmed().isEmpty() && (n.isEmpty() || n == QStringLiteral("%1 ...").arg(k + 1));
}

} // namespace

CardBaseline mergeInto(const CardBaseline &first, const QList<CardBaseline> &others, const QHash<QString, int> &choice)
{
    CardBaseline out = first;
    QString &other = out.card.values[QStringLiteral("other")];
    QString &rem = out.card.values[QStringLiteral("rem")];
    for (const CardBaseline &o : others) {
        for (const QString &c : cardColumns()) {
            if (c == QLatin1String("other") || c == QLatin1String("rem") || choice.contains(c))
                continue;
            const QString theirs = o.card.value(c);
            QString &mine = out.card.values[c];
            if (isEmptyValue(c, theirs) || theirs == mine)
                continue;
            if (isEmptyValue(c, mine))
                mine = theirs;
            else
                addLine(other, fieldLabel(c) + QStringLiteral(": ") + theirs);
        }
        addLine(other, o.card.value(QStringLiteral("other")));
        addLine(rem, o.card.value(QStringLiteral("rem")));
        if (out.card.fpath.isEmpty())
            out.card.fpath = o.card.fpath;
    }
    for (auto it = choice.begin(); it != choice.end(); ++it) {
        const CardBaseline &from = it.value() <= 0 ? first : others.value(it.value() - 1, first);
        if (it.key() == QLatin1String("fpath"))
            out.card.fpath = from.card.fpath;
        else if (it.key() != QLatin1String("other") && it.key() != QLatin1String("rem"))
            out.card.values[it.key()] = from.card.value(it.key());
    }
    // The accounts of every card, each once, into the four slots in order.
    QList<QPair<QString, QString>> accounts;
    for (const CardBaseline *b : [&] {
             QList<const CardBaseline *> all{&first};
             for (const CardBaseline &o : others)
                 all << &o;
             return all;
         }()) {
        if (!b->accounts)
            continue;
        for (int k = 0; k < 4; ++k)
            if (!emptySlot(*b->accounts, k)) {
                const QPair<QString, QString> a{b->accounts->network[k].trimmed(), b->accounts->address[k].trimmed()};
                if (!accounts.contains(a))
                    accounts << a;
            }
    }
    if (!accounts.isEmpty() || first.accounts) {
        Accounts joined = shownAccounts(first.accounts);
        int k = 0;
        for (const auto &[network, address] : accounts) {
            if (k < 4) {
                joined.network[k] = network;
                joined.address[k] = address;
                ++k;
            } else {
                addLine(other, QStringLiteral("Аккаунт: ") + network + QLatin1Char(' ') + address);
            }
        }
        for (; k < 4; ++k) {
            joined.network[k] = QStringLiteral("%1 ...").arg(k + 1);
            joined.address[k].clear();
        }
        out.accounts = joined;
    }
    return out;
}

} // namespace core
