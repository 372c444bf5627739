#include "cardexport.h"

#include "core/cellmap.h"
#include "core/photos.h"
#include "pictures/picturefile.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>

namespace printout {
namespace {

QString formsFile(const QString &programFolder, const QString &name)
{
    return QDir::toNativeSeparators(QDir(programFolder).filePath(QStringLiteral("Forms/") + name));
}

QString formsName(const QString &name)
{
    return QDir::toNativeSeparators(QStringLiteral("Forms/") + name);
}

// Throws when there is no template to open; an office that still has only
// the old Excel 97-2003 template is told how to convert it.
void checkTemplate(const Sources &sources)
{
    const QString path = templatePath(sources.programFolder);
    if (QFileInfo(path).isFile())
        return;
    const QString old = formsFile(sources.programFolder, QStringLiteral("form.xls"));
    if (QFileInfo(old).isFile())
        throw Error(QStringLiteral("Шаблон печатной формы %1 в старом формате Excel 97-2003 не поддерживается.\r"
                                   "Откройте его в программе для работы с таблицами и сохраните как книгу Excel "
                                   "(.xlsx) под именем %2 в папке программы.")
                        .arg(formsName(QStringLiteral("form.xls")), formsName(QStringLiteral("form.xlsx"))));
    throw Error(QStringLiteral("Не найден шаблон печатной формы:\r%1").arg(path));
}

// The picture's size in pixels, as the card shows it (turned by its
// orientation mark). The whole picture is read, so a damaged one is caught
// here and not in the spreadsheet program.
QSize measure(const QString &path, bool defaultPicture)
{
    if (!QFileInfo::exists(path))
        throw Error((defaultPicture
                         ? QStringLiteral("Не найдено изображение по умолчанию для карточки без фотографии:\r%1")
                         : QStringLiteral("Не найден файл фотографии:\r%1"))
                        .arg(QDir::toNativeSeparators(path)));
    const pictures::Picture picture = pictures::read(path);
    if (picture.image.isNull() || picture.image.width() <= 0 || picture.image.height() <= 0)
        throw Error(QStringLiteral("Файл фотографии не является изображением или повреждён:\r%1\r%2")
                        .arg(QDir::toNativeSeparators(path), picture.error));
    return picture.image.size();
}

} // namespace

QString templatePath(const QString &programFolder)
{
    return formsFile(programFolder, QStringLiteral("form.xlsx"));
}

QString picturePath(const Sources &sources, const QString &fpath)
{
    if (fpath.isEmpty())
        return formsFile(sources.programFolder, QStringLiteral("foto.png"));
    const core::PhotoLocation where = core::locatePhoto(sources.photoFolder, fpath);
    switch (where.state) {
    case core::PhotoLocation::BadPath:
    case core::PhotoLocation::Outside:
    case core::PhotoLocation::NotAFile:
        throw Error(core::photoProblem(sources.photoFolder, fpath, where));
    default:
        return where.file;
    }
}

QSizeF printedSize(const QSize &pixels)
{
    const double ratio = double(pixels.width()) / double(pixels.height());
    return {115.0, 115.0 / ratio};
}

QList<Shortened> exportCard(Workbook &workbook, const Sources &sources, const core::CardRecord &card,
                            const std::optional<core::Accounts> &accounts)
{
    checkTemplate(sources);
    workbook.openTemplate(templatePath(sources.programFolder));
    workbook.copyToNewWorkbook();
    workbook.hideGridLines();

    const QString picture = picturePath(sources, card.fpath);
    const QSizeF size = printedSize(measure(picture, card.fpath.isEmpty()));
    workbook.addPicture(picture, size.width(), size.height());

    QList<Shortened> shortened;
    for (const core::CellText &c : core::cardCells(card, accounts)) {
        workbook.setCell(c.cell, c.text);
        // The cell holds a CR LF as one LF, so it counts once.
        const qsizetype total = c.text.size() - c.text.count(QStringLiteral("\r\n"));
        const qsizetype printed = cellValue(c.text).size();
        if (printed < total)
            shortened.append({c.cell, printed, total});
    }
    workbook.show(sources.scratchFolder);
    return shortened;
}

QString shortenedNotice(const QList<Shortened> &shortened)
{
    if (shortened.isEmpty())
        return QString();
    QStringList lines;
    for (const Shortened &s : shortened) {
        // "из 21 знака", "из 11 знаков", "из 40000 знаков"
        const bool one = s.total % 10 == 1 && s.total % 100 != 11;
        const QString counts = QStringLiteral("целиком: напечатано %1 из %2 %3.")
                                   .arg(s.printed)
                                   .arg(s.total)
                                   .arg(one ? QStringLiteral("знака") : QStringLiteral("знаков"));
        if (s.cell == QLatin1String("A24"))
            lines << QStringLiteral("Примечание не поместилось в печатную форму ") + counts;
        else if (s.cell == QLatin1String("A13"))
            lines << QStringLiteral("Строка «Привычки и интересы» не поместилась в печатную форму ") + counts;
        else
            lines << QStringLiteral("Текст ячейки %1 не поместился в печатную форму ").arg(s.cell) + counts;
    }
    lines << QStringLiteral("Весь текст сохранён в карточке.");
    return lines.join(QLatin1Char('\r'));
}

} // namespace printout
