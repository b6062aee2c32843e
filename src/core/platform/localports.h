#pragma once

#include <QByteArray>

#include <optional>

// Whether a local program takes what a tunnel brings to its local port.
namespace LocalPorts {

// Whether /proc/net/udp (ipv6 false) or /proc/net/udp6 (ipv6 true), given as its text, lists an
// unconnected socket bound to port on 127.0.0.1, 0.0.0.0 or :: (or their IPv4-mapped forms), which
// datagrams sent to 127.0.0.1 reach. Addresses are read in this machine's byte order, as the kernel
// writes them.
bool procNetUdpHasListener(const QByteArray &text, int port, bool ipv6);

// Whether a UDP socket on this machine receives datagrams sent to 127.0.0.1 at port; nothing where the
// system does not tell (one implementation per system).
std::optional<bool> udpPortBound(int port);

} // namespace LocalPorts
