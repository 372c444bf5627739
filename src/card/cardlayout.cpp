// The card window's layout: its controls, their order and their signals.
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
const QStringList kNetworks = {QStringLiteral("WeChat"),  QStringLiteral("QQ"),       QStringLiteral("Facebook"),
                               QStringLiteral("VK"),      QStringLiteral("Linkedln"), QStringLiteral("Weibo"),
                               QStringLiteral("Twitter"), QStringLiteral("Instagram")};

} // namespace

TRF::TRF(Context &context, QWidget *parent) : ModalWindow(context, parent), m_checks(context.db.access)
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

    g->addWidget(boldLabel(QStringLiteral("Основные данные"), col), row++, 0, 1, 4);
    labelled(QStringLiteral("Фамилия"), edit(ed_fam, "ed_fam", QStringLiteral("fam"), QStringLiteral("Фамилия")));
    labelled(QStringLiteral("Имя"), edit(ed_name1, "ed_name1", QStringLiteral("name1"), QStringLiteral("Имя")));
    labelled(QStringLiteral("Отчество"),
             edit(ed_name2, "ed_name2", QStringLiteral("name2"), QStringLiteral("Отчество")));
    labelled(QStringLiteral("Место работы"),
             combo(ed_work, "ed_work", QStringLiteral("work"), QStringLiteral("Место работы")));
    labelled(QStringLiteral("Отдел"), combo(ed_dep, "ed_dep", QStringLiteral("dep"), QStringLiteral("Отдел")));
    labelled(QStringLiteral("Должность"),
             combo(ed_post, "ed_post", QStringLiteral("post"), QStringLiteral("Должность")));
    labelled(QStringLiteral("Дата рожд."),
             date(pk_bdate, "pk_bdate", QStringLiteral("bdate"), QStringLiteral("Дата рождения")), 1);

    auto *contacts = new QHBoxLayout;
    contacts->addWidget(boldLabel(QStringLiteral("Контакты"), col));
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
    pair(QStringLiteral("Телефон"), QStringLiteral("Стационарный телефон"), ed_wtel, "ed_wtel", "wtel", ed_htel,
         "ed_htel", "htel");
    pair(QStringLiteral("Мобильный"), QStringLiteral("Мобильный телефон"), ed_wmob, "ed_wmob", "wmob", ed_hmob,
         "ed_hmob", "hmob");
    pair(QStringLiteral("E-mail"), QStringLiteral("Электронная почта"), ed_wmail, "ed_wmail", "wmail", ed_hmail,
         "ed_hmail", "hmail");
    pair(QStringLiteral("Skype"), QStringLiteral("Skype"), ed_wskype, "ed_wskype", "wskype", ed_hskype, "ed_hskype",
         "hskype");

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
        docs->addWidget(boldLabel(title, col), r, 0);
        docs->addWidget(edit(s, sn, QLatin1String(sc), title + QStringLiteral(": серия")), r, 1);
        docs->addWidget(edit(n, nn, QLatin1String(nc), title + QStringLiteral(": номер")), r, 2);
        docs->addWidget(date(d1, d1n, QLatin1String(d1c), title + QStringLiteral(": дата выдачи")), r, 3);
        docs->addWidget(date(d2, d2n, QLatin1String(d2c), title + QStringLiteral(": действителен до")), r, 4);
        s->setFixedWidth(48);
        n->setMinimumWidth(70);
    };
    docRow(1, QStringLiteral("Паспорт"), ed_ps, "ed_ps", "ps", ed_pnum, "ed_pnum", "pnum", pk_pdate1, "pk_pdate1",
           "pdate1", pk_pdate2, "pk_pdate2", "pdate2");
    docRow(2, QStringLiteral("Виза"), ed_vs, "ed_vs", "vs", ed_vnum, "ed_vnum", "vnum", pk_vdate1, "pk_vdate1",
           "vdate1", pk_vdate2, "pk_vdate2", "vdate2");
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

    v->addWidget(boldLabel(QStringLiteral("Привычки"), col));
    Panel1 = new QWidget(col);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    auto *habits = new QGridLayout(Panel1);
    habits->setContentsMargins(0, 0, 0, 0);
    habits->setVerticalSpacing(0);
    struct H
    {
        QCheckBox *&box;
        const char *name, *column;
        QString text;
    };
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

    v->addWidget(boldLabel(QStringLiteral("Прочее"), col));
    mm_other = new QPlainTextEdit(col);
    mm_other->setObjectName(QStringLiteral("mm_other"));
    mm_other->setTabChangesFocus(true);
    mm_other->setFocusPolicy(Qt::ClickFocus);
    mm_other->setFixedHeight(58);
    setAccessible(mm_other, QStringLiteral("Прочее"));
    m_bindings.append({QStringLiteral("other"), QStringLiteral("Прочее"), mm_other});
    v->addWidget(mm_other);

    auto *netHead = new QHBoxLayout;
    netHead->addWidget(boldLabel(QStringLiteral("Социальные сети"), col));
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

    v->addWidget(boldLabel(QStringLiteral("Примечания"), col));
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
    const QList<QLineEdit *> withF4 = {ed_fam,    ed_name1, ed_name2, ed_wtel, ed_wmob, ed_wmail,
                                       ed_wskype, ed_ps,    ed_pnum,  ed_vs,   ed_vnum};
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
