#pragma once
// The per-user settings file zentrax.ini: section [main], keys user and pass.

// Reads the remembered login and password into SessionUser; creates the file
// (owner-readable only) with empty values on the first start.
void LoadSettings();
// Writes SessionUser's login and remembered password, if the file exists.
// Either writer tells the user when the file cannot be written.
void SaveSettings();
