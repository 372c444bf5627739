#pragma once
// The logged-in user, as the session keeps it.

#include <QString>

struct SessionUserT
{
    qint64 id = -1;   // pers.pk_id; -1 while nobody is logged in
    QString fullName; // pers.fio
    QString level;    // access level: exactly "full" gives full rights
    QString login;    // "-1" stands for no remembered login
    QString password; // remembered password; empty unless asked to keep it

    bool fullRights() const { return level == QLatin1String("full"); }
};
