#include "aboutwindow.h"

TAbt::TAbt(Context &context, QWidget *parent) : ModalWindow(context, parent)
{
    setObjectName(QStringLiteral("TAbt"));
    setWindowTitle(QStringLiteral("О программе"));
    setFixedSize(429, 222);
}
