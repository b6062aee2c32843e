// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/frpcmanager.h"
#include "core/reachabilitycheck.h"

#include <QObject>
#include <QString>

#include <map>

// Whether the public address of each tunnel of the running connection accepts connections from this
// computer: each TCP tunnel (and the TCP half of TCP+UDP) is checked under its tunnel's index when its
// port becomes known, after a restore and after a port change; a failed check is repeated every 30 s.
// A tunnel that goes down or is removed is forgotten. The check's own connection is announced to the
// controller, so that a local port where nothing listens does not take it for a visitor. Each new
// result goes to the log.
class TunnelReachability : public QObject
{
    Q_OBJECT

public:
    enum Result { Unknown, Reachable, Blocked };

    explicit TunnelReachability(FrpcManager *controller, QObject *parent = nullptr);

    // The server address the public addresses are checked at.
    void setHost(const QString &host) { m_host = host; }
    Result result(int tunnel) const;
    // What is to be shown for tunnel when its port cannot be reached, else nothing.
    QString warning(int tunnel) const;
    ReachabilityCheck *check() { return &m_check; }

signals:
    // The result of a tunnel changed, or it was forgotten.
    void changed();
    void logMessage(const QString &msg);

private:
    struct Checked
    {
        QString host;
        QString port;
        Result result = Unknown;
    };

    void update();
    void onChecked(int tunnel, bool reachable, const QString &reason);

    FrpcManager *m_controller;
    ReachabilityCheck m_check;
    QString m_host;
    std::map<int, Checked> m_checked;
};
