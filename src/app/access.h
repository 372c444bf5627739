#pragma once
#include <QPushButton>
#include <QString>
#include <QWidget>

// Names a control for screen readers (and for anyone inspecting the running program).
inline void setAccessible(QWidget *w, const QString &name, const QString &description = QString())
{
    w->setAccessibleName(name);
    if (!description.isEmpty())
        w->setAccessibleDescription(description);
}

// A push button of a window: named for tests, never taking Enter by itself,
// read by screen readers under its text without the trailing "...".
inline QPushButton *makePushButton(QWidget *parent, const char *name, const QString &text)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    b->setAutoDefault(false);
    setAccessible(b, QString(text).remove(QLatin1String("...")));
    return b;
}
