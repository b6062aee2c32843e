// Whether a program listens on a local port, on Windows: no hint for UDP (TCP is tried directly).
#include "core/platform/localports.h"

namespace LocalPorts {

// Windows gives no hint for UDP ports.
std::optional<bool> udpPortBound(int)
{
    return std::nullopt;
}

} // namespace LocalPorts
