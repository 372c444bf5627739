#pragma once
#include "app/modalwindow.h"

// The user list and the user editor.
class TUF : public ModalWindow
{
    Q_OBJECT
public:
    explicit TUF(QWidget *parent = nullptr);
};

class TUF1 : public ModalWindow
{
    Q_OBJECT
public:
    explicit TUF1(QWidget *parent = nullptr);
};
