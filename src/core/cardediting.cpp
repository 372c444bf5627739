#include "cardediting.h"

#include "refvalues.h"

#include "db/access.h"

#include <QElapsedTimer>

namespace core {

Accounts shownAccounts(const std::optional<Accounts> &row)
{
    if (row)
        return *row;
    Accounts a;
    for (int k = 0; k < 4; ++k)
        a.network[k] = QStringLiteral("%1 ...").arg(k + 1);
    return a;
}

namespace {

// One field of a three-way merge: this edit's value where only it changed
// the field, the stored one where only a colleague did; a clash where both
// changed it to different values.
QString mergeField(const QString &mine, const QString &base, const QString &stored, bool *clash)
{
    if (mine == base || mine == stored)
        return stored;
    if (stored != base)
        *clash = true;
    return mine;
}

} // namespace

CardMerge mergeCard(const CardChange &mine, const CardBaseline &baseline, const CardBaseline &stored)
{
    CardMerge m;
    m.written = stored.card;
    for (const QString &c : cardColumns()) {
        bool clash = false;
        m.written.values[c] = mergeField(mine.card.value(c), baseline.card.value(c), stored.card.value(c), &clash);
        if (clash)
            m.clashes << c;
    }
    if (mine.accounts) {
        const Accounts base = shownAccounts(baseline.accounts);
        const Accounts now = shownAccounts(stored.accounts);
        Accounts out;
        bool clash = false;
        for (int k = 0; k < 4; ++k) {
            out.network[k] = mergeField(mine.accounts->network[k], base.network[k], now.network[k], &clash);
            out.address[k] = mergeField(mine.accounts->address[k], base.address[k], now.address[k], &clash);
        }
        m.accounts = out;
        if (clash)
            m.clashes << kAccountsField;
    }
    // A new photo over one a colleague stored or removed meanwhile.
    if (!mine.photo.isEmpty() && stored.card.fpath != baseline.card.fpath)
        m.clashes << kPhotoField;
    return m;
}

CardBaseline acceptClashes(const CardChange &mine, const CardBaseline &baseline, const CardBaseline &stored)
{
    CardBaseline out = baseline;
    auto take = [](const QString &m, const QString &base, const QString &now, QString &into) {
        bool clash = false;
        mergeField(m, base, now, &clash);
        if (clash)
            into = now;
    };
    for (const QString &c : cardColumns())
        take(mine.card.value(c), baseline.card.value(c), stored.card.value(c), out.card.values[c]);
    if (mine.accounts) {
        const Accounts base = shownAccounts(baseline.accounts);
        const Accounts now = shownAccounts(stored.accounts);
        Accounts seen = base;
        for (int k = 0; k < 4; ++k) {
            take(mine.accounts->network[k], base.network[k], now.network[k], seen.network[k]);
            take(mine.accounts->address[k], base.address[k], now.address[k], seen.address[k]);
        }
        if (baseline.accounts || !(seen == base))
            out.accounts = seen;
    }
    if (!mine.photo.isEmpty())
        out.card.fpath = stored.card.fpath;
    return out;
}

CardEditor::CardEditor(db::Access &db, const QString &photoFolder, const QString &scratchFolder)
    : m_db(db), m_photoFolder(photoFolder), m_scratchFolder(scratchFolder)
{
}

std::optional<CardBaseline> CardEditor::read(qint64 id, qint64 *accountsRow)
{
    std::optional<CardBaseline> out;
    if (std::optional<CardRecord> card = readCardRow(m_db, id)) {
        out.emplace();
        out->card = *card;
        out->accounts = readAccountsRow(m_db, id, accountsRow);
    }
    return out;
}

std::optional<CardBaseline> CardEditor::load(qint64 id)
{
    // Row and accounts in one snapshot, so that they agree with each other.
    return m_db.snapshot([&] { return read(id); });
}

QString CardEditor::finishPhoto(StagedPhoto &photo, bool committed, qint64 id, const QString &before)
{
    if (photo.isEmpty())
        return QString();
    if (!committed) { // a batch's unit: the photo waits for the batch's commit
        m_held.push_back(photo);
        return QString();
    }
    PhotoStore photos(m_db, m_photoFolder);
    const QString error = photos.place(photo);
    if (error.isEmpty())
        return QString();
    // The card must not name a file that is not there: its path goes back,
    // unless someone has stored another one meanwhile.
    try {
        m_db.unit([&] {
            if (photos.storedPath(id) == photo.fpath)
                photos.setStoredPath(id, before);
        });
    } catch (const db::DbError &) {
    }
    return error + QStringLiteral("\rФотография не сохранена.");
}

StagedPhoto CardEditor::stageChosen(PhotoStore &photos, const CardChange &change, const CopyOptions &copy)
{
    if (change.photo.isEmpty())
        return {};
    CopyOptions options = copy;
    if (options.scratchFolder.isEmpty())
        options.scratchFolder = m_scratchFolder;
    return photos.stage(change.photo, options);
}

SaveResult CardEditor::insert(const CardChange &change, qint64 userId, const QString &stamp, const CopyOptions &copy)
{
    PhotoStore photos(m_db, m_photoFolder);
    StagedPhoto photo = stageChosen(photos, change, copy);
    const bool commits = !m_db.inUnit();
    SaveResult r;
    try {
        r.id = m_db.unit([&] {
            const qint64 id =
                CardStore(m_db).insert(change.card, userId, stamp, change.accounts ? &*change.accounts : nullptr);
            if (!photo.isEmpty())
                photos.name(photo, id, stamp);
            return id;
        });
    } catch (...) {
        PhotoStore::discard(photo);
        throw;
    }
    r.stored.card = change.card;
    r.stored.card.sysinfo = stamp;
    r.stored.card.fpath = photo.fpath;
    r.stored.accounts = change.accounts;
    r.photoProblem = finishPhoto(photo, commits, r.id, QString());
    if (!r.photoProblem.isEmpty())
        r.stored.card.fpath.clear();
    return r;
}

SaveResult CardEditor::update(qint64 id, const CardChange &change, const CardBaseline &baseline, qint64 userId,
                              bool addRefValues, const CopyOptions &copy)
{
    PhotoStore photos(m_db, m_photoFolder);
    StagedPhoto photo = stageChosen(photos, change, copy);
    const bool commits = !m_db.inUnit();
    SaveResult r;
    r.id = id;
    // A colleague who commits between this unit's snapshot and its update
    // makes the update fail as a conflict: once more, the unit then reads
    // and merges the colleague's version. A colleague still holding the
    // card (the engine waited for him in vain) is told at once.
    for (int attempt = 0;; ++attempt) {
        QElapsedTimer took;
        took.start();
        r = SaveResult{};
        r.id = id;
        try {
            r.outcome = m_db.unit([&] {
                qint64 accountsRow = 0;
                const std::optional<CardBaseline> stored = read(id, &accountsRow);
                if (!stored)
                    return SaveResult::Outcome::Gone;
                const CardMerge merge = mergeCard(change, baseline, *stored);
                r.stored = *stored;
                if (!merge.clashes.isEmpty()) {
                    r.clashes = merge.clashes;
                    return SaveResult::Outcome::Clash;
                }
                CardStore cards(m_db);
                if (!cards.write(id, merge.written, userId))
                    return SaveResult::Outcome::Gone;
                if (merge.accounts) {
                    if (accountsRow)
                        cards.updateAccounts(accountsRow, *merge.accounts);
                    else
                        cards.insertAccounts(id, *merge.accounts);
                    r.stored.accounts = merge.accounts;
                }
                if (!photo.isEmpty())
                    photos.name(photo, id, stored->card.sysinfo);
                if (addRefValues)
                    r.orgAdded = RefValues(m_db).save(merge.written.value(QStringLiteral("work")),
                                                      merge.written.value(QStringLiteral("dep")),
                                                      merge.written.value(QStringLiteral("post")));
                r.stored.card.values = merge.written.values;
                if (!photo.isEmpty())
                    r.stored.card.fpath = photo.fpath;
                return SaveResult::Outcome::Stored;
            });
            break;
        } catch (const db::DbError &e) {
            if (e.conflict() && attempt == 0 && took.elapsed() < db::kLockTimeoutSeconds * 500)
                continue;
            if (!e.conflict()) {
                PhotoStore::discard(photo);
                throw;
            }
            // Held by a colleague: shown as he last stored it.
            r.outcome = SaveResult::Outcome::Clash;
            r.clashes.clear();
            if (std::optional<CardBaseline> now = load(id))
                r.stored = *now;
            else
                r.outcome = SaveResult::Outcome::Gone;
            break;
        }
    }
    if (r.outcome != SaveResult::Outcome::Stored) {
        PhotoStore::discard(photo);
        return r;
    }
    r.photoProblem = finishPhoto(photo, commits, id, baseline.card.fpath);
    if (!r.photoProblem.isEmpty())
        r.stored.card.fpath = baseline.card.fpath;
    return r;
}

SaveResult CardEditor::mergeGroup(qint64 id, const CardBaseline &merged,
                                  const QList<QPair<qint64, CardBaseline>> &loaded, qint64 userId)
{
    SaveResult r;
    r.id = id;
    QStringList goneFiles;
    PhotoStore photos(m_db, m_photoFolder);
    r.outcome = m_db.unit([&] {
        QString before;
        for (const auto &[cardId, read] : loaded) {
            const std::optional<CardBaseline> stored = this->read(cardId);
            if (!stored)
                return SaveResult::Outcome::Gone;
            if (stored->card.values != read.card.values || stored->card.fpath != read.card.fpath ||
                stored->accounts != read.accounts) {
                r.stored = *stored;
                r.id = cardId;
                return SaveResult::Outcome::Clash;
            }
            if (cardId == id)
                before = stored->card.fpath;
        }
        CardStore cards(m_db);
        if (!cards.write(id, merged.card, userId))
            return SaveResult::Outcome::Gone;
        if (merged.accounts) {
            qint64 row = 0;
            readAccountsRow(m_db, id, &row);
            if (row)
                cards.updateAccounts(row, *merged.accounts);
            else
                cards.insertAccounts(id, *merged.accounts);
        }
        if (merged.card.fpath != before)
            photos.setStoredPath(id, merged.card.fpath);
        for (const auto &[cardId, read] : loaded) {
            if (cardId == id)
                continue;
            cards.remove(cardId);
            if (!read.card.fpath.isEmpty() && read.card.fpath != merged.card.fpath)
                goneFiles << read.card.fpath;
        }
        r.stored = merged;
        return SaveResult::Outcome::Stored;
    });
    if (r.outcome == SaveResult::Outcome::Stored)
        for (const QString &f : goneFiles)
            photos.removeIfUnnamed(f);
    return r;
}

PhotoStore::Deleted CardEditor::deletePhoto(qint64 id, const QString &seen)
{
    return PhotoStore(m_db, m_photoFolder).deleteFile(id, seen);
}

QStringList CardEditor::placeHeld()
{
    QStringList problems;
    PhotoStore photos(m_db, m_photoFolder);
    for (const StagedPhoto &p : m_held)
        if (const QString e = photos.place(p); !e.isEmpty())
            problems << e;
    m_held.clear();
    return problems;
}

void CardEditor::discardHeld()
{
    for (const StagedPhoto &p : m_held)
        PhotoStore::discard(p);
    m_held.clear();
}

} // namespace core
