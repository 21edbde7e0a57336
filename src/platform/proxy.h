// The user's proxy settings as the system's HTTP services see them (Windows: WinHTTP's
// view of the Internet Options). Only the system's raw answer is given here; the choice
// of a proxy for a URL is the download client's.
#pragma once

#include <optional>
#include <string>

namespace platform {

struct SystemProxy {
    // The static proxy: "host:port" for every scheme, or per scheme
    // "http=a:3128;https=b:3128"; empty when none is set.
    std::string Proxy;
    // The static bypass list: "<local>;*.example.com;10.*"; empty when none is set.
    std::string Bypass;
    // What automatic configuration (an auto-config URL, or auto-detection) chose for the
    // URL: a list of proxies "a:3128; b:8080", empty for a direct connection. Nothing
    // when it is not set up, failed, or ran out of its time.
    std::optional<std::string> Auto;
};

// The settings for `url`; nothing where the platform has none (POSIX).
std::optional<SystemProxy> SystemProxyFor(const std::string& url);

}  // namespace platform
