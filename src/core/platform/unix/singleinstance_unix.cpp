// SPDX-License-Identifier: Apache-2.0
// The single-instance guard on Linux: a lock file in the runtime folder.
#include "core/platform/singleinstance.h"

#include "core/platform/privatefolders.h"

#include <QDir>
#include <QLockFile>

// A lock file in the user's own runtime folder: it concerns this user only, and a lock whose owner
// has died (a crash, a forced kill) is recognised and taken over by the next start.
struct SingleInstanceGuard::Lock
{
    explicit Lock(const QString &path)
        : file(path)
    { }
    QLockFile file;
};

SingleInstanceGuard::SingleInstanceGuard() = default;

SingleInstanceGuard::~SingleInstanceGuard() = default;

bool SingleInstanceGuard::tryAcquire()
{
    QString folder = PrivateFolders::runtimeFolder();
    if (folder.isEmpty())
        folder = QDir::homePath();
    m_lock = std::make_unique<Lock>(folder + QStringLiteral("/Quorvane_SingleInstance.lock"));
    // A copy may run for days: the lock is stale only when its owner no longer runs.
    m_lock->file.setStaleLockTime(0);
    if (m_lock->file.tryLock(0))
        return true;
    // Only a lock held by another running copy refuses the start; a lock that cannot be written at
    // all must not keep the user out of the program.
    return m_lock->file.error() != QLockFile::LockFailedError;
}
