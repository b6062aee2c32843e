// SPDX-License-Identifier: Apache-2.0
// Sleep and wake-up on Windows: not followed; the network watch alone ends a wait early there.
#include "core/platform/sleepwatch.h"

SleepWatch::SleepWatch(QObject *parent)
    : QObject(parent)
{ }

void SleepWatch::onPrepareForSleep(bool goingToSleep)
{
    if (!goingToSleep)
        emit wokeUp();
}
