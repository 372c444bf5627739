#pragma once
#include <QIcon>

// The program's pictures, drawn once and shared by every window.
namespace icons {
enum class Id { New, Edit, View, Export, Delete, Exit, Clear, Calendar, Save, Photo };
QIcon get(Id id);
}
