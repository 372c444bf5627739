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

// Ctrl+S, whatever the keyboard layout: Qt reports the Latin key for a
// control combination, and Windows gives the key's own code (`nativeKey`).
inline bool isCtrlS(int key, Qt::KeyboardModifiers mods, quint32 nativeKey = 0)
{
    if ((mods & ~Qt::KeypadModifier) != Qt::ControlModifier)
        return false;
#ifdef Q_OS_WIN
    if (nativeKey == 'S')
        return true;
#else
    Q_UNUSED(nativeKey);
#endif
    return key == Qt::Key_S;
}

// The keys every editor treats alike: Ctrl+S presses its save button, Esc
// its exit button. True when the key was one of them.
inline bool editorKeyDown(int key, Qt::KeyboardModifiers mods, quint32 nativeKey, QAbstractButton *save,
                          QAbstractButton *exit)
{
    if (isCtrlS(key, mods, nativeKey)) {
        save->click();
        return true;
    }
    if (key == Qt::Key_Escape) {
        exit->click();
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
