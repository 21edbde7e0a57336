#include "download/ProxyChoice.h"

#include <array>
#include <cstdint>
#include <vector>

#include "download/DownloadWorker.h"
#include "download/NetUtil.h"
#include "platform/environment.h"

namespace download {

namespace {

// The pieces of `list` between any of `separators`, trimmed, without empty ones.
std::vector<std::string> Entries(std::string_view list, std::string_view separators) {
    std::vector<std::string> entries;
    std::size_t start = 0;
    while (start <= list.size()) {
        const auto end = list.find_first_of(separators, start);
        std::string entry =
            Trim(list.substr(start, end == std::string_view::npos ? end : end - start));
        if (!entry.empty()) entries.push_back(std::move(entry));
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    return entries;
}

// An address in network order: 4 bytes for IPv4, 16 for IPv6.
struct Address {
    std::array<std::uint8_t, 16> bytes{};
    int size = 0;
};

std::optional<Address> ParseIP4(std::string_view s) {
    if (!IsIP4(s)) return std::nullopt;
    Address a;
    a.size = 4;
    for (int i = 0; i < 4; ++i) {
        const auto dot = s.find('.');
        a.bytes[i] = static_cast<std::uint8_t>(*ParseDecimal(s.substr(0, dot)));
        s.remove_prefix(dot == std::string_view::npos ? s.size() : dot + 1);
    }
    return a;
}

std::optional<Address> ParseIP6(std::string_view s) {
    if (!IsIP6(s)) return std::nullopt;
    std::vector<std::uint8_t> head, tail;
    bool compressed = false;
    const auto gap = s.find("::");
    const auto groups = [](std::string_view part, std::vector<std::uint8_t>& out) {
        if (part.empty()) return true;
        for (const auto& group : Entries(part, ":")) {
            if (group.find('.') != std::string::npos) {  // an IPv4 tail
                const auto v4 = ParseIP4(group);
                if (!v4) return false;
                out.insert(out.end(), v4->bytes.begin(), v4->bytes.begin() + 4);
                continue;
            }
            const auto value = group.size() <= 4 ? ParseHex(group) : std::nullopt;
            if (!value) return false;
            out.push_back(static_cast<std::uint8_t>(*value >> 8));
            out.push_back(static_cast<std::uint8_t>(*value & 0xFF));
        }
        return true;
    };
    if (gap != std::string_view::npos) {
        compressed = true;
        if (!groups(s.substr(0, gap), head) || !groups(s.substr(gap + 2), tail))
            return std::nullopt;
    } else if (!groups(s, head)) {
        return std::nullopt;
    }
    const std::size_t used = head.size() + tail.size();
    if (used > 16 || (!compressed && used != 16) || (compressed && used == 16)) return std::nullopt;
    Address a;
    a.size = 16;
    std::copy(head.begin(), head.end(), a.bytes.begin());
    std::copy(tail.begin(), tail.end(), a.bytes.begin() + static_cast<long>(16 - tail.size()));
    return a;
}

std::optional<Address> ParseAddress(std::string_view s) {
    if (auto v4 = ParseIP4(s)) return v4;
    return ParseIP6(s);
}

// Whether the first `bits` bits of both addresses (of one family) agree.
bool SamePrefix(const Address& a, const Address& b, int bits) {
    if (a.size != b.size || bits < 0 || bits > a.size * 8) return false;
    for (int i = 0; i < bits; ++i) {
        const int bit = 7 - i % 8;
        if (((a.bytes[i / 8] >> bit) & 1) != ((b.bytes[i / 8] >> bit) & 1)) return false;
    }
    return true;
}

// `pattern` with "*" standing for any run of characters, letter case ignored.
bool WildcardMatch(std::string_view pattern, std::string_view text) {
    std::size_t p = 0, t = 0, star = std::string_view::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() &&
                   LowerCase(pattern.substr(p, 1)) == LowerCase(text.substr(t, 1))) {
            ++p;
            ++t;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

std::optional<std::string> FirstSet(const TProxySources& sources,
                                    std::initializer_list<const char*> names) {
    for (const char* name : names) {
        if (auto value = sources.Environment(name); value && !Trim(*value).empty()) return value;
    }
    return std::nullopt;
}

}  // namespace

std::optional<TProxyServer> ParseProxy(std::string_view text) {
    std::string rest = Trim(text);
    if (const auto scheme = rest.find("://"); scheme != std::string::npos)
        rest = rest.substr(scheme + 3);
    rest = TextBefore(rest, "/");
    TProxyServer proxy;
    if (const auto at = rest.rfind('@'); at != std::string::npos) {
        const std::string userInfo = rest.substr(0, at);
        rest = rest.substr(at + 1);
        const auto colon = userInfo.find(':');
        proxy.User = PercentDecode(userInfo.substr(0, colon));
        if (colon != std::string::npos) proxy.Pass = PercentDecode(userInfo.substr(colon + 1));
    }
    proxy.Port = kDefaultProxyPort;
    if (!rest.empty() && rest.front() == '[') {
        const auto close = rest.find(']');
        if (close == std::string::npos) return std::nullopt;
        proxy.Host = rest.substr(1, close - 1);
        if (rest.size() > close + 2 && rest[close + 1] == ':') proxy.Port = rest.substr(close + 2);
    } else if (const auto colon = rest.find(':'); colon != std::string::npos) {
        proxy.Host = rest.substr(0, colon);
        if (colon + 1 < rest.size()) proxy.Port = rest.substr(colon + 1);
    } else {
        proxy.Host = rest;
    }
    if (proxy.Host.empty()) return std::nullopt;
    return proxy;
}

bool InNoProxyList(std::string_view list, std::string_view host) {
    const std::string name = LowerCase(host);
    const auto address = ParseAddress(host);
    for (std::string entry : Entries(list, ", \t")) {
        if (entry == "*") return true;
        if (address) {
            // Addresses match addresses and ranges only; a name is never resolved.
            const auto slash = entry.find('/');
            const auto net = ParseAddress(entry.substr(0, slash));
            if (!net) continue;
            int bits = net->size * 8;
            if (slash != std::string::npos) {
                const auto prefix = ParseDecimal(entry.substr(slash + 1));
                if (!prefix || *prefix > bits) continue;
                bits = static_cast<int>(*prefix);
            }
            if (SamePrefix(*address, *net, bits)) return true;
            continue;
        }
        if (entry.front() == '.') entry.erase(0, 1);
        entry = LowerCase(entry);
        if (entry.empty()) continue;
        if (name == entry || (name.size() > entry.size() && name.ends_with(entry) &&
                              name[name.size() - entry.size() - 1] == '.'))
            return true;
    }
    return false;
}

bool InBypassList(std::string_view list, std::string_view host) {
    for (const auto& entry : Entries(list, "; \t\r\n")) {
        if (LowerCase(entry) == "<local>") {
            if (host.find('.') == std::string_view::npos && !ParseAddress(host)) return true;
            continue;
        }
        if (WildcardMatch(entry, host)) return true;
    }
    return false;
}

std::string StaticProxyFor(std::string_view list, std::string_view scheme) {
    const auto entries = Entries(list, "; \t\r\n");
    for (const auto& entry : entries) {
        const auto equals = entry.find('=');
        if (equals == std::string::npos) {
            if (entries.size() == 1) return entry;  // one proxy for every scheme
            continue;
        }
        if (LowerCase(Trim(entry.substr(0, equals))) == LowerCase(scheme))
            return Trim(entry.substr(equals + 1));
    }
    return {};
}

bool IsLoopbackHost(std::string_view host) {
    if (LowerCase(host) == "localhost") return true;
    const auto address = ParseAddress(host);
    if (!address) return false;
    if (address->size == 4) return address->bytes[0] == 127;
    static const Address loopback6 = *ParseIP6("::1");
    static const Address mapped4 = *ParseIP6("::ffff:127.0.0.0");
    return SamePrefix(*address, loopback6, 128) || SamePrefix(*address, mapped4, 104);
}

TProxySources DefaultProxySources() {
    return {platform::EnvironmentVariable, platform::SystemProxyFor};
}

std::optional<TProxyServer> ChooseProxy(const std::string& url, const TDownloadProxy& own,
                                        const TProxySources& sources) {
    const TUrlParts u = SplitUrl(url);
    if (IsLoopbackHost(u.Host)) return std::nullopt;
    if (!own.ProxyHost.empty()) {
        return TProxyServer{own.ProxyHost,
                            own.ProxyPort.empty() ? kDefaultProxyPort : own.ProxyPort,
                            own.ProxyUser, own.ProxyPass};
    }
    const std::string scheme = LowerCase(u.Protocol);
    if (scheme != "http" && scheme != "https") return std::nullopt;

    const auto fromEnvironment = scheme == "https"
                                     ? FirstSet(sources, {"https_proxy", "HTTPS_PROXY"})
                                     : FirstSet(sources, {"http_proxy"});
    if (fromEnvironment) {
        const auto noProxy = FirstSet(sources, {"no_proxy", "NO_PROXY"});
        if (noProxy && InNoProxyList(*noProxy, u.Host)) return std::nullopt;
        // A value that names no host cannot be used, and going around it would be wrong;
        // it is tried as written, and fails with its name.
        if (auto proxy = ParseProxy(*fromEnvironment)) return proxy;
        return TProxyServer{Trim(*fromEnvironment), kDefaultProxyPort, "", ""};
    }

    const auto system = sources.System ? sources.System(url) : std::nullopt;
    if (!system) return std::nullopt;
    if (system->Auto) {
        // The script's list: the first proxy (its "DIRECT" means a direct connection).
        const auto chosen = Entries(*system->Auto, "; \t\r\n");
        if (chosen.empty() || UpperCase(chosen.front()) == "DIRECT") return std::nullopt;
        return ParseProxy(chosen.front());
    }
    if (InBypassList(system->Bypass, u.Host)) return std::nullopt;
    const std::string entry = StaticProxyFor(system->Proxy, scheme);
    if (entry.empty()) return std::nullopt;
    return ParseProxy(entry);
}

}  // namespace download
