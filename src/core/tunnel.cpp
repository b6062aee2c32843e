// SPDX-License-Identifier: Apache-2.0
// The tunnel's value types: the protocol's names and the form the settings keep a tunnel in.
#include "core/tunnel.h"

#include <QStringList>

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
    return QString::number(localPort) + u'/' + protocolName(protocol)
        + (isPrivate ? QStringLiteral("/private") : QString());
}

std::optional<Tunnel> Tunnel::fromStoredText(const QString &text)
{
    const QStringList parts = text.split(u'/');
    if (parts.size() < 2 || parts.size() > 3
        || (parts.size() == 3 && parts.at(2) != QLatin1String("private")))
        return std::nullopt;
    bool ok = false;
    const int port = parts.at(0).toInt(&ok);
    if (!ok || port < 1 || port > 65535 || !isProtocolName(parts.at(1)))
        return std::nullopt;
    return Tunnel { port, protocolFromName(parts.at(1)), parts.size() == 3 };
}
