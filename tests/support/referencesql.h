#pragma once
// Plain forms of the list's and the birthdays' statements: every pattern
// joined into the text between quotes and matched with LIKE alone, as the
// list was first written. The program runs index-friendly forms instead;
// tests and the benchmark run these beside them to prove the same rows in
// the same order. Never run with typed text.

#include "core/liststatement.h"

#include <QString>

QString quotedPatternListSql(const ListFilter &f, ListSort sort);
QString likeOnlyBirthdayCountSql(int month);
QString likeOnlyBirthdayListSql(int month);
