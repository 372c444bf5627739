#include "fragmentwindows.h"

TEF::TEF(QWidget *parent) : ModalWindow(parent)
{
    setObjectName(QStringLiteral("TEF"));
    setWindowTitle(QStringLiteral("Загрузка фрагмента фотографии"));
}

TEF1::TEF1(QWidget *parent) : ModalWindow(parent)
{
    setObjectName(QStringLiteral("TEF1"));
    setWindowTitle(QStringLiteral("Предпросмотр фрагмента"));
}
