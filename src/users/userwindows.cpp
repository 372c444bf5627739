#include "userwindows.h"

TUF::TUF(QWidget *parent) : ModalWindow(parent)
{
    setObjectName(QStringLiteral("TUF"));
    setWindowTitle(QStringLiteral("Управление пользователями"));
}

TUF1::TUF1(QWidget *parent) : ModalWindow(parent)
{
    setObjectName(QStringLiteral("TUF1"));
    setWindowTitle(QStringLiteral("Редактирование данных пользователя"));
}
