#pragma once
// Cards of one person joined into one, so that nothing any of them holds is
// lost: the first card's values stay, its empty fields are filled from the
// others in their order, and another card's different value is kept in
// "Прочее" as "Поле: значение"; the accounts fill the four slots (those
// that do not fit go to "Прочее"); the photo is the first card's, else the
// first other one's; "Прочее" and "Примечания" are joined.

#include "cardediting.h"

#include <QHash>
#include <QList>

namespace core {

//
// With `choice` (a column, or "fpath" for the photo, to the place of the card
// whose value the user picked: 0 the first, 1 the first of `others`, ...)
// each column chosen takes that card's value and nothing else of it.
CardBaseline mergeInto(const CardBaseline &first, const QList<CardBaseline> &others,
                       const QHash<QString, int> &choice = {});

// Whether the column is one of the ten habit flags ("1" or "0").
bool isFlagColumn(const QString &column);
// Whether `text` of the column counts as empty (an empty date, an unset flag).
bool isEmptyValue(const QString &column, const QString &text);

} // namespace core
