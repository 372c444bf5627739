#include "aboutwindow.h"

TAbt::TAbt(QWidget *parent) : ModalWindow(parent)
{
    setObjectName(QStringLiteral("TAbt"));
    setWindowTitle(QStringLiteral("О программе"));
    setFixedSize(429, 222);
}
