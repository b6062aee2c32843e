// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QByteArray>
#include <QSet>

#include <optional>

// Whether a local program takes what a tunnel brings to its local port.
namespace LocalPorts {

// The ports that a socket table of /proc/net (tcp, tcp6, udp or udp6), given as its text, lists as
// taking what is sent to 127.0.0.1: TCP sockets that listen, unconnected UDP sockets, bound to
// 127.0.0.1, 0.0.0.0 or :: (or their IPv4-mapped forms). Addresses are read in this machine's byte
// order, as the kernel writes them.
QSet<int> procNetListeners(const QByteArray &text, bool ipv6, bool udp);

// The ports on this machine where a program takes what is sent to 127.0.0.1 over UDP (udp) or TCP,
// from one look at the system's socket tables; nothing where the system does not tell (one
// implementation per system).
std::optional<QSet<int>> listeningPorts(bool udp);

} // namespace LocalPorts
