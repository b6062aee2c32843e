// SPDX-License-Identifier: Apache-2.0
// The single-instance guard on Linux: a lock held on a file in the runtime folder.
#include "core/platform/singleinstance.h"

#include "core/platform/privatefolders.h"

#include <QDir>
#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

// An advisory lock on a file in the user's own runtime folder: it concerns this user only, and the
// system lets go of it when its owner ends in any way (a crash, a forced kill), so the next start
// takes it over. Nothing is written: taking the lock costs no wait for the disk at start-up.
struct SingleInstanceGuard::Lock
{
    ~Lock()
    {
        if (fd >= 0)
            ::close(fd);
    }
    int fd = -1;
};

SingleInstanceGuard::SingleInstanceGuard() = default;

SingleInstanceGuard::~SingleInstanceGuard() = default;

bool SingleInstanceGuard::tryAcquire()
{
    QString folder = PrivateFolders::runtimeFolder();
    if (folder.isEmpty())
        folder = QDir::homePath();
    const QByteArray path = QFile::encodeName(folder + QStringLiteral("/Quorvane_SingleInstance.lock"));
    m_lock = std::make_unique<Lock>();
    m_lock->fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    // A lock file that cannot be made at all must not keep the user out of the program.
    if (m_lock->fd < 0)
        return true;
    int result;
    do {
        result = ::flock(m_lock->fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    // Only a lock held by another running copy refuses the start.
    return result == 0 || errno != EWOULDBLOCK;
}
