#pragma once
// Loading and saving a person card as one piece of work, for every writer of
// cards (the card window, the import): the card's row, its accounts and its
// photo are read together as the baseline an edit starts from, and a save is
// one unit that writes the fields, the accounts, the photo's path and the new
// reference values together or nothing. A colleague's change met by the save
// is merged field by field against the baseline; the photo file is put in
// its place only once the unit has committed.

#include "cardstore.h"
#include "photos.h"

#include <QStringList>
#include <optional>
#include <vector>

namespace db {
class Access;
}

namespace core {

// The card as an edit started from it.
struct CardBaseline
{
    CardRecord card;                  // its fields, fpath and stamp
    std::optional<Accounts> accounts; // its accounts row, when it has one
};

// The accounts a card shows: its row, or for a card without one the
// placeholders "1 ..." to "4 ..." with empty addresses.
Accounts shownAccounts(const std::optional<Accounts> &row);

// What a save asks to store.
struct CardChange
{
    CardRecord card;                  // the fields (fpath and stamp are not taken from here)
    std::optional<Accounts> accounts; // written only when the accounts were edited
    QString photo;                    // a picture file that becomes the card's photo; empty: the photo stays
};

// The names under which a clash of the accounts or of the photo is told,
// beside the columns of the fields.
inline const QString kAccountsField = QStringLiteral("accounts");
inline const QString kPhotoField = QStringLiteral("fpath");

// A save merged field by field with what is stored now: a field only this
// edit changed is written, a field only a colleague changed is kept as
// stored, and a field both changed to different values is a clash.
struct CardMerge
{
    CardRecord written;               // every field as the update writes it
    std::optional<Accounts> accounts; // the accounts to write, when edited
    QStringList clashes;              // fields both changed, in the card's column order
};
CardMerge mergeCard(const CardChange &mine, const CardBaseline &baseline, const CardBaseline &stored);

// After a clash the user saw the colleague's version and kept his own: the
// baseline of each clashing field becomes the stored value, so that the next
// save writes the user's value there; every other field keeps its baseline,
// so that nothing else of the colleague's is reverted.
CardBaseline acceptClashes(const CardChange &mine, const CardBaseline &baseline, const CardBaseline &stored);

struct SaveResult
{
    enum class Outcome {
        Stored, // written; `stored` is the card as stored now
        Gone,   // the card no longer exists; nothing written
        Clash,  // a colleague changed what this save changes; nothing written
    };
    Outcome outcome = Outcome::Stored;
    qint64 id = 0;
    CardBaseline stored; // Stored: the new baseline; Clash: the colleague's version
    QStringList clashes; // Clash: the fields both changed; empty while a colleague holds the card
    bool orgAdded = false;
    QString photoProblem; // Stored, but the photo could not be put in place (its path was set back)
};

class CardEditor
{
public:
    // Photos go into `photoFolder`; on their way they pass through `scratchFolder`.
    CardEditor(db::Access &db, const QString &photoFolder, const QString &scratchFolder = QString());

    // The card's fields, accounts and photo path, read together; nothing when
    // the card does not exist.
    std::optional<CardBaseline> load(qint64 id);

    // Stores a new card with `userId` as creator and last editor, its
    // accounts and its photo when given, in one unit. Inside a batch's unit
    // the photo waits for the batch (placeHeld/discardHeld).
    SaveResult insert(const CardChange &change, qint64 userId, const QString &stamp, const CopyOptions &copy = {});
    // Stores an edited card merged with what is stored now (see CardMerge);
    // with `addRefValues` the written work place, department and post join
    // their books when these lack them, in the same unit.
    SaveResult update(qint64 id, const CardChange &change, const CardBaseline &baseline, qint64 userId,
                      bool addRefValues, const CopyOptions &copy = {});

    // Stores `merged` as the card `id` and deletes the other cards of
    // `loaded` (the group's cards as read, `id` among them) in one unit, but
    // only while every card is still as read: a colleague's change (Clash,
    // with his version) or deletion (Gone) stores nothing. The photo files
    // of the cards deleted go once no card names them.
    SaveResult mergeGroup(qint64 id, const CardBaseline &merged, const QList<QPair<qint64, CardBaseline>> &loaded,
                          qint64 userId);

    // Empties the card's photo path and deletes the file, but only while the
    // card still names `seen`, the photo the user saw.
    PhotoStore::Deleted deletePhoto(qint64 id, const QString &seen);

    // Photos of units kept in a batch that has not committed yet.
    int held() const { return int(m_held.size()); }
    // The batch committed: its photos go in their place. Returns the problems.
    QStringList placeHeld();
    // The batch was lost: its photos go.
    void discardHeld();

private:
    std::optional<CardBaseline> read(qint64 id, qint64 *accountsRow = nullptr);
    // The chosen photo copied whole before the unit starts; empty when none was chosen.
    StagedPhoto stageChosen(PhotoStore &photos, const CardChange &change, const CopyOptions &copy);
    // Puts the unit's photo in place, or holds it for the batch; a failure
    // after the commit sets the stored path back to `before`.
    QString finishPhoto(StagedPhoto &photo, bool committed, qint64 id, const QString &before);

    db::Access &m_db;
    QString m_photoFolder, m_scratchFolder;
    std::vector<StagedPhoto> m_held;
};

} // namespace core
