// SPDX-License-Identifier: Apache-2.0
// The main window in the background: desktop notifications while it is not in front, and the tray
// icon that keeps the tunnel while it is closed.
#include "gui/mainwindow.h"

#include "core/frpcmanager.h"
#include "core/tunneladdress.h"
#include "gui/tunnelnotifications.h"
#include "gui/tunneltrayicon.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QTextDocumentFragment>

// ---------------------------------------------------------------------------------------------
// Desktop notifications while the window is not in front

// Made ahead of the window's own handlers: a failure is announced before its error box opens, and the
// window's connection state is still that of the report.
void MainWindow::setupDesktopNotifications()
{
    m_notifications = new TunnelNotifications(m_frpcManager, this, [this]() -> std::optional<QString> {
        if (m_connectedServerIndex == -1)
            return std::nullopt;
        return m_connectedAddress;
    });
    connect(m_notifications, &TunnelNotifications::logMessage, this, &MainWindow::onLogMessage);
}

// ---------------------------------------------------------------------------------------------
// The tray icon

void MainWindow::setupTray()
{
    if (m_tray)
        return;
    m_tray = TunnelTrayIcon::createIfAvailable(this);
    if (!m_tray)
        return;
    connect(m_tray, &TunnelTrayIcon::showWindowRequested, this, &MainWindow::onShowFromTray);
    connect(m_tray, &TunnelTrayIcon::toggleWindowRequested, this, &MainWindow::onToggleFromTray);
    connect(m_tray, &TunnelTrayIcon::copyAddressRequested, this, &MainWindow::onCopyAddressFromTray);
    connect(m_tray, &TunnelTrayIcon::disconnectRequested, this, [this] {
        if (m_connectedServerIndex != -1)
            m_frpcManager->stop();
    });
    connect(m_tray, &TunnelTrayIcon::quitRequested, this, &MainWindow::onQuitFromTray);
    updateTray();
}

void MainWindow::updateTray()
{
    if (!m_tray)
        return;
    TunnelTrayIcon::Look look = TunnelTrayIcon::Idle;
    switch (m_frpcManager->status()) {
    case FrpcManager::Starting:
    case FrpcManager::Stopping:
        look = TunnelTrayIcon::Connecting;
        break;
    case FrpcManager::Running:
        look = TunnelTrayIcon::Connected;
        break;
    case FrpcManager::Stopped:
    case FrpcManager::Error:
        break;
    }
    m_tray->setState(look, QTextDocumentFragment::fromHtml(m_statusLabel->text()).toPlainText(),
                     tunnelAddress());
}

QString MainWindow::tunnelAddress() const
{
    if (m_remotePort.isEmpty() || TunnelAddress::bareHost(m_connectedAddress).isEmpty())
        return {};
    // With several tunnels, one line for each; private tunnels have no address to copy.
    QList<TunnelState> states = m_frpcManager->tunnelStates();
    const bool firstPrivate = states.value(0).tunnel.isPrivate;
    states.removeIf([](const TunnelState &state) { return state.tunnel.isPrivate; });
    const QStringList lines = TunnelAddress::stateLines(m_connectedAddress, states);
    return lines.size() > 1 || firstPrivate ? lines.join(u'\n')
                                            : TunnelAddress::formatHostPort(m_connectedAddress, m_remotePort);
}

void MainWindow::onShowFromTray()
{
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

void MainWindow::onToggleFromTray()
{
    if (isVisible() && !isMinimized())
        hide();
    else
        onShowFromTray();
}

void MainWindow::onCopyAddressFromTray()
{
    const QString address = tunnelAddress();
    if (!address.isEmpty())
        QGuiApplication::clipboard()->setText(address, QClipboard::Clipboard);
}

// Ends the program as closing the window did before the tray: the same question while a tunnel runs.
// Leaving the event loop destroys the window, which finishes stopping the tunnel.
void MainWindow::onQuitFromTray()
{
    if (!confirmEndingTunnel())
        return;
    saveSettings();
    QCoreApplication::quit();
}
