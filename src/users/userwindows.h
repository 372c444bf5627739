#pragma once
#include "app/modalwindow.h"

// The user list and the user editor.
class TUF : public ModalWindow
{
    Q_OBJECT
public:
    TUF(Context &context, QWidget *parent);
};

class TUF1 : public ModalWindow
{
    Q_OBJECT
public:
    TUF1(Context &context, QWidget *parent);
};
