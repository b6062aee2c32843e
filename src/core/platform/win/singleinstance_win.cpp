// SPDX-License-Identifier: Apache-2.0
// The single-instance guard on Windows: a named shared memory segment.
#include "core/platform/singleinstance.h"

#include <QSharedMemory>

// A named one-byte segment; it ends with the last process that holds it, so a crash never blocks.
struct SingleInstanceGuard::Lock
{
    QSharedMemory segment { QStringLiteral("Quorvane_SingleInstance") };
};

SingleInstanceGuard::SingleInstanceGuard() = default;

SingleInstanceGuard::~SingleInstanceGuard() = default;

bool SingleInstanceGuard::tryAcquire()
{
    m_lock = std::make_unique<Lock>();
    return m_lock->segment.create(1, QSharedMemory::ReadWrite);
}
