#pragma once
#include <QIcon>

// The program's pictures, drawn once and shared by every window.
namespace icons {
enum class Id { New, Edit, View, Export, Delete, Exit, Clear, Calendar, Save, Photo, Open, Crop, Accept };
QIcon get(Id id);
}

class QToolButton;
class QWidget;

// A 39 x 38 picture button with a 32 x 32 picture, as on the program's tool
// bars; `hint` is its tooltip and its name for screen readers.
// A fixed gap between tool buttons.
QWidget *toolBarGap(QWidget *parent, int width);

QToolButton *makeToolButton(QWidget *parent, const char *name, icons::Id icon, const QString &hint);
