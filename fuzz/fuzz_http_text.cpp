// The text of HTTP answers and URLs: the status line, header lines with folding and
// look-up, chunk sizes and other numbers (against a reference with more bits), URLs split
// into their parts, redirect targets, percent decoding and Base64.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "download/HTTPDownloadWorker.h"
#include "download/HttpClient.h"
#include "download/NetUtil.h"

using namespace download;

namespace {

bool Blank(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

int Digit(char c, int base) {
    int d = c >= '0' && c <= '9'   ? c - '0'
            : c >= 'a' && c <= 'f' ? c - 'a' + 10
            : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                   : 99;
    return d < base ? d : -1;
}

// The number in 128 bits: none for an empty text, another character or more than 2^63-1.
std::optional<std::int64_t> Reference(std::string_view s, int base) {
    if (s.empty()) return std::nullopt;
    unsigned __int128 value = 0;
    for (char c : s) {
        const int d = Digit(c, base);
        if (d < 0) return std::nullopt;
        value = value * static_cast<unsigned>(base) + static_cast<unsigned>(d);
        if (value > INT64_MAX) return std::nullopt;
    }
    return static_cast<std::int64_t>(value);
}

// Percent decoding written out once more, character by character.
std::string ReferencePercentDecode(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '%') {
            out += s[i];
            continue;
        }
        if (s.size() - i <= 2) return out;
        const char a = s[i + 1], b = s[i + 2];
        const bool breakA = a == '\r' || a == '\n';
        if (Digit(a, 16) >= 0 && Digit(b, 16) >= 0) {
            out += static_cast<char>(Digit(a, 16) << 4 | Digit(b, 16));
            i += 2;
        } else if (breakA) {
            i += (b == '\r' || b == '\n') && b != a ? 2 : 1;
        } else {
            out += '%';
        }
    }
    return out;
}

std::string DecodeBase64(std::string_view text) {
    std::string out;
    std::uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        if (c == '=') break;
        const int v = c >= 'A' && c <= 'Z'   ? c - 'A'
                      : c >= 'a' && c <= 'z' ? c - 'a' + 26
                      : c >= '0' && c <= '9' ? c - '0' + 52
                      : c == '+'             ? 62
                                             : 63;
        bits = bits << 6 | static_cast<std::uint32_t>(v);
        if ((count += 6) >= 8) out += static_cast<char>(bits >> (count -= 8) & 0xFF);
    }
    return out;
}

std::vector<std::string> Lines(std::string_view text) {
    std::vector<std::string> lines;
    for (;;) {
        const auto at = text.find('\n');
        std::string_view line = text.substr(0, at);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.emplace_back(line);
        if (at == std::string_view::npos) return lines;
        text.remove_prefix(at + 1);
    }
}

void CheckStatus(const std::string& line) {
    THTTPClient client;
    client.DecodeStatus(line);
    FUZZ_CHECK(client.ResultCode() >= 0);
    if (client.ResultCode() != 0)
        FUZZ_CHECK(line.find(std::to_string(client.ResultCode())) != std::string::npos);
    const std::string& reason = client.ResultString();
    if (!reason.empty()) FUZZ_CHECK(!Blank(reason.front()) && !Blank(reason.back()));
}

void CheckHeaders(std::string_view text, const std::string& name) {
    const std::vector<std::string> lines = Lines(text);
    std::vector<std::string> joined;
    for (std::size_t index = 0; index < lines.size();) {
        const std::size_t before = index;
        joined.push_back(JoinFoldedHeader(lines, index));
        FUZZ_CHECK(index > before && index <= lines.size());
        FUZZ_CHECK(joined.back().size() <= text.size());
        if (!joined.back().empty()) FUZZ_CHECK(!Blank(joined.back().back()));
        // A line that is not folded comes out as it was, trimmed at the right.
        if (index == before + 1) FUZZ_CHECK(joined.back() == TrimRight(lines[before]));
    }
    const auto value = HeaderValue(joined, name);
    if (value && !value->empty()) FUZZ_CHECK(!Blank(value->front()) && !Blank(value->back()));
    if (name.find(':') == std::string::npos && !value) {
        for (const auto& line : joined)
            FUZZ_CHECK(line.find(':') == std::string::npos ||
                       LowerCase(Trim(line.substr(0, line.find(':')))) != LowerCase(name));
    }
}

void CheckNumbers(std::string_view text) {
    FUZZ_CHECK(ParseDecimal(text) == Reference(text, 10));
    FUZZ_CHECK(ParseHex(text) == Reference(text, 16));
    // A chunk-size line as the client reads it: the size before any blank or ";".
    const std::string size = Trim(TextBefore(Trim(TextBefore(text, " ")), ";"));
    if (const auto n = ParseHex(size)) FUZZ_CHECK(*n >= 0 && size.size() <= text.size());
}

void CheckUrl(const std::string& url, const std::string& location) {
    const TUrlParts u = SplitUrl(url);
    FUZZ_CHECK(!u.Host.empty());
    FUZZ_CHECK(!u.Path.empty() && u.Path.front() == '/' && !u.Target.empty());
    FUZZ_CHECK(u.Target.starts_with(u.Path));
    if (u.Target.find('?') != std::string::npos)
        FUZZ_CHECK(u.Target == u.Path + "?" + u.Parameters);
    else
        FUZZ_CHECK(u.Target == u.Path && u.Parameters.empty());
    if (u.Host != "localhost") FUZZ_CHECK(url.find(u.Host) != std::string::npos);
    const std::string resolved = ResolveRedirectUrl(url, location);
    FUZZ_CHECK(resolved.size() <= 2 * (url.size() + location.size()) + 64);
}

void CheckPercent(std::string_view text) {
    const std::string decoded = PercentDecode(text);
    FUZZ_CHECK(decoded == ReferencePercentDecode(text));
    FUZZ_CHECK(decoded.size() <= text.size());
    const std::string encoded = EncodeBase64(text);
    FUZZ_CHECK(encoded.size() == (text.size() + 2) / 3 * 4);
    FUZZ_CHECK(DecodeBase64(encoded) == text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider choices(data, size);
    const int which = choices.ConsumeIntegralInRange(0, 4);
    const std::string first = choices.ConsumeRandomLengthString(size);
    const std::string rest = choices.ConsumeRemainingBytesAsString();
    switch (which) {
        case 0:
            CheckStatus(first);
            break;
        case 1:
            CheckHeaders(rest, first);
            break;
        case 2:
            CheckNumbers(first);
            CheckNumbers(rest);
            break;
        case 3:
            CheckUrl(first, rest);
            break;
        default:
            CheckPercent(rest);
            break;
    }
    return 0;
}
