// SPDX-License-Identifier: Apache-2.0
// Sleep and wake-up on Linux: logind's PrepareForSleep signal on the system bus.
#include "core/platform/sleepwatch.h"

#include <QDBusConnection>

SleepWatch::SleepWatch(QObject *parent)
    : QObject(parent)
{
    // The signal is only listened to: without a system bus or logind the connection simply never
    // delivers it.
    QDBusConnection::systemBus().connect(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
        SLOT(onPrepareForSleep(bool)));
}

void SleepWatch::onPrepareForSleep(bool goingToSleep)
{
    // Going to sleep needs nothing: a running client notices a dead path by itself after the wake-up.
    if (!goingToSleep)
        emit wokeUp();
}
