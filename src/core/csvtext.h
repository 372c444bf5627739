#pragma once
// CSV tables as spreadsheet programs and address books write them: comma,
// semicolon or tab between fields, fields in double quotes holding
// separators, doubled quotes and line breaks.

#include <QChar>
#include <QList>
#include <QString>
#include <QStringList>

namespace csv {

struct Table
{
    QList<QStringList> rows;
    QList<int> lines; // the line each row begins on, from 1
};

// The separator of the table's first record: the one of comma, semicolon and
// tab that stands there most often outside quotes (a comma when none does).
QChar separatorOf(const QString &text);
// Every record of the text; a record's line breaks inside quotes are kept
// as they were written. Blank lines are no records.
Table parse(const QString &text);

// One field, quoted when it holds the separator, a quote, a line break or
// white space at either end.
QString field(const QString &text, QChar separator = QLatin1Char(','));
// One record ending with CR LF.
QString record(const QStringList &fields, QChar separator = QLatin1Char(','));

} // namespace csv
