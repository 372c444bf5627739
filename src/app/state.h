#pragma once
// Program-wide state that lives for the whole run.

#include <QString>

struct SessionUserT
{
    qint64 id = -1;     // pers.pk_id; -1 while nobody is logged in
    QString fullName;   // pers.fio
    QString level;      // access level: exactly "full" gives full rights
    QString login;      // "-1" stands for no remembered login
    QString password;   // remembered password; empty unless asked to keep it

    bool fullRights() const { return level == QLatin1String("full"); }
};

extern SessionUserT SessionUser;
extern QString CardMode;    // "new", "edit" or "read"
extern QString PhotoFolder; // program folder + "/files", set once the database is open
extern bool FirstActivation;
extern bool RefreshOnActivate;

// Back to the values before the main window exists (tests start each case here).
void resetProgramState();
