// SPDX-License-Identifier: Apache-2.0
// Desktop notifications of what happens to the tunnel.
#include "gui/tunnelnotifications.h"

#include "core/platform/desktopnotifier.h"
#include "core/tunneladdress.h"
#include "gui/themestyles.h"

#include <QTextDocumentFragment>
#include <QWidget>

namespace {

// What the status line shows, without its markup.
QString plainStatusText(const QString &html)
{
    return QTextDocumentFragment::fromHtml(html).toPlainText();
}

} // namespace

TunnelNotifications::TunnelNotifications(FrpcManager *controller, QWidget *window,
                                         ConnectedAddress connectedAddress)
    : QObject(window)
    , m_controller(controller)
    , m_window(window)
    , m_notifier(new DesktopNotifier(this))
    , m_connectedAddress(std::move(connectedAddress))
{
    connect(m_notifier, &DesktopNotifier::unavailable, this, &TunnelNotifications::logMessage);
    connect(controller, &FrpcManager::tunnelEvent, this, &TunnelNotifications::onTunnelEvent);
    connect(controller, &FrpcManager::errorOccurred, this,
            [this](const QString &error) { notify(tr("隧道出错"), error); });
}

void TunnelNotifications::onTunnelEvent(FrpcManager::TunnelEvent event, const QString &port)
{
    if (event == FrpcManager::TunnelLost) {
        notify(tr("隧道已断开，正在重新连接"),
               plainStatusText(ThemeStyles::statusLine(FrpcManager::Starting)));
        return;
    }
    // A port of a tunnel the window does not show as its own is not announced.
    const std::optional<QString> address = m_connectedAddress();
    if (!address)
        return;
    const QList<TunnelState> states = m_controller->tunnelStates();
    TunnelState first = states.value(0);
    first.port = port;
    const QString remoteInfo = TunnelAddress::stateText(*address, first);
    const QString summary = event == FrpcManager::TunnelRestored ? tr("隧道已恢复")
        : event == FrpcManager::TunnelPortChanged                ? tr("隧道的远程端口已变化")
                                                                 : tr("隧道已建立");
    const QString statusLine = ThemeStyles::statusLineRunningAt().arg(remoteInfo.toHtmlEscaped());
    // Every other tunnel's address on a line of its own.
    const QStringList others = TunnelAddress::stateLines(*address, states.mid(1));
    notify(summary, (QStringList { plainStatusText(statusLine) } + others).join(u'\n'));
}

// Only for a user who is not looking at the window: while it is shown and active, its status line says
// it all. A window hidden in the tray counts as inactive.
void TunnelNotifications::notify(const QString &summary, const QString &body)
{
    if (!m_window->isVisible() || !m_window->isActiveWindow())
        m_notifier->notify(summary, body);
}

void TunnelNotifications::notifyAlways(const QString &summary, const QString &body)
{
    m_notifier->notify(summary, body);
}
