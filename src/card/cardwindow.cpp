#include "cardwindow.h"

#include "app/access.h"

#include <QComboBox>
#include <QFormLayout>

TRF::TRF(QWidget *parent) : ModalWindow(parent)
{
    setObjectName(QStringLiteral("TRF"));
    setFixedSize(997, 458);
    auto *form = new QFormLayout(this);
    auto box = [&](QComboBox *&b, const char *name, const QString &label) {
        b = new QComboBox(this);
        b->setObjectName(QLatin1String(name));
        b->setEditable(true);
        b->setInsertPolicy(QComboBox::NoInsert);
        setAccessible(b, label);
        form->addRow(label, b);
    };
    box(ed_work, "ed_work", QStringLiteral("Место работы"));
    box(ed_dep, "ed_dep", QStringLiteral("Отдел"));
    box(ed_post, "ed_post", QStringLiteral("Должность"));
}
