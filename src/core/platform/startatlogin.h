// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>
#include <QtGlobal>

// Starting the program when the user logs in.
namespace StartAtLogin {

// Writes (enable) or removes the entry that starts the running executable at login.
void setEnabled(bool enable);

#ifndef Q_OS_WIN
// Where the login entry lives: the XDG autostart folder of the user's configuration directory.
QString entryPath();

// The text of the login entry (a desktop entry) that starts the given executable.
QString desktopEntry(const QString &executablePath);
#endif

} // namespace StartAtLogin
