#pragma once

#include "frpcmanager.h"
#include "reachabilitycheck.h"

#include <QObject>
#include <QString>

#include <map>

// Whether the public addresses of the tunnels after the first accept connections from this computer:
// each TCP tunnel (the TCP half of TCP+UDP) is checked when its port becomes known, after a restore
// and after a port change, under its tunnel's index; a failed check is repeated every 30 s. A tunnel
// that goes down or is removed is forgotten. Each new result goes to the log.
class TunnelReachability : public QObject
{
    Q_OBJECT

public:
    explicit TunnelReachability(FrpcManager *controller, QObject *parent = nullptr);

    // The server address the public addresses are checked at.
    void setHost(const QString &host) { m_host = host; }
    // What the row of tunnel (1: the first row) is to show: the warning when its port cannot be
    // reached, else nothing.
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
        // -1 until the first result, then whether the address accepted the connection.
        int result = -1;
    };

    void update();
    void onChecked(int tunnel, bool reachable, const QString &reason);

    FrpcManager *m_controller;
    ReachabilityCheck m_check;
    QString m_host;
    std::map<int, Checked> m_checked;
};
