#include "cardimport.h"

#include "core/cardediting.h"
#include "core/cardfields.h"
#include "core/duplicates.h"
#include "core/photos.h"
#include "core/refvalues.h"
#include "core/safefiles.h"
#include "core/stamp.h"
#include "db/access.h"
#include "db/columns.h"
#include "db/cp1251.h"
#include "db/statements.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTemporaryDir>
#include <memory>

namespace core {

namespace {

// The longest file a card file may be: read whole, it must fit in memory.
constexpr qint64 kLongestFile = qint64(1) << 30;

// The first part of a problem text (the card window's advice follows a CR).
QString firstPart(const QString &text)
{
    return text.section(QLatin1Char('\r'), 0, 0);
}

// The name a photo is stored under: its own, cut to a length the stored path
// has room for, keeping its extension. A name that is no file name ("..")
// becomes "photo", and one without an extension gets the picture's kind
// (`extension`), which the viewers and the printout go by.
QString photoFileName(const QString &given, const QString &extension)
{
    QString name = storedFileName(given.trimmed());
    if (QString(name).remove(QLatin1Char('.')).trimmed().isEmpty())
        name = QStringLiteral("photo");
    if (QFileInfo(name).suffix().isEmpty())
        name += QLatin1Char('.') + extension;
    constexpr int kLongest = 120;
    if (name.size() > kLongest) {
        const QString ext = QFileInfo(name).suffix().left(10);
        name = name.left(kLongest - ext.size() - 1) + QLatin1Char('.') + ext;
    }
    return name;
}

} // namespace

QString ImportReport::text(int limit) const
{
    const QLocale ru(QLocale::Russian);
    QString t = QStringLiteral("Карточек в файле: %1.\rСохранено: %2.\rПропущено как уже сохранённые: %3.\r"
                               "Не сохранено из-за ошибок: %4.")
                    .arg(ru.toString(total), ru.toString(stored), ru.toString(skipped), ru.toString(refused.size()));
    if (cancelled)
        t += QStringLiteral("\rИмпорт прерван: карточки до отмены сохранены целиком, оставшиеся (%1) не тронуты.")
                 .arg(ru.toString(notReached));
    if (!stopped.isEmpty())
        t += QStringLiteral("\rИмпорт остановлен (оставшиеся карточки — %1 — не тронуты):\r%2")
                 .arg(ru.toString(notReached), stopped);
    if (!refused.isEmpty())
        t += QStringLiteral("\r\rНе сохранены:\r") + reportLines(refused, limit) +
             QStringLiteral("\rИсправьте эти карточки в файле и импортируйте его ещё раз, пропуская уже сохранённые.");
    if (!notes.isEmpty())
        t += QStringLiteral("\r\rЗамечания:\r") + reportLines(notes, limit);
    return t;
}

CardImport::CardImport(db::Access &db, const QString &photoFolder, const QString &scratchFolder)
    : m_db(db), m_photoFolder(photoFolder), m_scratchFolder(scratchFolder), m_checks(db)
{
}

bool CardImport::read(const QString &path, const Progress &progress)
{
    return check(load(path), progress);
}

CardFile CardImport::load(const QString &path, const std::atomic_bool *cancel)
{
    CardFile out;
    QFile f;
    QString why;
    if (!openRegularFile(f, path, &why)) {
        out.error = QStringLiteral("Не удалось открыть файл «%1»: %2.").arg(QDir::toNativeSeparators(path), why);
        return out;
    }
    if (f.size() > kLongestFile) {
        out.error = QStringLiteral("Файл «%1» слишком велик (%2 МБ): программа читает файлы карточек до %3 МБ. "
                                   "Разделите его на части.")
                        .arg(QDir::toNativeSeparators(path))
                        .arg(f.size() >> 20)
                        .arg(kLongestFile >> 20);
        return out;
    }
    const QByteArray bytes = f.readAll();
    if (f.error() != QFileDevice::NoError) {
        out.error =
            QStringLiteral("Не удалось прочитать файл «%1»: %2.").arg(QDir::toNativeSeparators(path), f.errorString());
        return out;
    }
    return readCards(bytes, cancel);
}

bool CardImport::readBytes(const QByteArray &bytes, const Progress &progress)
{
    return check(readCards(bytes), progress);
}

bool CardImport::check(CardFile file, const Progress &progress)
{
    m_file = std::move(file);
    m_error = m_file.error;
    m_duplicates.clear();
    m_problems.clear();
    if (!m_error.isEmpty() || m_file.cancelled)
        return false;
    // The stored cards and the file's cards before each one, by the rule of
    // probable duplicates: a phone's export read twice adds nothing.
    DuplicateIndex alike;
    alike.addAll(storedPersonKeys(m_db));
    for (int i = 0; i < total(); ++i) {
        if (progress && !progress(i, total()))
            return false;
        CardData &card = m_file.cards[i];
        if (!card.photo.isEmpty())
            card.photoName = photoFileName(card.photoName, pictureExtension(card.photo));
        const QString problem = checkCard(card);
        if (!problem.isEmpty())
            m_problems.insert(i, refusal(card, problem));
        else {
            PersonKeys keys = personKeys(card.card);
            if (!alike.like(keys).isEmpty())
                m_duplicates.insert(i);
            alike.add(-1 - i, std::move(keys));
        }
    }
    if (progress)
        progress(total(), total());
    return true;
}

QString CardImport::refusal(const CardData &card, const QString &reason) const
{
    // A name is cut short so that one unbroken word cannot widen the report beyond the screen.
    constexpr qsizetype longest = 60;
    QString name = card.name();
    if (name.size() > longest)
        name = name.left(longest - 1) + QChar(0x2026);
    name = name.isEmpty() ? QStringLiteral("без имени") : QStringLiteral("«%1»").arg(name);
    return QStringLiteral("карточка № %1 %2 (строка %3): %4").arg(card.number).arg(name).arg(card.line).arg(reason);
}

QString CardImport::checkCard(const CardData &card)
{
    if (card.isEmpty())
        return QStringLiteral("в карточке нет ни имени, ни других данных.");
    const QLocale ru(QLocale::Russian);
    for (const char *column : {"rem", "other"}) {
        const qsizetype length = card.card.value(QLatin1String(column)).size();
        if (length > kLongestMemo)
            return QStringLiteral("текст в поле «%1» слишком длинный: %2 знаков, а программа принимает не больше %3 "
                                  "(1 МБ).")
                .arg(fieldLabel(QLatin1String(column)), ru.toString(length), ru.toString(kLongestMemo));
    }
    if (card.photo.size() > kLargestPhoto)
        return QStringLiteral("фотография слишком большая: %1 байт, а программа принимает не больше %2 (%3 МБ).")
            .arg(ru.toString(card.photo.size()), ru.toString(kLargestPhoto), ru.toString(kLargestPhoto >> 20));
    // Values from a file go in as they came: the card counts as unedited.
    QString problem = m_checks.cardProblem(card.card, cardColumns(), &card.card, fieldLabel);
    if (problem.isEmpty() && card.accounts)
        problem = m_checks.accountsProblem(*card.accounts);
    if (!problem.isEmpty())
        return firstPart(problem);
    return QString();
}

void CardImport::addRefValues(const CardRecord &card, const QSet<QString> &held, QStringList &added)
{
    RefValues books(m_db);
    const char *columns[] = {"work", "dep", "post"};
    for (int i = 0; i < 3; ++i) {
        const QString value = card.value(QLatin1String(columns[i]));
        if (value.trimmed().isEmpty())
            continue;
        const QString key = QString::number(i) + QLatin1Char(':') + cp1251::upper(value);
        // Values this import has added or met already are known from its
        // own lists, without a read.
        if (m_knownRefs.contains(key) || held.contains(key) || added.contains(key))
            continue;
        if (!books.contains(sql::kRefs[i], value))
            books.add(sql::kRefs[i], value);
        added << key;
    }
}

QString CardImport::summary(const QString &fileName) const
{
    const QLocale ru(QLocale::Russian);
    QString t = QStringLiteral("Файл «%1» (%2): карточек — %3.").arg(fileName, kind(), ru.toString(total()));
    if (!encoding().isEmpty() && total() > 0) {
        QString first = m_file.cards.first().name();
        if (first.size() > 60)
            first = first.left(59) + QChar(0x2026);
        t += QStringLiteral("\rФайл прочитан в кодировке %1. Первая карточка: %2.")
                 .arg(encoding(), first.isEmpty() ? QStringLiteral("без имени") : QStringLiteral("«%1»").arg(first));
    }
    t += QStringLiteral("\rПохожи на уже сохранённые или на карточки выше в файле (то же имя и тот же телефон, "
                        "e-mail или та же дата рождения): %1.")
             .arg(ru.toString(duplicates()));
    if (refusals() > 0)
        t += QStringLiteral("\rНе могут быть сохранены: %1 (причины будут в отчёте).").arg(ru.toString(refusals()));
    return t;
}

ImportReport CardImport::store(bool addDuplicates, qint64 userId, const Progress &progress)
{
    ImportReport report;
    report.total = total();
    report.notes = m_file.problems;
    // The pictures pass through a folder of their own in the scratch folder.
    std::unique_ptr<QTemporaryDir> ownScratch;
    QString scratch = m_scratchFolder;
    if (scratch.isEmpty() || !QFileInfo(scratch).isDir()) {
        ownScratch = std::make_unique<QTemporaryDir>();
        scratch = ownScratch->path();
    }
    const QString pictures = QDir(scratch).filePath(QStringLiteral("import"));
    CardEditor cards(m_db, m_photoFolder, scratch);

    // Cards are stored in batches, each card a unit of its own in the batch.
    // Until the batch commits, its cards' photos wait staged (the editor
    // holds them) and its reference values are held here, and the report as
    // it stood after the last commit is kept: a batch that is lost takes the
    // report back there.
    db::Batch batch(m_db);
    QSet<QString> heldRefs;
    ImportReport kept = report;
    int keptUpTo = 0; // the first card after the last commit
    auto settle = [&](int next) {
        m_knownRefs.unite(heldRefs);
        heldRefs.clear();
        // Committed (by the batch, or by other work between two cards): the
        // photos go in their place now.
        for (const QString &problem : cards.placeHeld())
            report.notes << problem;
        kept = report;
        keptUpTo = next;
    };
    auto stop = [&](const QString &why) {
        // The batch's cards are counted as not stored: their staged photos
        // are never put in place.
        cards.discardHeld();
        heldRefs.clear();
        report = kept;
        report.stopped = why;
        report.notReached = total() - keptUpTo;
    };
    auto commit = [&](int next) {
        try {
            m_db.checkFileUnchanged();
            batch.commit();
        } catch (const db::DbError &e) {
            stop(e.text());
            return false;
        }
        settle(next);
        return true;
    };

    int i = 0;
    for (; i < total(); ++i) {
        const bool goOn = !progress || progress(i, total());
        // The progress lets the program's other work run; a unit of it
        // commits the batch first, or finds the connection gone.
        if (batch.lost()) {
            stop(QStringLiteral("Последние карточки не сохранены: их запись в базу данных отменена (соединение "
                                "прервано или сохранение не удалось)."));
            break;
        }
        if (batch.held() == 0)
            settle(i);
        if (!goOn) {
            if (commit(i)) {
                report.cancelled = true;
                report.notReached = total() - i;
            }
            break;
        }
        if (batch.full() && !commit(i))
            break;
        const CardData &card = m_file.cards[i];
        if (m_problems.contains(i)) {
            report.refused << m_problems.value(i);
            continue;
        }
        if (m_duplicates.contains(i) && !addDuplicates) {
            ++report.skipped;
            continue;
        }
        QStringList refs;
        try {
            // A batch's transaction, once begun, writes on into a file put
            // aside under it: looked at before each card.
            m_db.checkFileUnchanged();
            batch.unit([&] {
                addRefValues(card.card, heldRefs, refs);
                // Last in the unit: once it returns, the unit holds its photo.
                insertCard(cards, userId, card, pictures);
            });
        } catch (const db::DbError &e) {
            // Gone or replaced, the database takes no further card: the
            // rest are not tried one by one.
            if (e.connectionLost() || e.fileReplaced() || batch.lost()) {
                stop(e.text());
                break;
            }
            report.refused << refusal(card, firstPart(e.text()));
            continue;
        }
        for (const QString &key : std::as_const(refs))
            heldRefs.insert(key);
        ++report.stored;
        for (const QString &note : card.notes)
            report.notes << refusal(card, note);
    }
    if (i == total())
        commit(i);
    QDir(pictures).removeRecursively();
    // Each claim became a photo or went with its card's batch.
    PhotoStore::forgetClaims(scratch);
    if (progress && !report.cancelled)
        progress(total(), total());
    return report;
}

void CardImport::insertCard(CardEditor &cards, qint64 userId, const CardData &card, const QString &pictures)
{
    CardChange change;
    change.card = card.card;
    change.accounts = card.accounts;
    const QString stamp = makeStamp(userId);
    if (card.photo.isEmpty()) {
        cards.insert(change, userId, stamp);
        return;
    }
    // A card whose photo cannot be stored is refused: each card whole or not at all.
    QString error;
    QDir().mkpath(pictures);
    const QString file = QDir(pictures).filePath(card.photoName);
    QFile::remove(file);
    QFile out;
    if (!createNewFile(out, file, &error) || out.write(card.photo) != card.photo.size() || !out.flush()) {
        error = QStringLiteral("Не удалось записать фотографию во временную папку «%1»: %2")
                    .arg(QDir::toNativeSeparators(pictures), error.isEmpty() ? out.errorString() : error);
        out.close();
        QFile::remove(file);
        throw db::DbError(QStringLiteral("фотография не сохранена: ") + firstPart(error));
    }
    out.close();
    change.photo = file;
    try {
        cards.insert(change, userId, stamp);
        QFile::remove(file);
    } catch (const db::DbError &e) {
        QFile::remove(file);
        if (e.connectionLost())
            throw;
        throw db::DbError(QStringLiteral("фотография не сохранена: ") + firstPart(e.text()), e.fromEngine(), e.kind());
    }
}

} // namespace core
