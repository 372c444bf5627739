#pragma once
// The fields of a card as the user knows them: each stored column with its
// label (the card window's fields, the CSV file's header, the checks'
// messages), and the stored forms of an empty card: dates "  .  .    ",
// flags "0".

#include "cardstore.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace core {

// The columns a card stores, with the names the user knows them by (the card
// window's fields, the CSV file's header).
struct CardField
{
    QString column;
    QString label;
};
const QList<CardField> &cardFields();
// A column's label; the accounts' columns (sn1..sn4, adr1..adr4) and the
// photo's file name (fpath) have theirs too. An unknown column is its own.
QString fieldLabel(const QString &column);
// The label of an account's network (`network`) or address, k from 0.
QString accountLabel(bool network, int k);
// The label of the photo's file name.
const QString &photoNameLabel();

// A card with every column empty in its stored form.
CardRecord emptyCard();
const QString &emptyDate();
// The columns that hold a date ("DD.MM.YYYY") and those that hold a flag ("1"/"0").
bool isDateColumn(const QString &column);
const QStringList &flagColumns();

} // namespace core
