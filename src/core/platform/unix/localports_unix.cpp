// Whether a program listens on a local port, on Linux: the kernel's socket tables in /proc/net.
#include "core/platform/localports.h"

#include <QFile>

namespace LocalPorts {

// Linux lists its sockets under /proc; a system without those files gives no answer.
std::optional<bool> udpPortBound(int port)
{
    bool anyRead = false;
    for (const bool ipv6 : { false, true }) {
        QFile table(ipv6 ? QStringLiteral("/proc/net/udp6") : QStringLiteral("/proc/net/udp"));
        if (!table.open(QIODevice::ReadOnly))
            continue;
        anyRead = true;
        if (procNetUdpHasListener(table.readAll(), port, ipv6))
            return true;
    }
    if (!anyRead)
        return std::nullopt;
    return false;
}

} // namespace LocalPorts
