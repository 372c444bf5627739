// The card window: opening in a mode, the fields bound to the table's
// columns, loading, saving, change tracking and closing.
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

namespace {

// The memo's text as stored: lines joined by CR LF, every other character as
// typed (the plain-text form would turn a no-break space into a space).
QString memoToStored(const QPlainTextEdit *memo)
{
    QString t = memo->document()->toRawText();
    t.replace(QChar(QChar::ParagraphSeparator), QStringLiteral("\r\n"));
    return t.replace(QChar(QChar::LineSeparator), QStringLiteral("\r\n"));
}

QString storedToMemo(const QString &text)
{
    QString t = text;
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
}

} // namespace
// ------------------------------------------------------------------ set-up

void TRF::setCaption(const QString &mode)
{
    m_mode = mode;
    setWindowTitle(mode);
}

void TRF::setOpening(CardMode mode, qint64 id)
{
    m_ctx.session.CardMode = mode;
    CardId = mode == CardMode::New ? 0 : id;
}

void TRF::open(CardMode mode, qint64 id)
{
    setOpening(mode, id);
    showModal();
}

void TRF::FormActivate()
{
    StoredPhoto.clear();
    PendingPhoto.clear();
    switch (m_ctx.session.CardMode) {
    case CardMode::New:
        UnlockCard();
        ClearCard();
        setCaption(QStringLiteral("Новая запись"));
        ShowAccountCombos();
        break;
    case CardMode::Edit:
        ShowAccountCombos();
        UnlockCard();
        LoadCard();
        setCaption(QStringLiteral("Редактирование"));
        break;
    case CardMode::Read:
        ShowAccountLabels();
        LockCard();
        LoadCard();
        setCaption(QStringLiteral("Просмотр"));
        break;
    }
    CardChanged = false;
    AccountsChanged = false;
    ed_fam->setFocus();
}

void TRF::ClearCard()
{
    for (const Binding &b : m_bindings)
        setColumnText(b.column, QString());
    ClearAccounts();
    showDefaultPicture();
}

void TRF::ClearAccounts()
{
    for (int k = 0; k < 4; ++k) {
        sn_[k]->clear();
        const QString placeholder = QStringLiteral("%1 ...").arg(k + 1);
        snd[k]->setEditText(placeholder);
        sn[k]->setText(placeholder);
    }
}

void TRF::ShowAccountLabels()
{
    for (int k = 0; k < 4; ++k) {
        snd[k]->hide();
        sn[k]->show();
    }
}

void TRF::ShowAccountCombos()
{
    for (int k = 0; k < 4; ++k) {
        sn[k]->hide();
        snd[k]->show();
    }
}

void TRF::LockCard()
{
    setLocked(true);
}

void TRF::UnlockCard()
{
    setLocked(false);
}

// Fields become read-only and drop-down lists disabled (the habit boxes with
// their panel); the tool bar stays usable.
void TRF::setLocked(bool locked)
{
    for (QWidget *w : findChildren<QWidget *>()) {
        if (auto *e = qobject_cast<QLineEdit *>(w); e && !qobject_cast<QComboBox *>(e->parentWidget()))
            e->setReadOnly(locked);
        else if (auto *m = qobject_cast<QPlainTextEdit *>(w))
            m->setReadOnly(locked);
        else if (auto *b = qobject_cast<QComboBox *>(w))
            b->setEnabled(!locked);
    }
    Panel1->setEnabled(!locked);
}

QString TRF::columnText(const QString &column) const
{
    for (const Binding &b : m_bindings) {
        if (b.column != column)
            continue;
        if (auto *d = qobject_cast<DateEdit *>(b.widget))
            return d->dateText();
        if (auto *e = qobject_cast<QLineEdit *>(b.widget))
            return e->text();
        if (auto *c = qobject_cast<QComboBox *>(b.widget))
            return c->currentText();
        if (auto *m = qobject_cast<QPlainTextEdit *>(b.widget))
            return memoToStored(m);
        if (auto *x = qobject_cast<QCheckBox *>(b.widget))
            return x->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
    }
    return QString();
}

void TRF::setColumnText(const QString &column, const QString &value)
{
    for (const Binding &b : m_bindings) {
        if (b.column != column)
            continue;
        if (auto *d = qobject_cast<DateEdit *>(b.widget))
            d->setDateText(value);
        else if (auto *e = qobject_cast<QLineEdit *>(b.widget)) {
            e->setText(value);
            e->setCursorPosition(0); // a long text shows its beginning
        } else if (auto *c = qobject_cast<QComboBox *>(b.widget)) {
            c->setEditText(value);
            c->lineEdit()->setCursorPosition(0);
        } else if (auto *m = qobject_cast<QPlainTextEdit *>(b.widget))
            m->setPlainText(storedToMemo(value));
        else if (auto *x = qobject_cast<QCheckBox *>(b.widget))
            x->setChecked(value == QLatin1String("1"));
    }
}

void TRF::showDefaultPicture()
{
    const QString path = paths::join(m_ctx.session.programFolder,
                                     QStringLiteral("Forms") + QDir::separator() + QStringLiteral("foto.png"));
    QImageReader reader(path);
    const QImage img = reader.read();
    if (img.isNull()) {
        im_foto->clear();
        msg::error(this, QStringLiteral("Не удалось загрузить изображение по умолчанию:\r%1\r%2")
                             .arg(QDir::toNativeSeparators(path), reader.errorString()));
        return;
    }
    im_foto->setPixmap(QPixmap::fromImage(img.scaled(im_foto->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

bool TRF::showPicture(const QString &path)
{
    const pictures::Picture picture = pictures::read(path);
    if (picture.image.isNull()) {
        // The card still finishes its set-up, with the default picture.
        msg::error(this, QStringLiteral("Не удалось загрузить фотографию:\r%1\r%2")
                             .arg(QDir::toNativeSeparators(path), picture.error));
        showDefaultPicture();
        return false;
    }
    im_foto->setPixmap(
        QPixmap::fromImage(picture.image.scaled(im_foto->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    return true;
}

core::CardEditor TRF::editor()
{
    // The scratch folder is made only for a photo on its way in.
    return core::CardEditor(m_ctx.db.access, m_ctx.session.PhotoFolder,
                            PendingPhoto.isEmpty() ? QString() : m_ctx.session.tempFolder());
}

void TRF::LoadCard()
{
    const std::optional<core::CardBaseline> card = editor().load(CardId);
    if (!card) {
        // Nothing of a previous card may stay on the screen.
        ClearCard();
        m_baseline = {cardFromFields(), std::nullopt};
        msg::error(parentWidget(), QStringLiteral("Запись не обнаружена, рекомендуется тестирование базы данных"));
        listOutdated();
        return;
    }
    m_baseline = *card;
    for (const Binding &b : m_bindings)
        setColumnText(b.column, card->card.value(b.column));
    StoredPhoto = card->card.fpath;
    const core::PhotoLocation photo = core::locatePhoto(m_ctx.session.PhotoFolder, StoredPhoto);
    if (photo.state == core::PhotoLocation::Present) {
        showPicture(photo.file);
    } else {
        // Nothing outside the photo folder, and nothing but a plain file, is opened.
        if (photo.state != core::PhotoLocation::None)
            msg::error(this, QStringLiteral("Не удалось загрузить фотографию.\r") +
                                 core::photoProblem(m_ctx.session.PhotoFolder, StoredPhoto, photo));
        showDefaultPicture();
    }
    LoadAccounts(CardId);
}

void TRF::LoadAccounts(qint64)
{
    ClearAccounts();
    const std::optional<core::Accounts> &accounts = m_baseline.accounts;
    if (!accounts)
        return;
    for (int k = 0; k < 4; ++k)
        if (!accounts->network[k].isEmpty())
            sn[k]->setText(accounts->network[k]);
    for (int k = 0; k < 4; ++k) {
        sn_[k]->setText(accounts->address[k]);
        sn_[k]->setCursorPosition(0);
    }
    for (int k = 0; k < 4; ++k)
        snd[k]->setEditText(accounts->network[k]);
}

void TRF::showStored(const core::CardBaseline &stored)
{
    // Only what differs is set again: the fields the user just typed keep
    // their cursor, and a colleague's values merged in by the save show.
    for (const Binding &b : m_bindings)
        if (columnText(b.column) != stored.card.value(b.column))
            setColumnText(b.column, stored.card.value(b.column));
    const core::Accounts shown = core::shownAccounts(stored.accounts);
    for (int k = 0; k < 4; ++k) {
        if (snd[k]->currentText() != shown.network[k])
            snd[k]->setEditText(shown.network[k]);
        sn[k]->setText(shown.network[k]);
        if (sn_[k]->text() != shown.address[k])
            sn_[k]->setText(shown.address[k]);
    }
}

void TRF::tb_editClick()
{
    if (m_ctx.session.CardMode != CardMode::Read || !m_ctx.session.SessionUser.fullRights()) {
        msg::error(this, QStringLiteral("Переключение в режим редактирования доступно только из режима просмотра "
                                        "с правами полного доступа"));
        return;
    }
    m_ctx.session.CardMode = CardMode::Edit;
    FormActivate();
}

// -------------------------------------------------------------------- save

void TRF::checkValues(bool insert)
{
    const core::CardRecord card = cardFromFields();
    QStringList columns;
    QHash<QString, QString> labels;
    for (const Binding &b : m_bindings) {
        columns << b.column;
        labels.insert(b.column, b.label);
    }
    QString problem = m_checks.cardProblem(card, columns, insert ? nullptr : &m_baseline.card,
                                           [&](const QString &column) { return labels.value(column); });
    if (problem.isEmpty() && AccountsChanged)
        problem = m_checks.accountsProblem(accountsFromFields());
    // The reference lists get the work place, department and post as typed.
    if (problem.isEmpty() && !insert)
        problem =
            m_checks.refValuesProblem({ed_work->currentText(), ed_dep->currentText(), ed_post->currentText()},
                                      {ed_work->accessibleName(), ed_dep->accessibleName(), ed_post->accessibleName()});
    if (!problem.isEmpty())
        throw db::DbError(problem);
}

core::CardRecord TRF::cardFromFields() const
{
    core::CardRecord r;
    for (const Binding &b : m_bindings)
        r.values.insert(b.column, columnText(b.column));
    return r;
}

core::Accounts TRF::accountsFromFields() const
{
    core::Accounts a;
    for (int k = 0; k < 4; ++k) {
        a.network[k] = snd[k]->currentText();
        a.address[k] = sn_[k]->text();
    }
    return a;
}

void TRF::setRefItems(sql::Ref ref, const QStringList &values)
{
    QComboBox *box = ref == sql::Ref::Organization ? ed_work : ref == sql::Ref::Department ? ed_dep : ed_post;
    // The box keeps the text it shows, and a refill is not an edit of the card.
    const QSignalBlocker block(box);
    const QString shown = box->currentText();
    box->clear();
    box->addItems(values);
    box->setEditText(shown);
}

void TRF::SaveRefValues()
{
    if (core::RefValues(m_ctx.db.access).save(ed_work->currentText(), ed_dep->currentText(), ed_post->currentText()))
        emit refValuesAdded();
}

core::CardChange TRF::changeFromFields() const
{
    core::CardChange change;
    change.card = cardFromFields();
    if (AccountsChanged)
        change.accounts = accountsFromFields();
    change.photo = PendingPhoto;
    return change;
}

bool TRF::saveNew()
{
    const core::CardChange change = changeFromFields();
    core::CopyOptions copy;
    std::unique_ptr<QProgressDialog> progress = photoProgress(copy);
    const core::SaveResult r =
        editor().insert(change, m_ctx.session.SessionUser.id, makeStamp(m_ctx.session.SessionUser.id), copy);
    progress.reset(); // gone before any message: its own timer would show it over one
    // From here on the card exists: should anything below fail, the card stays
    // open on it and a second save updates it instead of storing it twice.
    CardId = r.id;
    m_ctx.session.CardMode = CardMode::Edit;
    m_baseline = r.stored;
    StoredPhoto = r.stored.card.fpath;
    PendingPhoto.clear();
    setCaption(QStringLiteral("Редактирование"));
    AccountsChanged = false;
    CardChanged = false;
    emit cardStored();
    if (!r.photoProblem.isEmpty())
        msg::error(this, QStringLiteral("Карточка сохранена без фотографии.\r") + r.photoProblem);
    close();
    return true;
}

bool TRF::saveEdit()
{
    const core::CardChange change = changeFromFields();
    core::CopyOptions copy;
    std::unique_ptr<QProgressDialog> progress = photoProgress(copy);
    const core::SaveResult r = editor().update(CardId, change, m_baseline, m_ctx.session.SessionUser.id, true, copy);
    progress.reset(); // gone before any question: its own timer would show it over one
    if (r.outcome == core::SaveResult::Outcome::Gone) {
        // Deleted by someone else meanwhile: nothing was stored, nothing is made again.
        msg::error(this, QStringLiteral("Запись не обнаружена, рекомендуется тестирование базы данных"));
        listOutdated();
        return false;
    }
    if (r.outcome == core::SaveResult::Outcome::Clash)
        return conflictWithColleague(r, change);
    m_baseline = r.stored;
    StoredPhoto = r.stored.card.fpath;
    PendingPhoto.clear();
    showStored(r.stored);
    AccountsChanged = false;
    CardChanged = false;
    setCaption(QStringLiteral("Редактирование"));
    if (r.orgAdded)
        emit refValuesAdded();
    emit cardStored();
    if (!r.photoProblem.isEmpty())
        msg::error(this, QStringLiteral("Карточка сохранена, фотография осталась прежней.\r") + r.photoProblem);
    return true;
}

void TRF::listOutdated()
{
    // The row of a card that is gone leaves the main list.
    emit cardStored();
}

bool TRF::conflictWithColleague(const core::SaveResult &clash, const core::CardChange &mine)
{
    QStringList fields;
    for (const QString &f : clash.clashes) {
        QString label = f == core::kAccountsField ? QStringLiteral("Аккаунты")
                        : f == core::kPhotoField  ? QStringLiteral("Фотография")
                                                  : f;
        for (const Binding &b : m_bindings)
            if (b.column == f)
                label = b.label;
        fields << QStringLiteral("«") + label + QStringLiteral("»");
    }
    const QString both =
        fields.isEmpty() ? QString() : QStringLiteral("Вы оба изменили: %1.\r").arg(fields.join(QStringLiteral(", ")));
    if (msg::askYesNo(this,
                      QStringLiteral("Карточку только что изменил другой пользователь, или он как раз сохраняет её. "
                                     "Ваши изменения не сохранены и остались на экране.\r") +
                          both +
                          QStringLiteral("Показать карточку такой, какой её сохранил другой пользователь? "
                                         "Ваши изменения будут отброшены.\r"
                                         "Если ответить «Нет», можно продолжить правку и сохранить её ещё раз."),
                      QStringLiteral("Внимание!"))) {
        FormActivate(); // the stored version, marks cleared
        m_reloaded = true;
    } else if (!clash.clashes.isEmpty()) {
        // The user has seen the colleague's values of these fields and keeps his own.
        m_baseline = core::acceptClashes(mine, m_baseline, clash.stored);
    }
    return false;
}

bool TRF::tb_saveClick()
{
    if (!m_ctx.session.SessionUser.fullRights()) {
        msg::error(this, QStringLiteral("Сохранение изменений доступно только в режиме редактирования / новой записи "
                                        "с полными правами"));
        return false;
    }
    if (m_ctx.session.CardMode == CardMode::Read)
        return false;
    const bool accountsWere = AccountsChanged;
    bool stored = false;
    m_reloaded = false;
    try {
        checkValues(m_ctx.session.CardMode == CardMode::New);
        stored = m_ctx.session.CardMode == CardMode::New ? saveNew() : saveEdit();
    } catch (...) {
        // Nothing is lost without a question: the card stays marked as changed.
        AccountsChanged = AccountsChanged || accountsWere;
        markChanged();
        throw;
    }
    if (!stored && !m_reloaded) {
        AccountsChanged = AccountsChanged || accountsWere;
        markChanged();
    }
    return stored;
}

void TRF::BitBtn1Click()
{
    if (CardChanged) {
        CardChanged = false;
        bool stored = false;
        try {
            stored = tb_saveClick();
        } catch (...) {
            reportCurrentException();
        }
        if (!stored) {
            if (!m_reloaded)
                markChanged(); // the card stays open with its changes
            return;
        }
    }
    if (m_ctx.session.CardMode != CardMode::New || isVisible())
        close();
}

// ------------------------------------------------------- tracking, closing

void TRF::markChanged()
{
    markModified(CardChanged);
}

void TRF::ed_famChange()
{
    markChanged();
}

void TRF::snd1Change()
{
    markChanged();
    AccountsChanged = true;
}

bool TRF::FormCloseQuery()
{
    if (!CardChanged)
        return true;
    if (!askSaveChanges())
        return true;
    CardChanged = false;
    bool stored = false;
    try {
        stored = tb_saveClick();
    } catch (...) {
        reportCurrentException();
    }
    if (!stored && !m_reloaded)
        markChanged(); // a save that did not happen keeps the card open: no edit is lost
    return stored;
}

bool TRF::canClose()
{
    bool ok = true;
    guardedCall([&] { ok = FormCloseQuery(); });
    return ok;
}

void TRF::ToolButton26Click()
{
    close();
}

bool TRF::ed_famKeyPress(QWidget *w)
{
    // Memos take Enter as a new line.
    if (qobject_cast<QPlainTextEdit *>(w))
        return false;
    // The three reference lists have no Enter: their text stays as it is (Qt
    // would put the current list item in its place).
    if (w == ed_work || w == ed_dep || w == ed_post)
        return true;
    focusNextChild();
    return true;
}

bool TRF::ed_famKeyDown(int key, Qt::KeyboardModifiers mods)
{
    if (!isEditKey(key, mods))
        return false;
    tb_edit->click();
    return true;
}

void TRF::keyPressEvent(QKeyEvent *e)
{
    if (e->key() == Qt::Key_Escape) { // the card has no Esc
        e->accept();
        return;
    }
    ModalWindow::keyPressEvent(e);
}

bool TRF::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return ModalWindow::eventFilter(watched, event);
    auto *k = static_cast<QKeyEvent *>(event);
    auto *w = qobject_cast<QWidget *>(watched);
    if (auto *box = qobject_cast<QComboBox *>(w ? w->parentWidget() : nullptr); box && box->lineEdit() == w)
        w = box; // the editor inside a drop-down box
    const QList<QWidget *> noF4 = {ed_htel, ed_hmob, ed_hmail, ed_hskype};
    bool handled = false;
    guardedCall([&] {
        if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter)
            handled = ed_famKeyPress(w);
        else if (k->key() == Qt::Key_F4 && !noF4.contains(w))
            handled = ed_famKeyDown(k->key(), k->modifiers());
    });
    return handled || ModalWindow::eventFilter(watched, event);
}

void TRF::tb_delClick()
{
    if (!m_ctx.session.SessionUser.fullRights() || m_ctx.session.CardMode != CardMode::Edit) {
        msg::error(this, QStringLiteral("Удаление проводится в режиме редактирования с правами полного доступа"));
        return;
    }
    if (!msg::askYesNo(this,
                       QStringLiteral("Внимание! Запись будет удалена без возможности восстановления, продолжать ?"),
                       QStringLiteral("Удаление")))
        return;
    core::CardStore(m_ctx.db.access).remove(CardId);
    // Nothing is left to ask about: the card is gone.
    CardChanged = false;
    emit cardStored();
    close();
}

void TRF::tb_expClick()
{
    if (m_ctx.session.CardMode == CardMode::New) {
        msg::error(this, QStringLiteral("Печатная форма доступна только в режиме просмотра или редактирования"));
        return;
    }
    emit exportRequested(CardId);
}
