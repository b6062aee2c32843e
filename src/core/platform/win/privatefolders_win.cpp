// SPDX-License-Identifier: Apache-2.0
// Private folders on Windows: the temporary folder, the folders the log hides, owner-only files.
#include "core/platform/privatefolders.h"

#include <QDir>
#include <QFile>

namespace PrivateFolders {

QString runtimeFolder()
{
    // The temporary folder belongs to the user on Windows.
    return QDir::tempPath();
}

QStringList hiddenFolders()
{
    // Every path there begins with a drive letter, which the log hides anyway.
    return {};
}

bool removeOwnFile(const QString &path)
{
    return QFile::remove(path);
}

bool createOwnerOnlyFile(QFile &file, const QString &path)
{
    if (path.isEmpty())
        return false;
    removeOwnFile(path);
    file.setFileName(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Text | QIODevice::NewOnly,
                     QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

} // namespace PrivateFolders
