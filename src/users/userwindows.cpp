#include "userwindows.h"

TUF::TUF(Context &context, QWidget *parent) : ModalWindow(context, parent)
{
    setObjectName(QStringLiteral("TUF"));
    setWindowTitle(QStringLiteral("Управление пользователями"));
}

TUF1::TUF1(Context &context, QWidget *parent) : ModalWindow(context, parent)
{
    setObjectName(QStringLiteral("TUF1"));
    setWindowTitle(QStringLiteral("Редактирование данных пользователя"));
}
