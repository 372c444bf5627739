#pragma once
#include "app/modalwindow.h"

class QComboBox;

// The person card. This first version holds the drop-down lists that the main
// window fills; the card's fields, modes and saving build on it.
class TRF : public ModalWindow
{
    Q_OBJECT
public:
    explicit TRF(QWidget *parent = nullptr);

    QComboBox *ed_work; // organization
    QComboBox *ed_dep;  // department
    QComboBox *ed_post; // post
};
