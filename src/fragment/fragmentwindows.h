#pragma once
#include "app/modalwindow.h"

// Selecting a piece of a larger picture as a card's photo, and its preview.
class TEF : public ModalWindow
{
    Q_OBJECT
public:
    explicit TEF(QWidget *parent = nullptr);
};

class TEF1 : public ModalWindow
{
    Q_OBJECT
public:
    explicit TEF1(QWidget *parent = nullptr);
};
