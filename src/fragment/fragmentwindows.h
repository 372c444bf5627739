#pragma once
#include "app/modalwindow.h"

// Selecting a piece of a larger picture as a card's photo, and its preview.
class TEF : public ModalWindow
{
    Q_OBJECT
public:
    TEF(Context &context, QWidget *parent);
};

class TEF1 : public ModalWindow
{
    Q_OBJECT
public:
    TEF1(Context &context, QWidget *parent);
};
