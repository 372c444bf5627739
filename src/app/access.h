#pragma once
#include <QString>
#include <QWidget>

// Names a control for screen readers (and for anyone inspecting the running program).
inline void setAccessible(QWidget *w, const QString &name, const QString &description = QString())
{
    w->setAccessibleName(name);
    if (!description.isEmpty())
        w->setAccessibleDescription(description);
}
