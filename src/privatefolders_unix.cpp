#include "privatefolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace PrivateFolders {

QString runtimeFolder()
{
    // The toolkit returns $XDG_RUNTIME_DIR (or a folder it creates) only after checking that it
    // belongs to this user and that nobody else may enter it. Asked once: without $XDG_RUNTIME_DIR
    // every question would print a warning.
    static const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return folder;
}

QStringList hiddenFolders()
{
    const QStringList candidates
        = { QDir::homePath(), QDir::tempPath(), runtimeFolder(), QCoreApplication::applicationDirPath() };
    QStringList folders;
    for (const QString &candidate : candidates) {
        if (candidate.isEmpty())
            continue;
        // A folder may also be named through a symbolic link, as the client names it.
        for (const QString &path : { QDir::cleanPath(candidate), QFileInfo(candidate).canonicalFilePath() }) {
            // The root folder would hide every path, not only private ones.
            if (path.size() > 1 && !folders.contains(path))
                folders.append(path);
        }
    }
    return folders;
}

} // namespace PrivateFolders
