#pragma once
// Cards in files that other address books read and write: vCard 4.0 and 3.0
// (2.1 read as well) and CSV. A card's every field goes where a peer reads
// it (N, FN, ORG, TITLE, BDAY, TEL, EMAIL, IMPP, URL and X-SOCIALPROFILE,
// NOTE, PHOTO); what no standard property holds (passport, visa, habits,
// "other", the exact accounts row) goes into X-ZENTRAX- properties, so that
// this program reads its own file back whole. What a foreign file holds and
// the card has no field for (an address, a fax, a third e-mail) is kept in
// the card's "Прочее" as "label: value" lines: nothing read is dropped.

#include "core/cardstore.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>
#include <optional>

namespace core {

enum class CardFormat { VCard4, VCard3, Csv };

// One card as a file holds it, in the stored forms (dates "DD.MM.YYYY",
// "DD.MM.    " without a year, "  .  .    " for none; flags "1"/"0"; line
// breaks CR LF).
struct CardData
{
    CardRecord card; // a value for every column of cardColumns()
    std::optional<Accounts> accounts;
    QByteArray photo;  // the picture file's bytes
    QString photoName; // the name it is stored under
    int number = 0;    // its place in the file, from 1
    int line = 0;      // the line of the file where it begins
    QStringList notes; // what the file held that was not taken (a photo by link)

    // "Фамилия Имя Отчество", else what else names it (work place, e-mail).
    QString name() const;
    // Whether the card holds anything at all.
    bool isEmpty() const;
};

// A picture's kind from its first bytes: the file extension (jpg, png, gif,
// bmp, webp, tif), empty when it is none of these.
QString pictureExtension(const QByteArray &bytes);

// ------------------------------------------------------------------ writing

// One card as a vCard of that version (VCard4 or VCard3).
QByteArray vcardOf(const CardData &card, CardFormat format);
// The start of a CSV file: the byte-order mark and the header row.
QByteArray csvHeader();
// A card as a CSV row, without its photo (a spreadsheet's cell cannot hold
// one); a photo column of an older file is read all the same.
QByteArray csvRowOf(const CardData &card);

// ------------------------------------------------------------------ reading

struct CardFile
{
    QList<CardData> cards;
    // Parts of the file that are no card, in Russian with their lines.
    QStringList problems;
    // Why nothing could be read (empty when the file was read).
    QString error;
    QString kind; // "vCard", "CSV"
    // The encoding the file was read in when it was not UTF-8 ("Windows-1251",
    // "UTF-16"): told before storing, so that a wrong guess is seen in time.
    QString encoding;
    bool cancelled = false; // the reading was stopped: no cards
};

// Every card of a vCard or CSV file's bytes, the kind told by the content.
// It needs no database and may run on a thread of its own: `cancel`, when
// given, may be set from another thread to stop it between two lines or
// cards (the file comes back `cancelled`, without cards).
CardFile readCards(const QByteArray &bytes, const std::atomic_bool *cancel = nullptr);

// A date as a person writes it (15.03.1980, 1980-03-15, 19800315, 3/15/1980,
// --03-15, 15.03) in the stored form; a text that is no date stays as it is.
QString storedDate(const QString &text);

// Lines of a report, one per line; beyond `limit` (0: none) the rest are
// counted ("… и ещё 12.").
QString reportLines(const QStringList &lines, int limit);

} // namespace core
