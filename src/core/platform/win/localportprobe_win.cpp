#include "localportprobe.h"

namespace LocalPorts {

// Windows gives no hint for UDP ports.
std::optional<bool> udpPortBound(int)
{
    return std::nullopt;
}

} // namespace LocalPorts
