#pragma once
#include "app/modalwindow.h"

// The About window.
class TAbt : public ModalWindow
{
    Q_OBJECT
public:
    explicit TAbt(QWidget *parent = nullptr);
};
