#pragma once

#include <QString>
#include <QStringList>

// The folders of this user that hold private files.
namespace PrivateFolders {

// The folder for files that only this user may reach (the client configuration, the instance lock).
// Empty when the system offers no such folder.
QString runtimeFolder();

// Folders whose names, and everything below them, are hidden in the log because they reveal the
// user's name and where private files lie. Empty where the log's own path pattern covers them.
QStringList hiddenFolders();

} // namespace PrivateFolders
