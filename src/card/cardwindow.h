#pragma once
// The person card: one record of Base with its accounts and photo, shown in
// one of three modes (new, edit, read), saved, tracked for changes.

#include "app/modalwindow.h"
#include "app/state.h"
#include "core/cardcheck.h"
#include "core/cardediting.h"
#include "db/statements.h"

#include <QHash>
#include <QList>
#include <memory>

class DateEdit;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressDialog;
class QPushButton;
class QToolButton;
class QWidget;

class TRF : public ModalWindow
{
    Q_OBJECT
public:
    TRF(Context &context, QWidget *parent);

    // Shows the card modally in `mode` for the card `id` (unused for a new one).
    void open(CardMode mode, qint64 id);
    // What open sets before the card is shown.
    void setOpening(CardMode mode, qint64 id);
    // The card's set-up, when it opens and when it shows the stored card again.
    void FormActivate() override;
    void ClearCard();
    void ClearAccounts();
    void ShowAccountLabels();
    void ShowAccountCombos();
    void LockCard();
    void UnlockCard();
    void LoadCard();
    void LoadAccounts(qint64 id);
    // "Редактирование": a card opened for reading becomes editable (full rights).
    void tb_editClick();

    // Saving.
    // Stores the card; false when nothing was stored (refused, or the record is gone).
    bool tb_saveClick();
    // "Сохранить и выйти": stores the card and closes the window when stored.
    void BitBtn1Click();
    void SaveRefValues();

    // Change tracking, closing, keys, deletion.
    // Any field of the card edited: the card is marked changed.
    void ed_famChange();
    // An account's network or address edited: the accounts are saved too.
    void snd1Change();
    bool FormCloseQuery();
    // "Закрыть": closes the card, asking first about unsaved changes.
    void ToolButton26Click();
    // Enter in a field moves to the next one (a memo takes it as a new line).
    bool ed_famKeyPress(QWidget *w);
    // F4 in a field: as "Редактирование".
    bool ed_famKeyDown(int key, Qt::KeyboardModifiers mods);
    // "Удалить запись": deletes the card after asking (full rights, edit mode).
    void tb_delClick();
    // "Печатная форма": the card printed into the workbook form and opened.
    void tb_expClick();

    // The photo.
    // "Загрузить фотографию": a picture file becomes the card's photo.
    void sb_loadClick();
    // "Загрузить фрагмент фотографии": a part of a picture, cut out in the fragment tool.
    void sb_pictClick();
    // "Просмотр фотографии": the photo opened in the picture viewer.
    void sb_lookClick();
    // "Удалить фотографию": the card's photo removed after asking.
    void sb_delClick();
    // Deletes the photo the card shows; false when a colleague changed it meanwhile.
    bool DeletePhotoFile(qint64 id);
    // A fragment accepted in the fragment tool becomes the card's chosen photo.
    void acceptFragment(const QString &path);

    // The card's state.
    qint64 CardId = 0;
    QString StoredPhoto;
    QString PendingPhoto;
    bool CardChanged = false;
    bool AccountsChanged = false;

    // The stored value of each Base column as the card shows it now.
    QString columnText(const QString &column) const;
    // The card and its accounts as the fields show them now.
    core::CardRecord cardFromFields() const;
    core::Accounts accountsFromFields() const;
    // Replaces the items of a reference drop-down list; the text it shows stays.
    void setRefItems(sql::Ref ref, const QStringList &values);

signals:
    // A card was saved or deleted, or found gone: the main list is refilled.
    void cardStored();
    // A saved card added an organization to its reference book.
    void refValuesAdded();
    // The printout of a stored card was asked for.
    void exportRequested(qint64 id);
    // The fragment tool was asked for; it runs modally before the emit returns.
    void fragmentToolRequested();

public:
    // Controls.
    QToolButton *tb_save, *tb_edit, *tb_exp, *tb_del, *ToolButton26;
    QPushButton *BitBtn1;
    QLineEdit *ed_fam, *ed_name1, *ed_name2;
    QComboBox *ed_work, *ed_dep, *ed_post;
    DateEdit *pk_bdate, *pk_pdate1, *pk_pdate2, *pk_vdate1, *pk_vdate2;
    QLineEdit *ed_wtel, *ed_htel, *ed_wmob, *ed_hmob, *ed_wmail, *ed_hmail, *ed_wskype, *ed_hskype;
    QLineEdit *ed_ps, *ed_pnum, *ed_vs, *ed_vnum;
    QPlainTextEdit *mm_other, *mm_rem;
    QWidget *Panel1;
    QCheckBox *ch_smok, *ch_alc, *ch_hunt, *ch_fish, *ch_paint, *ch_art, *ch_trav, *ch_mus, *ch_cook, *ch_sport;
    QLabel *im_foto;
    QToolButton *sb_del, *sb_look, *sb_pict, *sb_load;
    QComboBox *snd[4];
    QLabel *sn[4];
    QLineEdit *sn_[4];

protected:
    bool canClose() override;
    void keyPressEvent(QKeyEvent *e) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Binding
    {
        QString column;
        QString label; // for messages and screen readers
        QWidget *widget;
    };
    void buildToolBar(QWidget *bar);
    QWidget *buildPhotoColumn();
    QWidget *buildMainColumn();
    QWidget *buildRightColumn();
    void wire();
    void setCaption(const QString &mode);
    void setLocked(bool locked);
    // Shows the picture file; false (and the default picture) when it cannot be read.
    bool showPicture(const QString &path);
    void showDefaultPicture();
    void setColumnText(const QString &column, const QString &value);
    // Checks every value against the database before anything is written.
    void checkValues(bool insert);
    bool saveNew();
    bool saveEdit();
    // What a save stores: the fields, the accounts when edited, the chosen photo.
    core::CardChange changeFromFields() const;
    core::CardEditor editor();
    // The copy of a chosen photo shows its progress once it takes a while.
    std::unique_ptr<QProgressDialog> photoProgress(core::CopyOptions &copy);
    // Shows the card as stored, the change marks left as they are.
    void showStored(const core::CardBaseline &stored);
    // Tells of a colleague's change that clashes with this edit (the fields
    // both changed) and offers the stored version; after "Нет" the next save
    // writes this edit's values over those fields.
    bool conflictWithColleague(const core::SaveResult &clash, const core::CardChange &mine);
    // The card turned out to be gone: the main list is refilled without it.
    void listOutdated();
    void markChanged();

    QString m_mode; // the caption's mode word
    QList<Binding> m_bindings;
    core::CardChecks m_checks;
    core::CardBaseline m_baseline; // the card as last read or stored: what a save merges against
    bool m_reloaded = false;       // a save gave way to the stored version
};
