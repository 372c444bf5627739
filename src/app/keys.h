#pragma once
// The keys every window of the program treats alike.

#include "application.h"

#include <QKeyEvent>

// F4 edits, unless Alt is the only modifier held: Alt+F4 stays the window's close key.
inline bool isEditKey(int key, Qt::KeyboardModifiers mods)
{
    return key == Qt::Key_F4 && (mods & ~Qt::KeypadModifier) != Qt::AltModifier;
}

// Hands a key press to a window's key handler, guarded like every handler;
// true when the handler took the key (it then goes no further).
template <typename Handler>
bool keyPressTaken(QEvent *event, Handler handler)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    auto *k = static_cast<QKeyEvent *>(event);
    bool taken = false;
    guardedCall([&] { taken = handler(k); });
    return taken;
}
