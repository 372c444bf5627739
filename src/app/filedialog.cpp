#include "filedialog.h"
#include "access.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QImageReader>
#include <QLabel>

namespace filedlg {
namespace {
bool g_test = false;
QStringList g_script;
QList<SavedCards> g_saves;
int g_asked = 0;

QString pictureFilter()
{
    QStringList patterns;
    for (const QByteArray &f : QImageReader::supportedImageFormats())
        patterns << QStringLiteral("*.") + QString::fromLatin1(f);
    return QStringLiteral("Изображения (%1);;Все файлы (*)").arg(patterns.join(QLatin1Char(' ')));
}
} // namespace

QString openPicture(QWidget *owner, const QString &caption)
{
    ++g_asked;
    if (g_test)
        return g_script.isEmpty() ? QString() : g_script.takeFirst();

    QFileDialog dialog(owner, caption.isEmpty() ? QStringLiteral("Открыть изображение") : caption);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // Qt's own dialog, so that the preview can sit beside the file list.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setNameFilter(pictureFilter());
    auto *preview = new QLabel(&dialog);
    preview->setObjectName(QStringLiteral("preview"));
    preview->setFixedSize(200, 200);
    preview->setAlignment(Qt::AlignCenter);
    preview->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setAccessible(preview, QStringLiteral("Просмотр изображения"));
    if (auto *grid = qobject_cast<QGridLayout *>(dialog.layout()))
        grid->addWidget(preview, 0, grid->columnCount(), grid->rowCount(), 1);
    QObject::connect(&dialog, &QFileDialog::currentChanged, preview, [preview](const QString &path) {
        QImageReader reader(path);
        reader.setAutoTransform(true);
        const QSize size = reader.size();
        if (size.isValid())
            reader.setScaledSize(size.scaled(preview->size(), Qt::KeepAspectRatio));
        const QImage img = reader.read();
        if (img.isNull())
            preview->clear();
        else
            preview->setPixmap(QPixmap::fromImage(img));
    });
    dialog.resize(860, 480);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().first();
}

QString openCards(QWidget *owner)
{
    ++g_asked;
    if (g_test)
        return g_script.isEmpty() ? QString() : g_script.takeFirst();
    QFileDialog dialog(owner, QStringLiteral("Импорт карточек"));
    setAccessible(&dialog, QStringLiteral("Импорт карточек"), QStringLiteral("Выбор файла vCard или CSV"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setNameFilters({QStringLiteral("Карточки vCard и CSV (*.vcf *.vcard *.csv *.txt)"),
                           QStringLiteral("vCard (*.vcf *.vcard)"), QStringLiteral("CSV (*.csv *.txt)"),
                           QStringLiteral("Все файлы (*)")});
    dialog.resize(760, 460);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().first();
}

SavedCards saveCards(QWidget *owner, const QString &suggestedName)
{
    ++g_asked;
    if (g_test)
        return g_saves.isEmpty() ? SavedCards{} : g_saves.takeFirst();
    const QStringList filters = {QStringLiteral("vCard 4.0 (*.vcf)"),
                                 QStringLiteral("vCard 3.0, для старых телефонов (*.vcf)"),
                                 QStringLiteral("CSV для таблиц, UTF-8 (*.csv)")};
    QFileDialog dialog(owner, QStringLiteral("Экспорт карточек"));
    setAccessible(&dialog, QStringLiteral("Экспорт карточек"),
                  QStringLiteral("Куда записать карточки; тип файла задаёт формат: vCard 4.0, vCard 3.0 или CSV"));
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setNameFilters(filters);
    dialog.selectFile(suggestedName);
    // A name typed without an extension gets the one of the type chosen.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, &filters](const QString &filter) {
        const QString ext = filters.indexOf(filter) == 2 ? QStringLiteral("csv") : QStringLiteral("vcf");
        dialog.setDefaultSuffix(ext);
    });
    dialog.setDefaultSuffix(QStringLiteral("vcf"));
    dialog.resize(760, 460);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    const QString file = dialog.selectedFiles().first();
    return {file, cardsTypeFor(filters.indexOf(dialog.selectedNameFilter()), file)};
}

core::CardFormat cardsTypeFor(qsizetype chosenType, const QString &fileName)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix == QLatin1String("csv"))
        return core::CardFormat::Csv;
    if (chosenType == 2 && (suffix == QLatin1String("vcf") || suffix == QLatin1String("vcard")))
        return core::CardFormat::VCard4;
    return chosenType == 2   ? core::CardFormat::Csv
           : chosenType == 1 ? core::CardFormat::VCard3
                             : core::CardFormat::VCard4;
}

void scriptSave(const QString &path, core::CardFormat type)
{
    g_saves.append({path, type});
}

void setTestMode(bool on)
{
    g_test = on;
    g_script.clear();
    g_saves.clear();
    g_asked = 0;
}

void script(const QStringList &answers)
{
    g_script += answers;
}

int asked()
{
    return g_asked;
}

} // namespace filedlg
