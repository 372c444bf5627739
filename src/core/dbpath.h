#pragma once
// Which database the program opens: dbase.fdb beside the executable, else
// the one named by the first line of path.txt there.

#include <QString>

namespace core {

struct DatabaseChoice
{
    QString path;            // empty when none is named
    bool noPathFile = false; // neither dbase.fdb nor path.txt in the folder
};

DatabaseChoice chooseDatabase(const QString &programFolder);

} // namespace core
