// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QObject>

// Follows the system's own notice that it goes to sleep and wakes up again (on Linux, logind's
// PrepareForSleep on the system bus). Without a system bus or logind it reports nothing, and nothing
// else changes.
class SleepWatch : public QObject
{
    Q_OBJECT

public:
    explicit SleepWatch(QObject *parent = nullptr);

signals:
    // The system has just woken up.
    void wokeUp();

private slots:
    void onPrepareForSleep(bool goingToSleep);
};
