#pragma once
// The keys every window of the program treats alike.

#include "application.h"

#include <QAbstractButton>
#include <QKeyEvent>

// F4 edits, unless Alt is the only modifier held: Alt+F4 stays the window's close key.
inline bool isEditKey(int key, Qt::KeyboardModifiers mods)
{
    return key == Qt::Key_F4 && (mods & ~Qt::KeypadModifier) != Qt::AltModifier;
}

// The list keys of every list window: F4 presses its edit button (not with
// Alt alone), F7 its new-record button. True when the key was one of them.
inline bool listKeyDown(int key, Qt::KeyboardModifiers mods, QAbstractButton *edit, QAbstractButton *create)
{
    if (isEditKey(key, mods)) {
        edit->click();
        return true;
    }
    if (key == Qt::Key_F7) {
        create->click();
        return true;
    }
    return false;
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
