#pragma once
// The per-user settings file zentrax.ini: section [main], keys user and pass.

struct SessionUserT;

// Reads the remembered login and password into `user`; creates the file
// (owner-readable only) with empty values on the first start.
void LoadSettings(SessionUserT &user);
// Writes the user's login and remembered password, if the file exists.
// Either writer tells the user when the file cannot be written.
void SaveSettings(const SessionUserT &user);
