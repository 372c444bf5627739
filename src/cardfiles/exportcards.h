#pragma once
// Stored cards out to one vCard or CSV file, with their photos, read in
// slices so that a large card index never sits in memory whole. The file
// appears only once it is complete: a failed or cancelled export leaves an
// older file of that name as it was.

#include "cardfile.h"
#include "cardimport.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace db {
class Access;
}

namespace core {

struct ExportReport
{
    int total = 0;         // cards asked for
    int written = 0;       // cards in the file
    int gone = 0;          // deleted by a colleague meanwhile
    QStringList notes;     // cards written without their photo, and why
    int photosLeftOut = 0; // cards with a photo written to CSV, which holds none
    bool cancelled = false;
    QString error; // why no file was written

    bool complete() const { return error.isEmpty() && !cancelled && written + gone == total; }
    // The report for the user, in Russian; `limit` note lines at most (0: all).
    QString text(const QString &path, int limit = 0) const;
};

// The cards of `ids` (the list's, in its order) written to `path` in `format`.
ExportReport exportCards(db::Access &db, const QString &photoFolder, const QList<qint64> &ids, CardFormat format,
                         const QString &path, const Progress &progress = {});

} // namespace core
