#include "refbooks.h"

const RefBookKind &postsKind()
{
    static const RefBookKind k{"post", "post", QStringLiteral("Справочник должностей"), QStringLiteral("ДОЛЖНОСТЬ"),
                               QStringLiteral(" Должность")};
    return k;
}

const RefBookKind &departmentsKind()
{
    static const RefBookKind k{"department", "dep", QString(), QStringLiteral("ОТДЕЛ"), QStringLiteral(" Отдел")};
    return k;
}

const RefBookKind &organizationsKind()
{
    static const RefBookKind k{"organization", "org", QString(), QStringLiteral("ОРГАНИЗАЦИЯ"),
                               QStringLiteral(" Организация")};
    return k;
}

RefListWindow::RefListWindow(const RefBookKind &kind, Context &context, QWidget *parent)
    : ModalWindow(context, parent), m_kind(kind)
{
    setObjectName(QLatin1String(metaObject()->className()));
    setWindowTitle(kind.caption);
    resize(675, 459);
}

RefEditWindow::RefEditWindow(const RefBookKind &kind, Context &context, QWidget *parent)
    : ModalWindow(context, parent), m_kind(kind)
{
    setObjectName(QLatin1String(metaObject()->className()));
    setWindowTitle(QStringLiteral("Редактирование"));
}
