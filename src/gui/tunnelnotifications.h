// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/frpcmanager.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class DesktopNotifier;
class QWidget;

// Tells a user who is not looking at the window what happens to the tunnel: established, lost, back,
// on another port, failed. Each message replaces the last one on the desktop.
class TunnelNotifications : public QObject
{
    Q_OBJECT

public:
    // The server address of the tunnel the window shows as connected, or nothing when it shows none.
    using ConnectedAddress = std::function<std::optional<QString>()>;

    // Make it before the window connects its own handlers to the controller: a failure is then
    // announced before its error box opens.
    TunnelNotifications(FrpcManager *controller, QWidget *window, ConnectedAddress connectedAddress);

    // Sends a notification whether or not the window is in front.
    void notifyAlways(const QString &summary, const QString &body);

signals:
    // A line for the log: why the desktop takes no notifications (once).
    void logMessage(const QString &msg);

private:
    void onTunnelEvent(FrpcManager::TunnelEvent event, const QString &port);
    void notify(const QString &summary, const QString &body);

    FrpcManager *m_controller = nullptr;
    QWidget *m_window = nullptr;
    DesktopNotifier *m_notifier = nullptr;
    ConnectedAddress m_connectedAddress;
};
