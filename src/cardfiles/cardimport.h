#pragma once
// Cards from a vCard or CSV file into the database: first read and checked
// (how many, which look like cards already stored, which the database cannot
// hold), then stored one by one, each card whole (its row, accounts, photo
// and new reference values) or not at all, until the file ends or the user
// cancels.

#include "cardfile.h"

#include "core/cardcheck.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>

namespace db {
class Access;
}

namespace core {

class CardEditor;

// The longest "Примечания" or "Прочее" a file's card may bring: 1 MB of
// text (as many characters, a byte each as stored). Longer, it is no note
// a person wrote but a file pasted in, and the card window would crawl over it.
inline constexpr qsizetype kLongestMemo = qsizetype(1) << 20;
// The largest photo a file's card may bring, in bytes.
inline constexpr qsizetype kLargestPhoto = qsizetype(20) << 20;

// Told how far the work is (`done` of `total`); a false answer cancels it.
using Progress = std::function<bool(int done, int total)>;

struct ImportReport
{
    int total = 0; // cards in the file
    int stored = 0;
    int skipped = 0;     // looked like stored cards and were skipped, as asked
    QStringList refused; // one line per card not stored, with the reason
    QStringList notes;   // cards stored with something left out, parts of the file that are no card
    bool cancelled = false;
    int notReached = 0; // cards after the cancel
    QString stopped;    // why the import stopped before the end (the database went away)

    // Every card stored or skipped as asked, none refused, nothing stopped.
    bool complete() const { return refused.isEmpty() && !cancelled && stopped.isEmpty(); }
    // The report for the user, in Russian; `limit` lines of each list at most (0: all).
    QString text(int limit = 0) const;
};

class CardImport
{
public:
    // Photos go into `photoFolder` as the card window stores them; the
    // decoded pictures pass through `scratchFolder` on their way.
    CardImport(db::Access &db, const QString &photoFolder, const QString &scratchFolder);

    // Reads the file and checks each card against the database. False when
    // the file cannot be read as cards (error() says why) or the check was cancelled.
    bool read(const QString &path, const Progress &progress = {});
    // The same for a file's bytes already in memory.
    bool readBytes(const QByteArray &bytes, const Progress &progress = {});

    // The first half of read(): the file read into cards, without the
    // database, so that it may run on a thread of its own. Why it could not
    // be read is in the file's `error`; a `cancel` set from another thread
    // stops it (the file comes back `cancelled`).
    static CardFile load(const QString &path, const std::atomic_bool *cancel = nullptr);
    // The second half: the cards `load` read checked against the database.
    // False when the file could not be read (error() says why), was cancelled,
    // or the check was cancelled.
    bool check(CardFile file, const Progress &progress = {});
    QString error() const { return m_error; }
    QString kind() const { return m_file.kind; }
    // The encoding the file was read in when not UTF-8, else empty.
    QString encoding() const { return m_file.encoding; }

    int total() const { return int(m_file.cards.size()); }
    // Cards that look like one already stored, or like one before them in the
    // file, by the rule of probable duplicates (core/duplicates.h).
    int duplicates() const { return int(m_duplicates.size()); }
    // Cards the database cannot hold as they are, or with nothing in them.
    int refusals() const { return int(m_problems.size()); }

    // The question before anything is stored: what the file holds; for a
    // file not in UTF-8, the encoding taken and the first card's name, so
    // that a wrong guess shows before it is stored.
    QString summary(const QString &fileName) const;

    // Stores the cards as `userId` (cards that look stored only when
    // `addDuplicates`), each whole or not at all; the progress may cancel
    // between two cards. The cards share commits, a short batch of them at
    // a time: a card the database refuses is undone alone, the batch goes
    // on, and a cancel commits the cards before it.
    ImportReport store(bool addDuplicates, qint64 userId, const Progress &progress = {});

private:
    QString checkCard(const CardData &card);
    // Adds the card's work place, department and post to their books when
    // neither they nor the import (`held`: cards not committed yet) have
    // them; `added` receives the keys of the values it added.
    void addRefValues(const CardRecord &card, const QSet<QString> &held, QStringList &added);
    // Stores the card whole as a unit of the running batch; its photo, written
    // out through `pictures`, waits staged for the batch's commit. A DbError
    // names what failed.
    void insertCard(CardEditor &cards, qint64 userId, const CardData &card, const QString &pictures);
    QString refusal(const CardData &card, const QString &reason) const;

    db::Access &m_db;
    QString m_photoFolder, m_scratchFolder;
    CardChecks m_checks;
    CardFile m_file;
    QString m_error;
    QSet<int> m_duplicates;
    QHash<int, QString> m_problems;
    QSet<QString> m_knownRefs; // reference values known to be in their books
};

} // namespace core
