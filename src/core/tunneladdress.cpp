// SPDX-License-Identifier: Apache-2.0
// Tunnel addresses as people paste them and as the window shows them ("address:port").
#include "core/tunneladdress.h"

#include <QCoreApplication>
#include <QHostAddress>

namespace {

// Whether text is an IPv6 literal as the network layer reads it, a zone id ("fe80::1%eth0") included.
bool isIpv6Literal(const QString &text)
{
    QHostAddress address;
    return address.setAddress(text) && address.protocol() == QAbstractSocket::IPv6Protocol;
}

} // namespace

namespace TunnelAddress {

QString bareHost(const QString &host)
{
    const QString trimmed = host.trimmed();
    if (trimmed.size() > 2 && trimmed.startsWith(u'[') && trimmed.endsWith(u']')) {
        const QString inner = trimmed.mid(1, trimmed.size() - 2);
        if (isIpv6Literal(inner))
            return inner;
    }
    return trimmed;
}

QString formatHostPort(const QString &host, int port)
{
    return formatHostPort(host, QString::number(port));
}

QString formatHostPort(const QString &host, const QString &port)
{
    // Joined without placeholders: the host and the port are shown exactly as they are.
    const QString bare = bareHost(host);
    if (isIpv6Literal(bare))
        return u'[' + bare + QStringLiteral("]:") + port;
    return bare + u':' + port;
}

QString stateText(const QString &host, const TunnelState &state)
{
    if (state.tunnel.isPrivate) {
        if (!state.privateReady)
            return {};
        return QCoreApplication::translate("TunnelAddress", "仅好友 %1 本地端口 %2（无公网端口）")
            .arg(Tunnel::protocolName(state.tunnel.protocol).toUpper(),
                 QString::number(state.tunnel.localPort));
    }
    if (state.port.isEmpty())
        return {};
    const QString address = formatHostPort(host, state.port);
    switch (state.tunnel.protocol) {
    case Tunnel::Tcp:
        return address;
    case Tunnel::Udp:
        return QStringLiteral("UDP ") + address;
    case Tunnel::TcpUdp:
        break;
    }
    if (state.udpPort.isEmpty() || state.udpPort == state.port)
        return QStringLiteral("TCP+UDP ") + address;
    return QStringLiteral("TCP ") + address + QStringLiteral(" / UDP ") + formatHostPort(host, state.udpPort);
}

QStringList stateLines(const QString &host, const QList<TunnelState> &states)
{
    QStringList lines;
    for (const TunnelState &state : states) {
        const QString text = stateText(host, state);
        if (!text.isEmpty())
            lines << text;
    }
    return lines;
}

QString copyText(const QString &host, const TunnelState &state)
{
    if (state.tunnel.isPrivate)
        return {};
    const bool twoPorts = !state.udpPort.isEmpty() && state.udpPort != state.port;
    return twoPorts            ? stateText(host, state)
        : state.port.isEmpty() ? QString()
                               : formatHostPort(host, state.port);
}

} // namespace TunnelAddress
