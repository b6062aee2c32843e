#pragma once

// Starting the program when the user logs in.
namespace StartAtLogin {

// Writes (enable) or removes the entry that starts the running executable at login.
void setEnabled(bool enable);

} // namespace StartAtLogin
