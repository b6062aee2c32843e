// Whether the public address of each tunnel after the first can be reached, for its row.
#include "tunnelreachability.h"

#include "tunneladdress.h"

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

QString TunnelReachability::warning(int tunnel) const
{
    const auto found = m_checked.find(tunnel);
    if (found == m_checked.end() || found->second.result != 0)
        return {};
    return QStringLiteral("服务器端口 %1 无法从外部访问，请检查服务器的防火墙或安全组")
        .arg(found->second.port);
}

void TunnelReachability::update()
{
    const bool running = m_controller->status() == FrpcManager::Running;
    const QList<FrpcManager::TunnelState> states = m_controller->tunnelStates();
    const QString host = TunnelAddress::bareHost(m_host);
    bool forgotten = false;
    for (int tunnel = 1; tunnel < FrpcManager::MAX_TUNNELS; ++tunnel) {
        const FrpcManager::TunnelState state = states.value(tunnel);
        // A datagram proves nothing without an answer: a UDP tunnel is not checked.
        const bool checkable = running && !state.port.isEmpty() && !host.isEmpty()
            && state.tunnel.protocol != FrpcManager::Udp;
        const auto found = m_checked.find(tunnel);
        if (found != m_checked.end()) {
            if (checkable && found->second.host == host && found->second.port == state.port)
                continue;
            m_check.forget(tunnel);
            forgotten = forgotten || found->second.result >= 0;
            m_checked.erase(found);
        }
        if (checkable) {
            m_checked[tunnel] = { host, state.port, -1 };
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
    const auto found = m_checked.find(tunnel);
    if (found == m_checked.end() || found->second.result == int(reachable))
        return;
    Checked &checked = found->second;
    checked.result = int(reachable);
    const QString address = TunnelAddress::formatHostPort(checked.host, checked.port);
    emit logMessage(reachable ? QStringLiteral("外部访问检查: %1 可以从外部访问").arg(address)
                              : QStringLiteral("外部访问检查: %1 无法从外部访问 (%2)").arg(address, reason));
    emit changed();
}
