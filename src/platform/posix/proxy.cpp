#include "platform/proxy.h"

namespace platform {

// Proxies come from the environment only; there are no system-wide settings to read.
std::optional<SystemProxy> SystemProxyFor(const std::string&) {
    return std::nullopt;
}

}  // namespace platform
