#pragma once
// What a card's values must meet before they are stored: every character in
// Windows-1251, no text longer than its column, and no character of an
// undefined byte in a field that was edited (another program may have written
// one; an untouched field gives it back as it came).

#include "cardstore.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <functional>

namespace db {
class Access;
}

namespace core {

class CardChecks
{
public:
    // The columns' declared lengths are read once, when first needed.
    explicit CardChecks(db::Access &db) : m_db(db) {}

    using Labels = std::function<QString(const QString &column)>;

    // The first of `columns` whose value cannot be stored, as a message for
    // the user (`label` names the field); empty when every one can. `loaded`
    // is the card as it was read, nullptr for a new card.
    QString cardProblem(const CardRecord &card, const QStringList &columns, const CardRecord *loaded,
                        const Labels &label);
    // The same for the four networks and page addresses.
    QString accountsProblem(const Accounts &accounts);
    // The work place, department and post as they go into the reference
    // lists; `labels` names the three fields.
    QString refValuesProblem(const QString (&values)[3], const QString (&labels)[3]);

    // A text column's declared length (0 when unknown).
    int length(const QString &table, const QString &column);

private:
    db::Access &m_db;
    QHash<QString, QHash<QString, int>> m_lengths;
};

} // namespace core
