#include "fragmentwindows.h"

TEF::TEF(Context &context, QWidget *parent) : ModalWindow(context, parent)
{
    setObjectName(QStringLiteral("TEF"));
    setWindowTitle(QStringLiteral("Загрузка фрагмента фотографии"));
}

TEF1::TEF1(Context &context, QWidget *parent) : ModalWindow(context, parent)
{
    setObjectName(QStringLiteral("TEF1"));
    setWindowTitle(QStringLiteral("Предпросмотр фрагмента"));
}
