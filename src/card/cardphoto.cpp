// The card window's photo: loading a file, the fragment tool, viewing,
// deleting, and storing the chosen picture with the card.
#include "cardwindow.h"
#include "dateedit.h"
#include "core/stamp.h"

#include "app/access.h"
#include "app/application.h"
#include "app/context.h"
#include "app/editablebox.h"
#include "app/filedialog.h"
#include "app/shell.h"
#include "app/icons.h"
#include "app/keys.h"
#include "app/messages.h"
#include "app/paths.h"
#include "app/session.h"
#include "db/columns.h"
#include "db/cp1251.h"
#include "core/photos.h"
#include "core/refvalues.h"
#include "pictures/picturefile.h"
#include "db/shared.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTextDocument>
#include <QToolButton>
#include <QVBoxLayout>

// ------------------------------------------------------------------ photo

static const QString kLoadRefused =
    QStringLiteral("Фотографии загружаются в режиме редактирования или новой записи с полными правами");
static const QString kDeleteRefused =
    QStringLiteral("Удаление проводится в режиме редактирования с правами полного доступа");

void TRF::sb_loadClick()
{
    if (!m_ctx.session.SessionUser.fullRights() || m_ctx.session.CardMode == CardMode::Read) {
        msg::error(this, kLoadRefused);
        return;
    }
    const QString path = filedlg::openPicture(this);
    if (path.isEmpty())
        return;
    // Taken for the card only once it shows: a file that is no picture changes nothing.
    const QPixmap shown = im_foto->pixmap();
    if (!showPicture(path)) {
        im_foto->setPixmap(shown);
        return;
    }
    PendingPhoto = path;
    markChanged();
}

void TRF::sb_pictClick()
{
    if (!m_ctx.session.SessionUser.fullRights() || m_ctx.session.CardMode == CardMode::Read) {
        msg::error(this, kLoadRefused);
        return;
    }
    emit fragmentToolRequested();
}

void TRF::acceptFragment(const QString &path)
{
    PendingPhoto = path;
    showPicture(path);
    markChanged();
}

void TRF::sb_lookClick()
{
    if (StoredPhoto.isEmpty())
        return;
    const std::optional<QString> fpath =
        core::PhotoStore(m_ctx.db.access, m_ctx.session.PhotoFolder).storedPath(CardId);
    if (!fpath)
        return;
    const core::PhotoLocation photo = core::locatePhoto(m_ctx.session.PhotoFolder, *fpath);
    if (photo.state == core::PhotoLocation::Present)
        shell::openFile(photo.file);
    else if (photo.state == core::PhotoLocation::Missing || photo.state == core::PhotoLocation::None)
        msg::error(nullptr, QStringLiteral("Файл не найден!"));
    else
        msg::error(nullptr, core::photoProblem(m_ctx.session.PhotoFolder, *fpath, photo));
}

void TRF::sb_delClick()
{
    if (!m_ctx.session.SessionUser.fullRights() || m_ctx.session.CardMode != CardMode::Edit) {
        msg::error(this, kDeleteRefused);
        return;
    }
    if (StoredPhoto.isEmpty()) {
        msg::error(this, QStringLiteral("Фото не загружено"));
        return;
    }
    if (!msg::askYesNo(this,
                       QStringLiteral("Внимание! Фото будет удалено без возможности восстановления, продолжать ?"),
                       QStringLiteral("Удаление")))
        return;
    if (!DeletePhotoFile(CardId))
        return;
    FormActivate(); // loaded again: the default picture, unsaved changes dropped
}

bool TRF::DeletePhotoFile(qint64 id)
{
    const QString fpath = StoredPhoto;
    const core::PhotoLocation photo = core::locatePhoto(m_ctx.session.PhotoFolder, fpath);
    switch (editor().deletePhoto(id, fpath)) {
    case core::PhotoStore::Deleted::Changed: {
        // A colleague stored another photo (or none) since the card was read:
        // his file stays, and so does this card's screen unless asked.
        core::SaveResult clash;
        clash.clashes << core::kPhotoField;
        m_reloaded = false;
        conflictWithColleague(clash, {});
        return false;
    }
    case core::PhotoStore::Deleted::NoCard:
        msg::error(this, QStringLiteral("Файл не найден, удаление невозможно"));
        break;
    case core::PhotoStore::Deleted::FileWasMissing:
        msg::error(this, QStringLiteral("Файла фотографии уже нет в папке; запись о нём из карточки удалена."));
        break;
    case core::PhotoStore::Deleted::KeptForOtherCard:
        msg::plain(this, QStringLiteral("Фотография убрана из карточки. Файл «%1» оставлен: он же — фотография "
                                        "другой карточки.")
                             .arg(photo.file));
        break;
    case core::PhotoStore::Deleted::Outside:
    case core::PhotoStore::Deleted::NotAFile:
        msg::error(this, QStringLiteral("Запись о фотографии из карточки удалена, файл не тронут.\r") +
                             core::photoProblem(m_ctx.session.PhotoFolder, fpath, photo));
        break;
    case core::PhotoStore::Deleted::Deleted:
        break;
    }
    return true;
}

std::unique_ptr<QProgressDialog> TRF::photoProgress(core::CopyOptions &copy)
{
    if (PendingPhoto.isEmpty())
        return nullptr;
    // A large file copies while the card answers, with its progress shown
    // once the copy takes more than half a second.
    auto progress = std::make_unique<QProgressDialog>(QStringLiteral("Копирование фотографии..."),
                                                      QStringLiteral("Отмена"), 0, 1000, this);
    progress->setWindowTitle(QStringLiteral("Фотография"));
    progress->setWindowModality(Qt::WindowModal);
    progress->setMinimumDuration(500);
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    QProgressDialog *shown = progress.get();
    copy.progress = [shown](qint64 done, qint64 total) {
        shown->setValue(total > 0 ? int(done * 1000 / total) : 0);
        return !shown->wasCanceled();
    };
    return progress;
}
