#pragma once

#include "frpcmanager.h"
#include "reachabilitycheck.h"

#include <QLabel>

#include <functional>

// Under the status line: whether the running TCP tunnel's public address (the server's address and
// the assigned port) accepts connections from this computer, checked when the tunnel comes up, is
// restored or moves to another port, and every 30 s while the check fails. Empty while no TCP tunnel
// is up. The check's own connection is announced to the controller, so that a local port where
// nothing listens does not take it for a visitor. Each new result goes to the log.
class ReachabilityLabel : public QLabel
{
    Q_OBJECT

public:
    // shownHost: the address the window shows for the tunnel.
    ReachabilityLabel(FrpcManager *controller, std::function<QString()> shownHost, QWidget *parent);

    void applyTheme(bool dark);
    ReachabilityCheck *check() { return &m_check; }

signals:
    void logMessage(const QString &msg);

private:
    void onTunnelEvent(FrpcManager::TunnelEvent event, const QString &port);
    void onChecked(int key, bool reachable, const QString &reason);
    void clear();

    FrpcManager *m_controller;
    std::function<QString()> m_shownHost;
    ReachabilityCheck m_check;
    QString m_host;
    QString m_port;
    // The last result told, so that a check that is repeated with the same outcome is not logged again.
    int m_lastResult = -1;
    bool m_dark = false;
};
