// SPDX-License-Identifier: Apache-2.0
// Whether a program listens on a local port, on Linux: the kernel's socket tables in /proc/net.
#include "core/platform/localports.h"

#include <QFile>

namespace LocalPorts {

// Linux lists its sockets under /proc; a system without those files gives no answer.
std::optional<QSet<int>> listeningPorts(bool udp)
{
    std::optional<QSet<int>> ports;
    for (const bool ipv6 : { false, true }) {
        QFile table(QStringLiteral("/proc/net/%1%2").arg(udp ? "udp" : "tcp", ipv6 ? "6" : ""));
        if (!table.open(QIODevice::ReadOnly))
            continue;
        ports = ports.value_or(QSet<int>()) + procNetListeners(table.readAll(), ipv6, udp);
    }
    return ports;
}

} // namespace LocalPorts
