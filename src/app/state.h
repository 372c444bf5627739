#pragma once
// What the session keeps of the run: the logged-in user and the card
// window's mode.

#include <QString>

// How the card window shows its card: a new card being filled in, a stored
// card open for editing, or one open for reading only.
enum class CardMode { New, Edit, Read };

struct SessionUserT
{
    qint64 id = -1;   // pers.pk_id; -1 while nobody is logged in
    QString fullName; // pers.fio
    QString level;    // access level: exactly "full" gives full rights
    QString login;    // "-1" stands for no remembered login
    QString password; // remembered password; empty unless asked to keep it

    bool fullRights() const { return level == QLatin1String("full"); }
};
