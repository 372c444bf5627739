#pragma once
// The part of laying a file's card onto ours that vCard and CSV share: what
// a file's card holds is gathered first (phones, e-mails and Skype names with
// the side they belong to, networks, lines for "Прочее"), then finish() lays
// it onto the card's fields. Dates, names and networks as address books
// write them. For the files of this folder only.

#include "cardfile.h"
#include "csvtext.h"
#include "vcard.h"

#include "core/cardfields.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <atomic>
#include <optional>

namespace core::cardmap {

// A picture's media type from its extension (as pictureExtension() tells it).
QString mediaTypeOf(const QString &extension);

// ---------------------------------------------------------------- dates

// "DD.MM.    ": a birthday without its year; the month and day, else nothing.
std::optional<QPair<int, int>> dayWithoutYear(const QString &stored);
// The stored form of a date; a year 0 or 1604 stands for none. `ok` tells
// whether it is a date at all.
QString dateOf(int year, int month, int day, bool *ok);

// ---------------------------------------------------------------- names

// The parts that are not blank, trimmed, joined by `sep`.
QString joined(const QStringList &parts, const QString &sep = QStringLiteral(" "));
// The network a web address belongs to ("VK", "Facebook", ...), else "Сайт".
QString networkOfAddress(const QString &address);

// ------------------------------------------------------- placing values

enum class Side { None, Work, Home };

// " (рабочий)", " (личный)" or nothing: said after a label in "Прочее".
QString sideText(Side s);
// The side a vCard's TYPE values or a label ("work", "дом", ...) tell.
Side sideOfTypes(const QStringList &types, const QString &label);

struct Entry
{
    QString value;
    Side side = Side::None;
};

// What a file's card holds before it is laid onto the card's fields.
struct Gathered
{
    CardRecord card = emptyCard();
    QList<Entry> phones, mobiles, mails, skypes;
    QList<QPair<QString, QString>> nets; // network, address
    std::optional<Accounts> exactAccounts;
    bool exactOther = false;
    QString fullName;
    QStringList extra; // lines for "Прочее"
    QStringList notes;
    QByteArray photo;
    QString photoName;
    QString bdateText; // the stored text of a date that is no date, when told
};

void setValue(CardRecord &card, const QString &column, const QString &value);
// The card the gathered values make: work and home values in their fields,
// the accounts, what finds no field in "Прочее", the photo checked.
CardData finish(Gathered &g);

// ---------------------------------------------------------------- formats

// One card of a vCard file (vcardmap.cpp).
CardData fromVCard(const vcard::Card &vc);
// Whether a CSV table's first row names at least one column this program
// knows (csvmap.cpp).
bool knownHeader(const QStringList &header);
// Every card of a CSV table whose first row is its header (csvmap.cpp);
// what cannot be taken is told in `problems`. A `cancel` set stops it
// between two rows.
QList<CardData> fromCsv(const csv::Table &t, QStringList &problems, const std::atomic_bool *cancel = nullptr);

} // namespace core::cardmap
