#pragma once
#include <QIcon>

// The program's pictures, SVG files in the program's resources (icons.qrc),
// drawn once and shared by every window. Program is the program's own icon.
// A picture that cannot be read gives an empty icon.
namespace icons {
enum class Id { Program, New, Edit, View, Export, Delete, Exit, Clear, Calendar, Save, Photo, Open, Crop, Accept };
QIcon get(Id id);
} // namespace icons

class QLabel;
class QToolButton;
class QWidget;

// A fixed gap between tool buttons.
QWidget *toolBarGap(QWidget *parent, int width);

// A 39 x 38 picture button with a 32 x 32 picture, as on the program's tool
// bars; `hint` is its tooltip and its name for screen readers.
QToolButton *makeToolButton(QWidget *parent, const char *name, icons::Id icon, const QString &hint);

// A label in bold: the section headings of the card, the value's name in the reference books.
QLabel *boldLabel(const QString &text, QWidget *parent);
