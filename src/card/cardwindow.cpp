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

// "Linkedln" is spelt as existing databases store it: other copies compare it.
const QStringList kNetworks = {QStringLiteral("WeChat"), QStringLiteral("QQ"),      QStringLiteral("Facebook"),
                               QStringLiteral("VK"),     QStringLiteral("Linkedln"), QStringLiteral("Weibo"),
                               QStringLiteral("Twitter"), QStringLiteral("Instagram")};

QLabel *sectionLabel(const QString &text, QWidget *parent)
{
    auto *l = new QLabel(text, parent);
    QFont f = l->font();
    f.setBold(true);
    l->setFont(f);
    return l;
}

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

TRF::TRF(Context &context, QWidget *parent) : ModalWindow(context, parent), m_checks(context.db.iRead)
{
    setObjectName(QStringLiteral("TRF"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    auto *v = new QVBoxLayout(this);
    v->setContentsMargins(6, 2, 6, 6);
    v->setSpacing(2);
    auto *bar = new QWidget(this);
    buildToolBar(bar);
    v->addWidget(bar);
    auto *group = new QHBoxLayout;
    group->setSpacing(10);
    group->addWidget(buildPhotoColumn());
    group->addWidget(buildMainColumn(), 1);
    group->addWidget(buildRightColumn());
    v->addLayout(group, 1);
    setFixedSize(997, 458);

    // Tab order: the fields of the table, the accounts between the two memos,
    // then the habit boxes.
    QList<QWidget *> order = {ed_fam,  ed_name1,  ed_name2,  ed_work,  ed_dep,   ed_post,   pk_bdate,  ed_wtel,
                              ed_htel, ed_wmob,   ed_hmob,   ed_wmail, ed_hmail, ed_wskype, ed_hskype, ed_ps,
                              ed_pnum, pk_pdate1, pk_pdate2, ed_vs,    ed_vnum,  pk_vdate1, pk_vdate2};
    for (int i = 0; i < 4; ++i)
        order << snd[i] << sn_[i];
    order << mm_rem << ch_smok << ch_alc << ch_hunt << ch_fish << ch_paint << ch_art << ch_trav << ch_mus << ch_cook
          << ch_sport;
    for (int i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
    wire();
    ShowAccountCombos();
}

void TRF::buildToolBar(QWidget *bar)
{
    auto *h = new QHBoxLayout(bar);
    h->setContentsMargins(0, 0, 0, 0);
    h->setSpacing(4);
    tb_save = makeToolButton(bar, "tb_save", icons::Id::Save, QStringLiteral("Сохранить"));
    tb_edit = makeToolButton(bar, "tb_edit", icons::Id::Edit, QStringLiteral("Редактирование"));
    tb_exp = makeToolButton(bar, "tb_exp", icons::Id::Export, QStringLiteral("Печатная форма"));
    tb_del = makeToolButton(bar, "tb_del", icons::Id::Delete, QStringLiteral("Удалить запись"));
    BitBtn1 = new QPushButton(QStringLiteral("Сохранить\nи выйти"), bar);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setAutoDefault(false);
    BitBtn1->setFocusPolicy(Qt::NoFocus);
    BitBtn1->setFixedHeight(38);
    setAccessible(BitBtn1, QStringLiteral("Сохранить и выйти"));
    ToolButton26 = makeToolButton(bar, "ToolButton26", icons::Id::Exit, QStringLiteral("Закрыть"));
    h->addWidget(tb_save);
    h->addWidget(tb_edit);
    h->addSpacing(8);
    h->addWidget(tb_exp);
    h->addSpacing(8);
    h->addWidget(tb_del);
    h->addSpacing(16);
    h->addWidget(BitBtn1);
    h->addStretch(1);
    h->addWidget(ToolButton26);
}

QWidget *TRF::buildPhotoColumn()
{
    auto *col = new QWidget(this);
    auto *v = new QVBoxLayout(col);
    v->setContentsMargins(0, 4, 0, 0);
    im_foto = new QLabel(col);
    im_foto->setObjectName(QStringLiteral("im_foto"));
    im_foto->setFixedSize(208, 278);
    im_foto->setAlignment(Qt::AlignCenter);
    im_foto->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setAccessible(im_foto, QStringLiteral("Фотография"));
    v->addWidget(im_foto);
    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(2);
    auto photoButton = [&](const char *name, icons::Id icon, const QString &hint) {
        QToolButton *b = makeToolButton(col, name, icon, hint);
        b->setIconSize(QSize(24, 24));
        b->setFixedSize(32, 30);
        buttons->addWidget(b);
        return b;
    };
    sb_del = photoButton("sb_del", icons::Id::Delete, QStringLiteral("Удалить фотографию"));
    sb_look = photoButton("sb_look", icons::Id::View, QStringLiteral("Просмотр фотографии"));
    sb_pict = photoButton("sb_pict", icons::Id::Crop, QStringLiteral("Загрузить фрагмент фотографии"));
    sb_load = photoButton("sb_load", icons::Id::Open, QStringLiteral("Загрузить фотографию"));
    buttons->addStretch(1);
    v->addLayout(buttons);
    v->addStretch(1);
    return col;
}

QWidget *TRF::buildMainColumn()
{
    auto *col = new QWidget(this);
    auto *g = new QGridLayout(col);
    g->setContentsMargins(0, 0, 0, 0);
    g->setHorizontalSpacing(6);
    g->setVerticalSpacing(3);
    int row = 0;
    auto edit = [&](QLineEdit *&e, const char *name, const QString &column, const QString &label) {
        e = new QLineEdit(col);
        e->setObjectName(QLatin1String(name));
        setAccessible(e, label);
        m_bindings.append({column, label, e});
        return e;
    };
    auto combo = [&](QComboBox *&b, const char *name, const QString &column, const QString &label) {
        b = new QComboBox(col);
        b->setObjectName(QLatin1String(name));
        makeTypedTextBox(b);
        b->setMaxVisibleItems(20);
        setAccessible(b, label);
        m_bindings.append({column, label, b});
        return b;
    };
    auto date = [&](DateEdit *&d, const char *name, const QString &column, const QString &label) {
        d = new DateEdit(col);
        d->setObjectName(QLatin1String(name));
        d->setFixedWidth(78);
        setAccessible(d, label);
        m_bindings.append({column, label, d});
        return d;
    };
    auto labelled = [&](const QString &text, QWidget *w, int span = 3) {
        auto *l = new QLabel(text, col);
        l->setBuddy(w);
        g->addWidget(l, row, 0);
        g->addWidget(w, row, 1, 1, span);
        ++row;
    };

    g->addWidget(sectionLabel(QStringLiteral("Основные данные"), col), row++, 0, 1, 4);
    labelled(QStringLiteral("Фамилия"), edit(ed_fam, "ed_fam", "fam", QStringLiteral("Фамилия")));
    labelled(QStringLiteral("Имя"), edit(ed_name1, "ed_name1", "name1", QStringLiteral("Имя")));
    labelled(QStringLiteral("Отчество"), edit(ed_name2, "ed_name2", "name2", QStringLiteral("Отчество")));
    labelled(QStringLiteral("Место работы"), combo(ed_work, "ed_work", "work", QStringLiteral("Место работы")));
    labelled(QStringLiteral("Отдел"), combo(ed_dep, "ed_dep", "dep", QStringLiteral("Отдел")));
    labelled(QStringLiteral("Должность"), combo(ed_post, "ed_post", "post", QStringLiteral("Должность")));
    labelled(QStringLiteral("Дата рожд."), date(pk_bdate, "pk_bdate", "bdate", QStringLiteral("Дата рождения")), 1);

    auto *contacts = new QHBoxLayout;
    contacts->addWidget(sectionLabel(QStringLiteral("Контакты"), col));
    contacts->addWidget(new QLabel(QStringLiteral("( рабочий / личный)"), col));
    contacts->addStretch(1);
    g->addLayout(contacts, row++, 0, 1, 4);
    auto pair = [&](const QString &shortLabel, const QString &hint, QLineEdit *&w, const char *wn, const char *wc,
                    QLineEdit *&h, const char *hn, const char *hc) {
        auto *l = new QLabel(shortLabel, col);
        l->setToolTip(hint);
        g->addWidget(l, row, 0);
        g->addWidget(edit(w, wn, QLatin1String(wc), hint + QStringLiteral(" (рабочий)")), row, 1);
        g->addWidget(edit(h, hn, QLatin1String(hc), hint + QStringLiteral(" (личный)")), row, 2, 1, 2);
        w->setToolTip(hint);
        h->setToolTip(hint);
        l->setBuddy(w);
        ++row;
    };
    pair(QStringLiteral("Телефон"), QStringLiteral("Стационарный телефон"), ed_wtel, "ed_wtel", "wtel", ed_htel, "ed_htel", "htel");
    pair(QStringLiteral("Мобильный"), QStringLiteral("Мобильный телефон"), ed_wmob, "ed_wmob", "wmob", ed_hmob, "ed_hmob", "hmob");
    pair(QStringLiteral("E-mail"), QStringLiteral("Электронная почта"), ed_wmail, "ed_wmail", "wmail", ed_hmail, "ed_hmail", "hmail");
    pair(QStringLiteral("Skype"), QStringLiteral("Skype"), ed_wskype, "ed_wskype", "wskype", ed_hskype, "ed_hskype", "hskype");

    // Passport and visa: series, number, date of issue, valid until.
    auto *docs = new QGridLayout;
    docs->setHorizontalSpacing(6);
    docs->setVerticalSpacing(1);
    const QStringList heads = {QString(), QStringLiteral("серия"), QStringLiteral("номер"),
                               QStringLiteral("дата выдачи / действия")};
    for (int c = 1; c < heads.size(); ++c)
        docs->addWidget(new QLabel(heads[c], col), 0, c, 1, c == 3 ? 2 : 1);
    auto docRow = [&](int r, const QString &title, QLineEdit *&s, const char *sn, const char *sc, QLineEdit *&n,
                      const char *nn, const char *nc, DateEdit *&d1, const char *d1n, const char *d1c, DateEdit *&d2,
                      const char *d2n, const char *d2c) {
        docs->addWidget(sectionLabel(title, col), r, 0);
        docs->addWidget(edit(s, sn, QLatin1String(sc), title + QStringLiteral(": серия")), r, 1);
        docs->addWidget(edit(n, nn, QLatin1String(nc), title + QStringLiteral(": номер")), r, 2);
        docs->addWidget(date(d1, d1n, QLatin1String(d1c), title + QStringLiteral(": дата выдачи")), r, 3);
        docs->addWidget(date(d2, d2n, QLatin1String(d2c), title + QStringLiteral(": действителен до")), r, 4);
        s->setFixedWidth(48);
        n->setMinimumWidth(70);
    };
    docRow(1, QStringLiteral("Паспорт"), ed_ps, "ed_ps", "ps", ed_pnum, "ed_pnum", "pnum", pk_pdate1, "pk_pdate1",
           "pdate1", pk_pdate2, "pk_pdate2", "pdate2");
    docRow(2, QStringLiteral("Виза"), ed_vs, "ed_vs", "vs", ed_vnum, "ed_vnum", "vnum", pk_vdate1, "pk_vdate1", "vdate1",
           pk_vdate2, "pk_vdate2", "vdate2");
    docs->setColumnStretch(2, 1);
    g->addLayout(docs, row++, 0, 1, 4);
    g->setColumnStretch(1, 1);
    g->setColumnStretch(2, 1);
    g->setRowStretch(row, 1);
    return col;
}

QWidget *TRF::buildRightColumn()
{
    auto *col = new QWidget(this);
    col->setFixedWidth(400);
    auto *v = new QVBoxLayout(col);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(2);

    v->addWidget(sectionLabel(QStringLiteral("Привычки"), col));
    Panel1 = new QWidget(col);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    auto *habits = new QGridLayout(Panel1);
    habits->setContentsMargins(0, 0, 0, 0);
    habits->setVerticalSpacing(0);
    struct H { QCheckBox *&box; const char *name, *column; QString text; };
    const H list[] = {{ch_smok, "ch_smok", "smok", QStringLiteral("Курение")},
                      {ch_alc, "ch_alc", "alc", QStringLiteral("Алкоголь")},
                      {ch_hunt, "ch_hunt", "hunt", QStringLiteral("Охота")},
                      {ch_fish, "ch_fish", "fish", QStringLiteral("Рыбалка")},
                      {ch_paint, "ch_paint", "paint", QStringLiteral("Живопись")},
                      {ch_art, "ch_art", "art", QStringLiteral("Искусство")},
                      {ch_trav, "ch_trav", "trav", QStringLiteral("Туризм")},
                      {ch_mus, "ch_mus", "mus", QStringLiteral("Музыка")},
                      {ch_cook, "ch_cook", "cook", QStringLiteral("Кулинария ")},
                      {ch_sport, "ch_sport", "sport", QStringLiteral("Спорт")}};
    int i = 0;
    for (const H &h : list) {
        h.box = new QCheckBox(h.text, Panel1);
        h.box->setObjectName(QLatin1String(h.name));
        setAccessible(h.box, h.text.trimmed());
        m_bindings.append({QLatin1String(h.column), h.text.trimmed(), h.box});
        habits->addWidget(h.box, i / 4, i % 4);
        ++i;
    }
    v->addWidget(Panel1);

    v->addWidget(sectionLabel(QStringLiteral("Прочее"), col));
    mm_other = new QPlainTextEdit(col);
    mm_other->setObjectName(QStringLiteral("mm_other"));
    mm_other->setTabChangesFocus(true);
    mm_other->setFocusPolicy(Qt::ClickFocus);
    mm_other->setFixedHeight(58);
    setAccessible(mm_other, QStringLiteral("Прочее"));
    m_bindings.append({QStringLiteral("other"), QStringLiteral("Прочее"), mm_other});
    v->addWidget(mm_other);

    auto *netHead = new QHBoxLayout;
    netHead->addWidget(sectionLabel(QStringLiteral("Социальные сети"), col));
    netHead->addWidget(new QLabel(QStringLiteral("(сеть / адрес страницы)"), col));
    netHead->addStretch(1);
    v->addLayout(netHead);
    auto *nets = new QGridLayout;
    nets->setHorizontalSpacing(4);
    nets->setVerticalSpacing(2);
    for (int k = 0; k < 4; ++k) {
        snd[k] = new QComboBox(col);
        snd[k]->setObjectName(QStringLiteral("snd%1").arg(k + 1));
        makeTypedTextBox(snd[k]);
        snd[k]->addItems(kNetworks);
        snd[k]->setFixedWidth(110);
        setAccessible(snd[k], QStringLiteral("Сеть %1").arg(k + 1));
        sn[k] = new QLabel(col);
        sn[k]->setObjectName(QStringLiteral("sn%1").arg(k + 1));
        sn[k]->setFixedWidth(110);
        setAccessible(sn[k], QStringLiteral("Сеть %1").arg(k + 1));
        sn_[k] = new QLineEdit(col);
        sn_[k]->setObjectName(QStringLiteral("sn_%1").arg(k + 1));
        setAccessible(sn_[k], QStringLiteral("Адрес %1").arg(k + 1));
        nets->addWidget(snd[k], k, 0);
        nets->addWidget(sn[k], k, 0);
        nets->addWidget(sn_[k], k, 1);
    }
    v->addLayout(nets);

    v->addWidget(sectionLabel(QStringLiteral("Примечания"), col));
    mm_rem = new QPlainTextEdit(col);
    mm_rem->setObjectName(QStringLiteral("mm_rem"));
    mm_rem->setTabChangesFocus(true);
    setAccessible(mm_rem, QStringLiteral("Примечания"));
    m_bindings.append({QStringLiteral("rem"), QStringLiteral("Примечания"), mm_rem});
    v->addWidget(mm_rem, 1);
    return col;
}

// Which control reacts to what: changes mark the card, Enter moves on, F4 edits.
void TRF::wire()
{
    const QList<QLineEdit *> withF4 = {ed_fam, ed_name1, ed_name2, ed_wtel, ed_wmob, ed_wmail, ed_wskype,
                                       ed_ps,  ed_pnum,  ed_vs,    ed_vnum};
    const QList<QLineEdit *> withoutF4 = {ed_htel, ed_hmob, ed_hmail, ed_hskype};
    for (QLineEdit *e : withF4 + withoutF4)
        onSignal(e, &QLineEdit::textChanged, this, [this] { ed_famChange(); });
    for (DateEdit *d : {pk_bdate, pk_pdate1, pk_pdate2, pk_vdate1, pk_vdate2})
        onSignal(d, &QLineEdit::textChanged, this, [this] { ed_famChange(); });
    for (QComboBox *b : {ed_work, ed_dep, ed_post})
        onSignal(b, &QComboBox::editTextChanged, this, [this] { ed_famChange(); });
    for (QPlainTextEdit *m : {mm_other, mm_rem})
        onSignal(m, &QPlainTextEdit::textChanged, this, [this] { ed_famChange(); });
    for (QCheckBox *c : {ch_smok, ch_alc, ch_hunt, ch_fish, ch_paint, ch_art, ch_trav, ch_mus, ch_cook, ch_sport})
        onSignal(c, &QCheckBox::toggled, this, [this] { ed_famChange(); }); // also a screen reader's toggle
    for (int k = 0; k < 4; ++k) {
        onSignal(snd[k], &QComboBox::editTextChanged, this, [this] { snd1Change(); });
        onSignal(sn_[k], &QLineEdit::textChanged, this, [this] { snd1Change(); });
    }

    // Keys: every control gets the filter; the handlers decide by the wiring table.
    for (QWidget *w : findChildren<QWidget *>())
        if (qobject_cast<QLineEdit *>(w) || qobject_cast<QComboBox *>(w) || qobject_cast<QPlainTextEdit *>(w) ||
            qobject_cast<QCheckBox *>(w))
            w->installEventFilter(this);

    onSignal(tb_save, &QToolButton::clicked, this, [this] { tb_saveClick(); });
    onSignal(tb_edit, &QToolButton::clicked, this, [this] { tb_editClick(); });
    onSignal(tb_exp, &QToolButton::clicked, this, [this] { tb_expClick(); });
    onSignal(tb_del, &QToolButton::clicked, this, [this] { tb_delClick(); });
    onSignal(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
    onSignal(ToolButton26, &QToolButton::clicked, this, [this] { ToolButton26Click(); });
    onSignal(sb_del, &QToolButton::clicked, this, [this] { sb_delClick(); });
    onSignal(sb_look, &QToolButton::clicked, this, [this] { sb_lookClick(); });
    onSignal(sb_pict, &QToolButton::clicked, this, [this] { sb_pictClick(); });
    onSignal(sb_load, &QToolButton::clicked, this, [this] { sb_loadClick(); });
}

// ------------------------------------------------------------------ set-up

void TRF::setCaption(const QString &mode)
{
    m_mode = mode;
    setWindowTitle(mode);
}

void TRF::setOpening(const QString &mode, qint64 id)
{
    m_ctx.session.CardMode = mode;
    CardId = mode == QLatin1String("new") ? 0 : id;
}

void TRF::open(const QString &mode, qint64 id)
{
    setOpening(mode, id);
    showModal();
}

void TRF::FormActivate()
{
    StoredPhoto.clear();
    PendingPhoto.clear();
    if (m_ctx.session.CardMode == QLatin1String("new")) {
        UnlockCard();
        ClearCard();
        setCaption(QStringLiteral("Новая запись"));
        ShowAccountCombos();
    } else if (m_ctx.session.CardMode == QLatin1String("edit")) {
        ShowAccountCombos();
        UnlockCard();
        LoadCard();
        setCaption(QStringLiteral("Редактирование"));
    } else if (m_ctx.session.CardMode == QLatin1String("read")) {
        ShowAccountLabels();
        LockCard();
        LoadCard();
        setCaption(QStringLiteral("Просмотр"));
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
    const QString path = paths::join(m_ctx.session.programFolder, QStringLiteral("Forms") + QDir::separator() +
                                                                 QStringLiteral("foto.png"));
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

void TRF::LoadCard()
{
    const std::optional<core::CardRecord> card = core::CardStore(m_ctx.db).load(CardId);
    if (!card) {
        // Nothing of a previous card may stay on the screen.
        ClearCard();
        m_loaded = cardFromFields();
        m_loadedAccounts.reset();
        msg::error(parentWidget(), QStringLiteral("Запись не обнаружена, рекомендуется тестирование базы данных"));
        listOutdated();
        return;
    }
    m_loaded = *card;
    for (const Binding &b : m_bindings)
        setColumnText(b.column, card->value(b.column));
    StoredPhoto = card->fpath;
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

void TRF::LoadAccounts(qint64 id)
{
    ClearAccounts();
    const std::optional<core::Accounts> accounts = core::CardStore(m_ctx.db).loadAccounts(id);
    m_loadedAccounts = accounts;
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

void TRF::tb_editClick()
{
    if (m_ctx.session.CardMode != QLatin1String("read") || !m_ctx.session.SessionUser.fullRights()) {
        msg::error(this, QStringLiteral("Переключение в режим редактирования доступно только из режима просмотра "
                                        "с правами полного доступа"));
        return;
    }
    m_ctx.session.CardMode = QStringLiteral("edit");
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
    QString problem = m_checks.cardProblem(card, columns, insert ? nullptr : &m_loaded,
                                           [&](const QString &column) { return labels.value(column); });
    if (problem.isEmpty() && AccountsChanged)
        problem = m_checks.accountsProblem(accountsFromFields());
    // The reference lists get the work place, department and post as typed.
    if (problem.isEmpty() && !insert)
        problem = m_checks.refValuesProblem({ed_work->currentText(), ed_dep->currentText(), ed_post->currentText()},
                                            {ed_work->accessibleName(), ed_dep->accessibleName(),
                                             ed_post->accessibleName()});
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
    if (core::RefValues(m_ctx.db).SaveRefValues(ed_work->currentText(), ed_dep->currentText(), ed_post->currentText()))
        emit refValuesAdded();
}

bool TRF::saveNew()
{
    const core::Accounts accounts = accountsFromFields();
    const core::CardRecord card = cardFromFields();
    const QString stamp = MakeStamp(m_ctx.session.SessionUser.id);
    const qint64 id =
        core::CardStore(m_ctx.db).insert(card, m_ctx.session.SessionUser.id, stamp, AccountsChanged ? &accounts : nullptr);
    // From here on the card exists: should anything below fail, the card stays
    // open on it and a second save updates it instead of storing it twice.
    CardId = id;
    m_ctx.session.CardMode = QStringLiteral("edit");
    m_loaded = card;
    m_loadedAccounts = AccountsChanged ? std::optional(accounts) : std::nullopt;
    setCaption(QStringLiteral("Редактирование"));
    AccountsChanged = false;
    if (!PendingPhoto.isEmpty())
        AttachPhoto(id, stamp);
    CardChanged = false;
    m_ctx.session.RefreshOnActivate = true;
    emit cardStored();
    close();
    return true;
}

bool TRF::saveEdit()
{
    const core::Accounts accounts = accountsFromFields();
    const core::CardRecord card = cardFromFields();
    bool updated = false;
    try {
        updated = core::CardStore(m_ctx.db).update(CardId, card, m_ctx.session.SessionUser.id, AccountsChanged ? &accounts : nullptr,
                                                   m_loaded, m_loadedAccounts);
    } catch (const db::DbError &e) {
        if (!e.conflict())
            throw;
        // A colleague saved or deleted this card since it was loaded, or is saving
        // it now; this save was rolled back whole.
        if (core::CardStore(m_ctx.db).load(CardId))
            return conflictWithColleague();
    }
    if (!updated) {
        // Deleted by someone else meanwhile: nothing was stored, nothing is made again.
        msg::error(this, QStringLiteral("Запись не обнаружена, рекомендуется тестирование базы данных"));
        listOutdated();
        return false;
    }
    m_loaded = card;
    if (AccountsChanged)
        m_loadedAccounts = accounts;
    AccountsChanged = false;
    if (!PendingPhoto.isEmpty())
        AttachPhoto(CardId, core::PhotoStore(m_ctx.db, m_ctx.session.PhotoFolder).stamp(CardId));
    CardChanged = false;
    setCaption(QStringLiteral("Редактирование"));
    SaveRefValues();
    m_ctx.session.RefreshOnActivate = true;
    emit cardStored();
    return true;
}

void TRF::listOutdated()
{
    // The row of a card that is gone leaves the main list.
    m_ctx.session.RefreshOnActivate = true;
    emit cardStored();
}

bool TRF::conflictWithColleague()
{
    if (msg::askYesNo(this,
                      QStringLiteral("Карточку только что изменил другой пользователь, или он как раз сохраняет её. "
                                     "Ваши изменения не сохранены и остались на экране.\r"
                                     "Показать карточку такой, какой её сохранил другой пользователь? "
                                     "Ваши изменения будут отброшены.\r"
                                     "Если ответить «Нет», можно продолжить правку и сохранить её ещё раз."),
                      QStringLiteral("Внимание!"))) {
        FormActivate(); // the stored version, marks cleared
        m_reloaded = true;
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
    if (m_ctx.session.CardMode != QLatin1String("new") && m_ctx.session.CardMode != QLatin1String("edit"))
        return false;
    const bool accountsWere = AccountsChanged;
    bool stored = false;
    m_reloaded = false;
    try {
        checkValues(m_ctx.session.CardMode == QLatin1String("new"));
        stored = m_ctx.session.CardMode == QLatin1String("new") ? saveNew() : saveEdit();
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
    if (m_ctx.session.CardMode != QLatin1String("new") || isVisible())
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
    if (!m_ctx.session.SessionUser.fullRights() || m_ctx.session.CardMode != QLatin1String("edit")) {
        msg::error(this, QStringLiteral("Удаление проводится в режиме редактирования с правами полного доступа"));
        return;
    }
    if (!msg::askYesNo(this, QStringLiteral("Внимание! Запись будет удалена без возможности восстановления, продолжать ?"),
                       QStringLiteral("Удаление")))
        return;
    core::CardStore(m_ctx.db).remove(CardId);
    // Nothing is left to ask about: the card is gone.
    CardChanged = false;
    m_ctx.session.RefreshOnActivate = true;
    emit cardStored();
    close();
}

void TRF::tb_expClick()
{
    if (m_ctx.session.CardMode == QLatin1String("new")) {
        msg::error(this, QStringLiteral("Печатная форма доступна только в режиме просмотра или редактирования"));
        return;
    }
    emit exportRequested(CardId);
}

// ------------------------------------------------------------------ photo

static const QString kLoadRefused =
    QStringLiteral("Фотографии загружаются в режиме редактирования или новой записи с полными правами");
static const QString kDeleteRefused = QStringLiteral("Удаление проводится в режиме редактирования с правами полного доступа");

void TRF::sb_loadClick()
{
    if (!m_ctx.session.SessionUser.fullRights() || m_ctx.session.CardMode == QLatin1String("read")) {
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
    if (!m_ctx.session.SessionUser.fullRights() || m_ctx.session.CardMode == QLatin1String("read")) {
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
    const std::optional<QString> fpath = core::PhotoStore(m_ctx.db, m_ctx.session.PhotoFolder).storedPath(CardId);
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
    if (!m_ctx.session.SessionUser.fullRights() || m_ctx.session.CardMode != QLatin1String("edit")) {
        msg::error(this, kDeleteRefused);
        return;
    }
    if (StoredPhoto.isEmpty()) {
        msg::error(this, QStringLiteral("Фото не загружено"));
        return;
    }
    if (!msg::askYesNo(this, QStringLiteral("Внимание! Фото будет удалено без возможности восстановления, продолжать ?"),
                       QStringLiteral("Удаление")))
        return;
    DeletePhotoFile(CardId);
    m_ctx.session.RefreshOnActivate = true;
    FormActivate(); // loaded again: the default picture, unsaved changes dropped
}

void TRF::DeletePhotoFile(qint64 id)
{
    const QString fpath = StoredPhoto;
    const core::PhotoLocation photo = core::locatePhoto(m_ctx.session.PhotoFolder, fpath);
    switch (core::PhotoStore(m_ctx.db, m_ctx.session.PhotoFolder).DeletePhotoFile(id)) {
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
}

void TRF::AttachPhoto(qint64 id, const QString &stamp)
{
    // A large file copies while the card answers, with its progress shown
    // once the copy takes more than half a second.
    QProgressDialog progress(QStringLiteral("Копирование фотографии..."), QStringLiteral("Отмена"), 0, 1000, this);
    progress.setWindowTitle(QStringLiteral("Фотография"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    core::CopyOptions copy;
    copy.scratchFolder = m_ctx.session.tempFolder();
    copy.progress = [&progress](qint64 done, qint64 total) {
        progress.setValue(total > 0 ? int(done * 1000 / total) : 0);
        return !progress.wasCanceled();
    };
    StoredPhoto = core::PhotoStore(m_ctx.db, m_ctx.session.PhotoFolder).AttachPhoto(id, stamp, PendingPhoto, copy);
    PendingPhoto.clear();
}
