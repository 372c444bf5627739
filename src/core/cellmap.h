#pragma once
// What the printed card form holds, cell by cell: the texts the export writes
// into the template's first sheet, worked out from the stored card alone.

#include "cardstore.h"

#include <QList>
#include <QString>
#include <optional>

namespace core {

struct CellText
{
    QString cell; // "D1", "A18", ...
    QString text;
    bool operator==(const CellText &) const = default;
};

// The caption a card shows for a network not chosen in account `k` (0..3): "1 ..." to "4 ...".
QString accountPlaceholder(int k);

// The habits and interests line: the words of the set flags in their fixed
// order, each with ", ", then `other` unchanged; trailing spaces (spaces
// only) removed, then one trailing comma.
QString habitsLine(const CardRecord &card);

// The accounts part of the form: network names in column A, addresses in
// column C, one row per account that has a network name, from row 18 on with
// no gaps. A name that is still the placeholder writes only the address.
QList<CellText> accountCells(const Accounts &accounts);

// Every cell the export writes, in the order of writing: D1 to H10 always
// (also empty), A13 when the habits line is not empty, the accounts when the
// card has an accounts row, A24 always.
QList<CellText> cardCells(const CardRecord &card, const std::optional<Accounts> &accounts);

} // namespace core
