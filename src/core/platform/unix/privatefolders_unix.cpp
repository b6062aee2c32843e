// SPDX-License-Identifier: Apache-2.0
// Private folders on Linux: the runtime folder, the folders the log hides, files only the owner reads.
#include "core/platform/privatefolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

bool removeOwnFile(const QString &path)
{
    const QByteArray nativePath = QFile::encodeName(path);
    struct stat info;
    return ::lstat(nativePath.constData(), &info) == 0 && info.st_uid == ::getuid()
        && ::unlink(nativePath.constData()) == 0;
}

bool createOwnerOnlyFile(QFile &file, const QString &path)
{
    if (path.isEmpty())
        return false;
    removeOwnFile(path);
    // Exclusive and without following a link: only a file made here and now is written.
    const QByteArray nativePath = QFile::encodeName(path);
    int fd;
    do {
        fd = ::open(nativePath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    S_IRUSR | S_IWUSR);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return false;
    if (!file.open(fd, QIODevice::WriteOnly | QIODevice::Text, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}

} // namespace PrivateFolders
