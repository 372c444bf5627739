#pragma once
#include "app/modalwindow.h"

// The About window.
class TAbt : public ModalWindow
{
    Q_OBJECT
public:
    TAbt(Context &context, QWidget *parent);
};
