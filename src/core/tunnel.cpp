// SPDX-License-Identifier: Apache-2.0
// The tunnel's value types: the protocol's names and the form the settings keep a tunnel in.
#include "core/tunnel.h"

QString Tunnel::protocolName(Protocol protocol)
{
    switch (protocol) {
    case Udp:
        return QStringLiteral("udp");
    case TcpUdp:
        return QStringLiteral("tcp+udp");
    case Tcp:
        break;
    }
    return QStringLiteral("tcp");
}

Tunnel::Protocol Tunnel::protocolFromName(const QString &name)
{
    if (name.compare(QLatin1String("udp"), Qt::CaseInsensitive) == 0)
        return Udp;
    if (name.compare(QLatin1String("tcp+udp"), Qt::CaseInsensitive) == 0)
        return TcpUdp;
    return Tcp;
}

bool Tunnel::isProtocolName(const QString &name)
{
    return protocolName(protocolFromName(name)).compare(name, Qt::CaseInsensitive) == 0;
}

QString Tunnel::storedText() const
{
    return QString::number(localPort) + u'/' + protocolName(protocol);
}

std::optional<Tunnel> Tunnel::fromStoredText(const QString &text)
{
    bool ok = false;
    const int port = text.section(u'/', 0, 0).toInt(&ok);
    const QString protocol = text.section(u'/', 1);
    if (!ok || port < 1 || port > 65535 || !isProtocolName(protocol))
        return std::nullopt;
    return Tunnel { port, protocolFromName(protocol) };
}
