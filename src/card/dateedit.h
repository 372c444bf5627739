#pragma once
#include <QLineEdit>

// A date field with the mask DD.MM.YYYY (digits or blanks, full stops kept).
// Its text is the stored date text: "  .  .    " when empty. A stored text that
// does not fit the mask is shown and given back unchanged until the user edits it.
class DateEdit : public QLineEdit
{
    Q_OBJECT
public:
    explicit DateEdit(QWidget *parent = nullptr);

    static const QString &emptyText();
    static bool fitsMask(const QString &text);

    void setDateText(const QString &text);
    QString dateText() const;

private:
    void useMask(bool on);
    bool m_raw = false; // showing a stored text that does not fit the mask
};
