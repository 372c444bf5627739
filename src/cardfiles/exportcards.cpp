#include "exportcards.h"

#include "core/photos.h"
#include "core/safefiles.h"
#include "db/access.h"
#include "db/statements.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QLocale>
#include <QFileInfo>
#include <QSaveFile>

namespace core {

namespace {

// Cards read by one statement.
constexpr int kSlice = 100;

// The card's photo read from the photo folder; a note when it cannot be.
void readPhoto(CardData &card, const QString &photoFolder, const QString &fpath)
{
    if (fpath.isEmpty())
        return;
    const PhotoLocation where = locatePhoto(photoFolder, fpath);
    QString problem = photoProblem(photoFolder, fpath, where);
    if (problem.isEmpty()) {
        QFile f;
        QString why;
        if (openRegularFile(f, where.file, &why)) {
            card.photo = f.readAll();
            if (f.error() != QFileDevice::NoError)
                problem = f.errorString();
        } else {
            problem = why;
        }
    }
    if (!problem.isEmpty()) {
        card.photo.clear();
        card.notes << QStringLiteral("выгружена без фотографии: ") + problem.section(QLatin1Char('\r'), 0, 0);
        return;
    }
    card.photoName = QString(fpath).replace(QLatin1Char('/'), QLatin1Char('\\')).section(QLatin1Char('\\'), -1);
}

// A card read from its row; its photo too when `withPhoto`.
CardData cardOf(const db::Rows &rows, const QHash<QString, int> &col, const QString &photoFolder, bool withPhoto)
{
    CardData c;
    for (const QString &name : cardColumns())
        c.card.values.insert(name, rows.text(col.value(name)));
    c.card.sysinfo = rows.text(col.value(QStringLiteral("sysinfo")));
    c.card.fpath = rows.text(col.value(QStringLiteral("fpath")));
    if (!rows.text(col.value(QStringLiteral("acc_id"))).isEmpty()) {
        Accounts a;
        for (int k = 0; k < 4; ++k) {
            a.network[k] = rows.text(col.value(QStringLiteral("sn%1").arg(k + 1)));
            a.address[k] = rows.text(col.value(QStringLiteral("adr%1").arg(k + 1)));
        }
        c.accounts = a;
    }
    if (withPhoto)
        readPhoto(c, photoFolder, c.card.fpath);
    return c;
}

// Reads the cards of `ids` (at most kSlice) by their id, with their photos when `withPhotos`.
QHash<qint64, CardData> readSlice(db::Access &db, const QString &photoFolder, const QList<qint64> &ids, bool withPhotos)
{
    db::Binds binds;
    for (int i = 0; i < kSlice; ++i)
        binds.emplace_back(QStringLiteral("id%1").arg(i + 1), i < ids.size() ? ids[i] : qint64(-1));
    // The same text every time: prepared once.
    db::Rows rows = db.read(sql::selectCardsWithAccounts(kSlice), binds);
    QHash<QString, int> col;
    for (const QString &name :
         cardColumns() + QStringList{QStringLiteral("sysinfo"), QStringLiteral("fpath"), QStringLiteral("acc_id"),
                                     QStringLiteral("sn1"), QStringLiteral("sn2"), QStringLiteral("sn3"),
                                     QStringLiteral("sn4"), QStringLiteral("adr1"), QStringLiteral("adr2"),
                                     QStringLiteral("adr3"), QStringLiteral("adr4")})
        col.insert(name, rows.column(name));
    const int idCol = rows.column(QStringLiteral("pk_id"));
    QHash<qint64, CardData> out;
    while (rows.next())
        out.insert(rows.number(idCol), cardOf(rows, col, photoFolder, withPhotos));
    return out;
}

} // namespace

QString ExportReport::text(const QString &path, int limit) const
{
    const QLocale ru(QLocale::Russian);
    if (!error.isEmpty())
        return error;
    if (cancelled)
        return QStringLiteral("Экспорт прерван, файл «%1» не записан.").arg(QDir::toNativeSeparators(path));
    QString t =
        QStringLiteral("Выгружено карточек: %1.\rФайл: %2").arg(ru.toString(written), QDir::toNativeSeparators(path));
    if (gone > 0)
        t += QStringLiteral("\rУдалены другим пользователем во время выгрузки: %1.").arg(ru.toString(gone));
    if (photosLeftOut > 0)
        t += QStringLiteral("\r\rФотографии в CSV не сохраняются (карточек с фотографией: %1): для них выберите "
                            "vCard.")
                 .arg(ru.toString(photosLeftOut));
    if (!notes.isEmpty()) {
        t += QStringLiteral("\r\rЗамечания:\r") + reportLines(notes, limit);
    }
    return t;
}

ExportReport exportCards(db::Access &db, const QString &photoFolder, const QList<qint64> &ids, CardFormat format,
                         const QString &path, const Progress &progress)
{
    ExportReport report;
    report.total = int(ids.size());
    QSaveFile file(path);
    const auto failed = [&](const QString &why) {
        report.error = QStringLiteral("Не удалось записать файл «%1»: %2.\rФайл не изменён.")
                           .arg(QDir::toNativeSeparators(path), why);
        file.cancelWriting();
        return report;
    };
    // A device or a pipe in the file's place would be replaced by a new file.
    if (const QFileInfo target(path); target.exists() && !target.isFile())
        return failed(QStringLiteral("это не обычный файл (устройство, канал или папка)"));
    if (!file.open(QIODevice::WriteOnly))
        return failed(file.errorString());
    if (format == CardFormat::Csv && file.write(csvHeader()) < 0)
        return failed(file.errorString());
    for (qsizetype from = 0; from < ids.size(); from += kSlice) {
        const QList<qint64> slice = ids.mid(from, kSlice);
        // CSV holds no photos: they are not read.
        const QHash<qint64, CardData> cards = readSlice(db, photoFolder, slice, format != CardFormat::Csv);
        for (qsizetype i = 0; i < slice.size(); ++i) {
            if (progress && !progress(int(from + i), report.total)) {
                report.cancelled = true;
                file.cancelWriting();
                return report;
            }
            const auto it = cards.constFind(slice[i]);
            if (it == cards.constEnd()) {
                ++report.gone;
                continue;
            }
            CardData card = *it;
            card.number = int(from + i + 1);
            const QByteArray bytes = format == CardFormat::Csv ? csvRowOf(card) : vcardOf(card, format);
            if (file.write(bytes) != bytes.size())
                return failed(file.errorString());
            ++report.written;
            if (format == CardFormat::Csv && !card.card.fpath.trimmed().isEmpty())
                ++report.photosLeftOut;
            for (const QString &note : card.notes)
                report.notes << QStringLiteral("«%1»: %2").arg(card.name(), note);
        }
    }
    if (!file.commit()) {
        report.written = 0;
        return failed(file.errorString());
    }
    if (progress)
        progress(report.total, report.total);
    return report;
}

} // namespace core
