#pragma once
// CSV tables as spreadsheet programs and address books write them: comma,
// semicolon or tab between fields, fields in double quotes holding
// separators, doubled quotes and line breaks.

#include <QChar>
#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>

namespace csv {

struct Table
{
    QList<QStringList> rows;
    QList<int> lines;       // the line each row begins on, from 1
    bool cancelled = false; // stopped by the caller: the rows read so far, no more
};

// The separator of the table's first record: the one of comma, semicolon and
// tab that stands there most often outside quotes (a comma when none does).
QChar separatorOf(const QString &text);
// Every record of the text; a record's line breaks inside quotes are kept
// as they were written. Blank lines are no records. `cancel`, when given,
// may be set from another thread: the reading stops at the next record.
Table parse(const QString &text, const std::atomic_bool *cancel = nullptr);

// One field, quoted when it holds the separator, a quote, a line break or
// white space at either end.
QString field(const QString &text, QChar separator = QLatin1Char(','));
// One record ending with CR LF.
QString record(const QStringList &fields, QChar separator = QLatin1Char(','));

// A cell a spreadsheet would run as a formula (=, +, -, @, a tab or a CR
// first) with an apostrophe written before it, as the spreadsheets' own
// guidance says; a phone or a plain number ("+7 (495) 123-45-67", "-5")
// stays as it is.
QString neutralized(const QString &cell);
// The cell as it was before neutralized(): that apostrophe taken away.
QString asTyped(const QString &cell);

} // namespace csv
