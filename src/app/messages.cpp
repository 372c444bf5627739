#include "messages.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <functional>

namespace msg {
namespace {

bool g_test = false;
QList<Answer> g_script;
QList<int> g_choices;
QList<Shown> g_shown;
std::function<void(const Shown &)> g_observer;

// A Yes/No question must be answered: Esc and the close box do nothing.
class Box : public QMessageBox
{
public:
    using QMessageBox::QMessageBox;
    bool question = false;

protected:
    void keyPressEvent(QKeyEvent *e) override
    {
        if (question && e->key() == Qt::Key_Escape) {
            e->accept();
            return;
        }
        QMessageBox::keyPressEvent(e);
    }
    void closeEvent(QCloseEvent *e) override
    {
        if (question && !answered)
            e->ignore();
        else
            QMessageBox::closeEvent(e);
    }

public:
    bool answered = false;
};

} // namespace

Answer show(QWidget *owner, const QString &text, const QString &caption, Buttons buttons)
{
    if (!owner)
        owner = QApplication::activeModalWidget();
    if (!owner)
        owner = QApplication::activeWindow();
    if (owner && !owner->isVisible())
        owner = QApplication::activeModalWidget();
    QString lines = text;
    lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));

    if (g_test) {
        Shown s{lines, caption, buttons, owner, {}};
        g_shown.append(s);
        if (g_observer)
            g_observer(s);
        if (buttons == Buttons::Ok)
            return Answer::Ok;
        return g_script.isEmpty() ? Answer::No : g_script.takeFirst();
    }

    Box box(owner);
    box.setWindowTitle(caption);
    box.setText(lines);
    box.setIcon(QMessageBox::NoIcon);
    box.setTextFormat(Qt::PlainText);
    if (buttons == Buttons::Ok) {
        QPushButton *ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        box.setDefaultButton(ok);
        box.setEscapeButton(ok);
        box.exec();
        return Answer::Ok;
    }
    box.question = true;
    QPushButton *yes = box.addButton(QStringLiteral("Да"), QMessageBox::YesRole);
    QPushButton *no = box.addButton(QStringLiteral("Нет"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(static_cast<QAbstractButton *>(nullptr));
    box.exec();
    box.answered = true;
    return box.clickedButton() == static_cast<QAbstractButton *>(no) ? Answer::No : Answer::Yes;
}

int choose(QWidget *owner, const QString &text, const QString &caption, const QStringList &buttons)
{
    if (!owner)
        owner = QApplication::activeModalWidget();
    if (!owner)
        owner = QApplication::activeWindow();
    QString lines = text;
    lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    const int last = int(buttons.size()) - 1;
    if (g_test) {
        Shown s{lines, caption, Buttons::Choice, owner, buttons};
        g_shown.append(s);
        if (g_observer)
            g_observer(s);
        return g_choices.isEmpty() ? last : g_choices.takeFirst();
    }
    QMessageBox box(owner);
    box.setWindowTitle(caption);
    box.setAccessibleName(caption);
    box.setText(lines);
    box.setIcon(QMessageBox::NoIcon);
    box.setTextFormat(Qt::PlainText);
    QList<QPushButton *> pushed;
    for (const QString &b : buttons)
        pushed << box.addButton(b, pushed.size() == last ? QMessageBox::RejectRole : QMessageBox::AcceptRole);
    box.setDefaultButton(pushed.value(0));
    box.setEscapeButton(pushed.value(last));
    box.exec();
    const int chosen = int(pushed.indexOf(static_cast<QPushButton *>(box.clickedButton())));
    return chosen < 0 ? last : chosen;
}

void setTestMode(bool on)
{
    g_test = on;
    g_script.clear();
    g_choices.clear();
    g_shown.clear();
}

bool testMode()
{
    return g_test;
}

void script(std::initializer_list<Answer> answers)
{
    for (Answer a : answers)
        g_script.append(a);
}

void scriptChoices(std::initializer_list<int> answers)
{
    for (int a : answers)
        g_choices.append(a);
}

QList<Shown> &shown()
{
    return g_shown;
}

QList<Shown> takeShown()
{
    QList<Shown> s = g_shown;
    g_shown.clear();
    return s;
}

void setObserver(std::function<void(const Shown &)> f)
{
    g_observer = std::move(f);
}

} // namespace msg
