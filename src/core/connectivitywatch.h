// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QObject>

class SleepWatch;

// What the system says about the chance to reach a server: whether it has a network at all, and the
// moments that chance improves (it came online, its transport changed, it woke up). One per program,
// shared by whoever asks. The system's reports reach it through noteOnline, noteTransportChange and
// noteWakeUp, which tests call in their place.
class ConnectivityWatch : public QObject
{
    Q_OBJECT

public:
    static ConnectivityWatch &instance();

    // Whether the system reports no network at all; false while it reports nothing.
    bool isOffline() const { return m_offline; }

    void noteOnline(bool online);
    void noteTransportChange();
    void noteWakeUp();

signals:
    void offlineChanged(bool offline);
    // The system came online, changed its transport or woke up: a waiting connection may try now.
    void chanceToConnect();

private:
    explicit ConnectivityWatch(QObject *parent);
    void followNetworkInformation();

    bool m_offline = false;
    SleepWatch *m_sleepWatch = nullptr;
};
