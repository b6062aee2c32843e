// Tunnel addresses as people paste them and as the window shows them ("address:port").
#include "tunneladdress.h"

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

QString tunnelText(const QString &host, const QString &port, bool udp)
{
    const QString address = formatHostPort(host, port);
    return udp ? QStringLiteral("UDP ") + address : address;
}

} // namespace TunnelAddress
