#include "download/NetUtil.h"

#include <algorithm>
#include <cctype>

namespace download {

namespace {

bool IsBlankOrControl(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string TextBefore(std::string_view s, std::string_view delimiter) {
    const auto at = s.find(delimiter);
    return std::string(at == std::string_view::npos ? s : s.substr(0, at));
}

std::string TextAfter(std::string_view s, std::string_view delimiter) {
    const auto at = s.find(delimiter);
    return std::string(at == std::string_view::npos ? s : s.substr(at + delimiter.size()));
}

std::string TrimLeft(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && IsBlankOrControl(s[i])) ++i;
    return std::string(s.substr(i));
}

std::string TrimRight(std::string_view s) {
    std::size_t n = s.size();
    while (n > 0 && IsBlankOrControl(s[n - 1])) --n;
    return std::string(s.substr(0, n));
}

std::string Trim(std::string_view s) {
    return TrimLeft(TrimRight(s));
}

std::string UpperCase(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return r;
}

std::string LowerCase(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return r;
}

bool StartsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

std::optional<std::int64_t> ParseDecimal(std::string_view s) {
    if (s.empty()) return std::nullopt;
    std::int64_t value = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        if (value > (INT64_MAX - (c - '0')) / 10) return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

std::optional<std::int64_t> ParseHex(std::string_view s) {
    if (s.empty()) return std::nullopt;
    std::int64_t value = 0;
    for (char c : s) {
        const int digit = HexValue(c);
        if (digit < 0 || value > (INT64_MAX - digit) / 16) return std::nullopt;
        value = value * 16 + digit;
    }
    return value;
}

bool IsIP4(std::string_view s) {
    int groups = 0;
    std::size_t i = 0;
    while (true) {
        std::size_t digits = 0;
        int value = 0;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9' && digits < 4) {
            value = value * 10 + (s[i] - '0');
            ++digits;
            ++i;
        }
        if (digits == 0 || digits > 3 || value > 255) return false;
        ++groups;
        if (i == s.size()) return groups == 4;
        if (s[i] != '.' || groups == 4) return false;
        ++i;
    }
}

bool IsIP6(std::string_view s) {
    if (s.size() < 2 || s.find(':') == std::string_view::npos) return false;
    int colons = 0;
    for (char c : s) {
        if (c == ':') {
            ++colons;
        } else if (HexValue(c) < 0 && c != '.') {
            return false;
        }
    }
    return colons >= 2 && colons <= 7;
}

TUrlParts SplitUrl(std::string_view url) {
    TUrlParts r;
    std::string rest;
    if (url.find("://") != std::string_view::npos) {
        r.Protocol = TextBefore(url, "://");
        rest = TextAfter(url, "://");
    } else {
        rest = std::string(url);
    }
    const std::string upper = UpperCase(r.Protocol);
    if (upper == "HTTPS") r.Port = "443";
    if (upper == "FTP") r.Port = "21";

    const auto at = rest.find('@');
    const auto slash = rest.find('/');
    if (at != std::string::npos && (slash == std::string::npos || at < slash)) {
        const std::string userInfo = rest.substr(0, at);
        rest = rest.substr(at + 1);
        if (userInfo.find(':') != std::string::npos) {
            r.User = TextBefore(userInfo, ":");
            r.Password = TextAfter(userInfo, ":");
        } else {
            r.User = userInfo;
        }
    }

    std::string address;
    std::string pathPart;
    if (const auto first = rest.find('/'); first != std::string::npos) {
        address = rest.substr(0, first);
        pathPart = rest.substr(first + 1);
    } else {
        address = rest;
    }

    if (!address.empty() && address[0] == '[') {
        const auto close = address.find(']');
        r.Host = address.substr(1, close == std::string::npos ? std::string::npos : close - 1);
        if (close != std::string::npos && close + 1 < address.size() && address[close + 1] == ':')
            r.Port = address.substr(close + 2);
    } else if (address.find(':') != std::string::npos) {
        r.Host = TextBefore(address, ":");
        r.Port = TextAfter(address, ":");
    } else {
        r.Host = address;
    }

    r.Target = "/" + pathPart;
    if (pathPart.find('?') != std::string::npos) {
        r.Path = "/" + TextBefore(pathPart, "?");
        r.Parameters = TextAfter(pathPart, "?");
    } else {
        r.Path = "/" + pathPart;
    }
    if (r.Host.empty()) r.Host = "localhost";
    return r;
}

std::string UrlWithoutCredentials(std::string_view url) {
    const auto scheme = url.find("://");
    const std::size_t start = scheme == std::string_view::npos ? 0 : scheme + 3;
    const auto at = url.find('@', start);
    const auto slash = url.find('/', start);
    if (at == std::string_view::npos || (slash != std::string_view::npos && slash < at))
        return std::string(url);
    return std::string(url.substr(0, start)) + std::string(url.substr(at + 1));
}

std::string PercentDecode(std::string_view s) {
    std::string r;
    r.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        if (s[i] != '%') {
            r += s[i++];
            continue;
        }
        if (i + 2 >= s.size()) break;  // a "%" among the last two characters ends it
        const char a = s[i + 1];
        const char b = s[i + 2];
        if (HexValue(a) >= 0 && HexValue(b) >= 0) {
            r += static_cast<char>(HexValue(a) * 16 + HexValue(b));
            i += 3;
        } else if (a == '\r' || a == '\n') {
            i += 2;
            if ((b == '\r' || b == '\n') && b != a) ++i;  // CR LF or LF CR
        } else {
            r += s[i++];
        }
    }
    return r;
}

std::string PercentEncodeTarget(std::string_view s) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string r;
    r.reserve(s.size());
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7F) {
            r += '%';
            r += kHex[u >> 4];
            r += kHex[u & 0xF];
        } else {
            r += c;
        }
    }
    return r;
}

std::string JoinFoldedHeader(const std::vector<std::string>& lines, std::size_t& index) {
    std::string header = lines[index++];
    if (!header.empty()) {
        while (index + 1 < lines.size()) {
            std::string next = lines[index];
            std::replace(next.begin(), next.end(), '\t', ' ');
            if (next.empty()) break;
            const char first = next[0];
            if (first != ' ' && first != '"' && first != ':' && first != '=') break;
            header += ' ' + Trim(next);
            ++index;
        }
    }
    return TrimRight(header);
}

std::string EncodeBase64(std::string_view bytes) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string r;
    r.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t v = static_cast<unsigned char>(bytes[i]) << 16 |
                                static_cast<unsigned char>(bytes[i + 1]) << 8 |
                                static_cast<unsigned char>(bytes[i + 2]);
        r += kAlphabet[v >> 18 & 63];
        r += kAlphabet[v >> 12 & 63];
        r += kAlphabet[v >> 6 & 63];
        r += kAlphabet[v & 63];
    }
    const std::size_t left = bytes.size() - i;
    if (left > 0) {
        std::uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
        if (left == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        r += kAlphabet[v >> 18 & 63];
        r += kAlphabet[v >> 12 & 63];
        r += left == 2 ? kAlphabet[v >> 6 & 63] : '=';
        r += '=';
    }
    return r;
}

std::optional<std::string> DecodeBase64(std::string_view text) {
    const auto value = [](char c) -> int {
        if (c >= 'A' && c <= 'Z') return c - 'A';
        if (c >= 'a' && c <= 'z') return c - 'a' + 26;
        if (c >= '0' && c <= '9') return c - '0' + 52;
        if (c == '+') return 62;
        if (c == '/') return 63;
        return -1;
    };
    if (text.size() % 4 != 0) return std::nullopt;
    std::string bytes;
    bytes.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        // "=" only at the end of the last group: "xx==" or "xxx=".
        const std::size_t padding = !last ? 0 : text[i + 3] != '=' ? 0 : text[i + 2] != '=' ? 1 : 2;
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            const int v = k < 4 - padding ? value(text[i + k]) : 0;
            if (v < 0) return std::nullopt;
            group = group << 6 | static_cast<std::uint32_t>(v);
        }
        // The bits below the last byte must be zero, so each byte string has one text.
        if ((padding == 1 && (group & 0xFF) != 0) || (padding == 2 && (group & 0xFFFF) != 0))
            return std::nullopt;
        bytes += static_cast<char>(group >> 16 & 0xFF);
        if (padding < 2) bytes += static_cast<char>(group >> 8 & 0xFF);
        if (padding < 1) bytes += static_cast<char>(group & 0xFF);
    }
    return bytes;
}

std::optional<std::string> HeaderValue(const std::vector<std::string>& headers,
                                       std::string_view name) {
    const std::string wanted = UpperCase(name);
    for (const auto& line : headers) {
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        if (UpperCase(Trim(std::string_view(line).substr(0, colon))) == wanted)
            return Trim(std::string_view(line).substr(colon + 1));
    }
    return std::nullopt;
}

}  // namespace download
