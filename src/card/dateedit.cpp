#include "dateedit.h"

#include <QRegularExpression>

DateEdit::DateEdit(QWidget *parent) : QLineEdit(parent)
{
    useMask(true);
    // Typing into a stored text of another form switches the field to the mask.
    connect(this, &QLineEdit::textEdited, this, [this] {
        if (!m_raw)
            return;
        const QString typed = text();
        m_raw = false;
        useMask(true);
        QString digits;
        for (QChar c : typed)
            if (c.isDigit())
                digits += c;
        setText(digits);
    });
}

const QString &DateEdit::emptyText()
{
    static const QString empty = QStringLiteral("  .  .    ");
    return empty;
}

bool DateEdit::fitsMask(const QString &text)
{
    static const QRegularExpression re(QStringLiteral("^[0-9 ]{2}\\.[0-9 ]{2}\\.[0-9 ]{4}$"));
    return re.match(text).hasMatch();
}

void DateEdit::useMask(bool on)
{
    if (on) {
        setInputMask(QStringLiteral("99.99.9999; "));
        setMaxLength(10);
    } else {
        setInputMask(QString());
        setMaxLength(32767);
    }
}

void DateEdit::setDateText(const QString &text)
{
    if (text.isEmpty() || fitsMask(text)) {
        m_raw = false;
        useMask(true);
        setText(text.isEmpty() ? emptyText() : text);
    } else {
        m_raw = true;
        useMask(false);
        setText(text);
    }
}

QString DateEdit::dateText() const
{
    // displayText keeps the blanks that text() would strip ("  .  .    " -> "..").
    return m_raw ? text() : displayText();
}
