// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>

// Keeps a second copy of the program from starting while one runs. Held from a successful
// tryAcquire until the object is destroyed.
class SingleInstanceGuard
{
public:
    SingleInstanceGuard();
    ~SingleInstanceGuard();

    SingleInstanceGuard(const SingleInstanceGuard &) = delete;
    SingleInstanceGuard &operator=(const SingleInstanceGuard &) = delete;

    // True when no other copy holds the guard; this copy holds it from now on.
    bool tryAcquire();

private:
    struct Lock;
    std::unique_ptr<Lock> m_lock;
};
