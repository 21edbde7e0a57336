#include "agent/RunSettings.h"

#include <charconv>

#include "platform/environment.h"
#include "platform/exception.h"

#ifndef TRAVIK_DEFAULT_DB_HOST
#define TRAVIK_DEFAULT_DB_HOST "localhost"
#endif

namespace agent {

namespace {

constexpr unsigned kDefaultStartDelay = 5000;
constexpr unsigned kDefaultDatabaseTimeout = 60000;
constexpr unsigned kDefaultRetryWait = 8000;

bool ParseUnsigned(const std::string& text, unsigned long& value) {
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

// A positive number of milliseconds of at most a day from the environment, else the default.
unsigned MillisecondsSetting(const char* name, unsigned fallback) {
    const auto text = platform::EnvironmentVariable(name);
    unsigned long value = 0;
    if (!text || !ParseUnsigned(*text, value) || value == 0 || value > 24UL * 3600 * 1000)
        return fallback;
    return static_cast<unsigned>(value);
}

}  // namespace

unsigned StartDelayMilliseconds() {
    const auto text = platform::EnvironmentVariable("TRAVIK_START_DELAY_MS");
    unsigned long value = 0;
    if (!text || !ParseUnsigned(*text, value) || value > 24UL * 3600 * 1000)
        return kDefaultStartDelay;
    // A timer with interval 0 never fires; 0 asks for the run at once, which the
    // shortest interval gives.
    return value == 0 ? 1u : static_cast<unsigned>(value);
}

unsigned DatabaseTimeoutMilliseconds() {
    return MillisecondsSetting("TRAVIK_DB_TIMEOUT_MS", kDefaultDatabaseTimeout);
}

unsigned DatabaseRetryWaitMilliseconds() {
    return MillisecondsSetting("TRAVIK_DB_RETRY_WAIT_MS", kDefaultRetryWait);
}

DatabaseAddress ParseDatabaseAddress(const std::string& text) {
    DatabaseAddress address;
    std::string port;
    bool hasPort = false;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string::npos)
            throw platform::Exception("Invalid database address \"" + text + "\"");
        address.host = text.substr(1, close - 1);
        if (close + 1 < text.size()) {
            if (text[close + 1] != ':')
                throw platform::Exception("Invalid database address \"" + text + "\"");
            port = text.substr(close + 2);
            hasPort = true;
        }
    } else if (const auto colon = text.find(':');
               colon != std::string::npos && text.find(':', colon + 1) == std::string::npos) {
        address.host = text.substr(0, colon);
        port = text.substr(colon + 1);
        hasPort = true;
    } else {
        address.host = text;  // a host name, or a bare IPv6 address
    }
    if (hasPort) {
        unsigned long value = 0;
        if (!ParseUnsigned(port, value) || value == 0 || value > 65535)
            throw platform::Exception("Invalid database port in \"" + text + "\"");
        address.port = static_cast<int>(value);
    }
    if (address.host.empty())
        throw platform::Exception("Invalid database address \"" + text + "\"");
    return address;
}

const char* DefaultDatabaseHost() {
    return TRAVIK_DEFAULT_DB_HOST;
}

DatabaseAddress UpdateDatabaseAddress() {
    const auto text = platform::EnvironmentVariable("TRAVIK_DB_HOST");
    return ParseDatabaseAddress(text && !text->empty() ? *text
                                                       : std::string(DefaultDatabaseHost()));
}

}  // namespace agent
