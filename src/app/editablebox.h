#pragma once
#include <QComboBox>
#include <QCompleter>
#include <QLineEdit>
#include <QStringListModel>
#include <limits>

// An editable drop-down box whose text is exactly what the user typed or
// picked. Qt otherwise completes typed text inline and, when the box is
// left, replaces it by a list item equal without regard to case ("ао вектор"
// becomes "АО Вектор"). A case-sensitive completer with nothing to propose
// keeps the typed text; the list itself is still there to pick from.
inline void makeTypedTextBox(QComboBox *box)
{
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    auto *completer = new QCompleter(new QStringListModel(box), box);
    completer->setCaseSensitivity(Qt::CaseSensitive);
    box->setCompleter(completer);
    // A long paste is checked and told as too long, not cut without a word.
    box->lineEdit()->setMaxLength(std::numeric_limits<int>::max());
}
