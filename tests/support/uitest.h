#pragma once
#include "program/windowset.h"
// A program folder, a settings folder and the program's windows for one test.

#include "testdb.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>

class TMF;
struct Session;

namespace uitest {

struct Program
{
    // A program folder holding a fresh database, with its settings in a folder of its own.
    Program();
    ~Program();
    Program(const Program &) = delete;
    Program &operator=(const Program &) = delete;

    QTemporaryDir root;
    QString folder;  // the program folder
    QString dbPath;  // folder/dbase.fdb
    QString appData; // where zentrax.ini lies
    QString iniPath;

    // Creates the fourteen windows (the main window runs FormCreate).
    TMF *createWindows();
    TMF *mf = nullptr;
    Forms forms;                      // every window, as the program made them
    std::unique_ptr<Session> session; // made with the windows, ended after them

    // Runs statements on the database through a connection of its own.
    void exec(const QString &statements) const { testdb::exec(dbPath, statements); }
    // Adds a user; returns nothing, ids are assigned in order from 1.
    void addUser(const QString &fio, const QString &login, const QString &pass, const QString &level) const;
    // Adds a card with the given columns (name=value pairs; others NULL) and returns its id.
    qint64 addCard(const QList<QPair<QString, QString>> &columns) const;
    // Adds `count` cards at once, card i with the columns `make(i)` gives.
    void addCards(int count, const std::function<QList<QPair<QString, QString>>(int)> &make) const;

    // Opens the database and logs `login` in without the login window.
    void loginDirect(const QString &login, const QString &level = QStringLiteral("full"));
};

// While `action` runs, answers the next modal window that opens: `onShown`
// gets it (and may drive it); if it is still open afterwards it is closed.
// Returns the class names of the modal windows that were shown.
QStringList whileModal(const std::function<void()> &action, const std::function<void(QWidget *)> &onShown = {});

// Whether `o`, a descendant of `top`, lies in top's own window rather than in
// a dialog or other window of its own (popup menus count as their owner's).
bool inOwnWindow(const QObject *top, const QObject *o);

// The control of `top`'s window (a widget, an action, ...) with that object
// name and class; the test stops when there is none or more than one.
template <typename T = QWidget>
T *find(const QObject *top, const QString &name)
{
    T *found = nullptr;
    const QList<T *> all = top->findChildren<T *>(name);
    for (T *o : all) {
        if (!inOwnWindow(top, o))
            continue;
        if (found)
            qFatal("two of %s named %s", T::staticMetaObject.className(), qPrintable(name));
        found = o;
    }
    if (!found)
        qFatal("no %s named %s", T::staticMetaObject.className(), qPrintable(name));
    return found;
}

// The texts of the list's rows (column `col`) in order.
QStringList listColumn(TMF *mf, int col);

// Types text a key at a time, Cyrillic included.
void typeText(QWidget *w, const QString &text);
// The texts of the message boxes shown since the last look, taken.
QStringList texts();

// The windows made with the main window `mf`.
const Forms &forms(TMF *mf);

} // namespace uitest
