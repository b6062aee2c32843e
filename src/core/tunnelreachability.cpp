// SPDX-License-Identifier: Apache-2.0
// Whether the public address of each tunnel can be reached from outside.
#include "core/tunnelreachability.h"

#include "core/tunneladdress.h"

#include <QCoreApplication>

TunnelReachability::TunnelReachability(FrpcManager *controller, QObject *parent)
    : QObject(parent)
    , m_controller(controller)
    , m_check(this)
{
    // The check's connection reaches the local port like a visitor's; a check that reached nothing
    // has nothing to be reported for.
    connect(&m_check, &ReachabilityCheck::checkStarted, controller, &FrpcManager::expectOwnVisit);
    connect(&m_check, &ReachabilityCheck::checked, this, &TunnelReachability::onChecked);
    connect(controller, &FrpcManager::tunnelsChanged, this, &TunnelReachability::update);
    connect(controller, &FrpcManager::statusChanged, this, &TunnelReachability::update);
}

TunnelReachability::Result TunnelReachability::result(int tunnel) const
{
    const auto found = m_checked.find(tunnel);
    return found == m_checked.end() ? Unknown : found->second.result;
}

QString TunnelReachability::warning(int tunnel) const
{
    if (result(tunnel) != Blocked)
        return {};
    return QCoreApplication::translate("TunnelReachability",
                                       "服务器端口 %1 无法从外部访问，请检查服务器的防火墙或安全组")
        .arg(m_checked.at(tunnel).port);
}

void TunnelReachability::update()
{
    const bool running = m_controller->status() == FrpcManager::Running;
    const QList<TunnelState> states = m_controller->tunnelStates();
    const QString host = TunnelAddress::bareHost(m_host);
    bool forgotten = false;
    for (int tunnel = 0; tunnel < Tunnel::MAX_TUNNELS; ++tunnel) {
        const TunnelState state = states.value(tunnel);
        const bool checkable = running && !host.isEmpty() && state.checkable();
        const auto found = m_checked.find(tunnel);
        if (found != m_checked.end()) {
            if (checkable && found->second.host == host && found->second.port == state.port)
                continue;
            m_check.forget(tunnel);
            forgotten = forgotten || found->second.result != Unknown;
            m_checked.erase(found);
        }
        if (checkable) {
            m_checked[tunnel] = { host, state.port, Unknown };
            m_check.check(tunnel, host, state.port.toInt());
        }
    }
    if (forgotten)
        emit changed();
}

void TunnelReachability::onChecked(int tunnel, bool reachable, const QString &reason)
{
    if (!reachable)
        m_controller->withdrawOwnVisit(tunnel);
    const Result result = reachable ? Reachable : Blocked;
    const auto found = m_checked.find(tunnel);
    if (found == m_checked.end() || found->second.result == result)
        return;
    Checked &checked = found->second;
    checked.result = result;
    const QString address = TunnelAddress::formatHostPort(checked.host, checked.port);
    emit logMessage(
        reachable ? QCoreApplication::translate("TunnelReachability", "外部访问检查: %1 可以从外部访问")
                        .arg(address)
                  : QCoreApplication::translate("TunnelReachability", "外部访问检查: %1 无法从外部访问 (%2)")
                        .arg(address, reason));
    emit changed();
}
