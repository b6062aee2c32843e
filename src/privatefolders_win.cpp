#include "privatefolders.h"

#include <QDir>

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

} // namespace PrivateFolders
