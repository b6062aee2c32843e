// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>
#include <QStringList>

class QFile;

// The folders of this user that hold private files.
namespace PrivateFolders {

// The folder for files that only this user may reach (the client configuration, the instance lock).
// Empty when the system offers no such folder.
QString runtimeFolder();

// Folders whose names, and everything below them, are hidden in the log because they reveal the
// user's name and where private files lie. Empty where the log's own path pattern covers them.
QStringList hiddenFolders();

// Removes the file or link at path when it is this user's; anything of another user stays as it is.
bool removeOwnFile(const QString &path);

// Creates the file at path anew and opens it for writing, readable and writable by its owner only.
// An older file or link of this user at the path is removed first, never written through; anything
// else there (another user's file, a folder) is left untouched and the creation fails, as it does
// when something appears there again before the file is created.
bool createOwnerOnlyFile(QFile &file, const QString &path);

} // namespace PrivateFolders
