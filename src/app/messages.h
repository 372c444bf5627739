#pragma once
// Every message box of the program goes through here: no icon, Russian
// buttons, lines split on "\r". Tests replace the boxes with a script of
// answers and read back what would have been shown.

#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <initializer_list>

namespace msg {

enum class Buttons { Ok, YesNo, Choice };
enum class Answer { Ok, Yes, No };

struct Shown
{
    QString text;
    QString caption;
    Buttons buttons;
    QPointer<QWidget> owner;
    QStringList choices; // the buttons of a choice, in order
};

// Shows a modal box owned by `owner` (nullptr: the active modal window).
Answer show(QWidget *owner, const QString &text, const QString &caption, Buttons buttons);

inline void error(QWidget *owner, const QString &text)
{
    show(owner, text, QStringLiteral("Ошибка"), Buttons::Ok);
}
// A plain notice whose caption is the program's title.
inline void plain(QWidget *owner, const QString &text)
{
    show(owner, text, QStringLiteral("Zentrax"), Buttons::Ok);
}
inline bool askYesNo(QWidget *owner, const QString &text, const QString &caption)
{
    return show(owner, text, caption, Buttons::YesNo) == Answer::Yes;
}

// A question with buttons of its own (the last one also answers Esc and the
// close box); returns the index of the button pressed.
int choose(QWidget *owner, const QString &text, const QString &caption, const QStringList &buttons);

// Test mode: boxes are not shown; each is logged and answered from the script
// (Ok for an OK box; the next scripted answer, or No, for a question).
void setTestMode(bool on);
bool testMode();
void script(std::initializer_list<Answer> answers);
// The answers of choices, by button index (the last button when none is left).
void scriptChoices(std::initializer_list<int> answers);
QList<Shown> &shown();
// Takes and clears the log.
QList<Shown> takeShown();
// Called with each box in test mode before it is answered (for checks that
// need the program's state at that moment).
void setObserver(std::function<void(const Shown &)> f);

} // namespace msg
