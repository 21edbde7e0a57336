#include "dbclient/ClientErrors.h"

#include <array>
#include <charconv>

namespace dbclient {

namespace {

constexpr std::array<std::string_view, 21> kClientErrors = {
    "Unknown MySQL error",
    "Can't create UNIX socket (%d)",
    "Can't connect to local MySQL server through socket '%-.64s' (%d)",
    "Can't connect to MySQL server on '%-.64s' (%d)",
    "Can't create TCP/IP socket (%d)",
    "Unknown MySQL Server Host '%-.64s' (%d)",
    "MySQL server has gone away",
    "Protocol mismatch. Server Version = %d Client Version = %d",
    "MySQL client run out of memory",
    "Wrong host info",
    "Localhost via UNIX socket",
    "%-.64s via TCP/IP",
    "Error in server handshake",
    "Lost connection to MySQL server during query",
    "Commands out of sync;  You can't run this command now",
    "%-.64s via named pipe",
    "Can't wait for named pipe to host: %-.64s  pipe: %-.32s (%lu)",
    "Can't open named pipe to host: %-.64s  pipe: %-.32s (%u)",
    "Can't set state of named pipe to host: %-.64s  pipe: %-.32s (%lu)",
    "Can't initialize character set %-.64s (path: %-.64s)",
    "Got packet bigger than 'max_allowed_packet'",
};

constexpr std::string_view kAuthPluginCannotLoad = "Authentication plugin '%s' cannot be loaded";
constexpr std::string_view kAuthPluginError = "Authentication plugin '%-.64s' reported error: %s";
constexpr std::string_view kLocalInfileRefused = "LOAD DATA LOCAL INFILE request refused";

std::string ArgText(const TErrorArg& arg) {
    if (const auto* text = std::get_if<std::string>(&arg)) return *text;
    char digits[24];
    const auto [end, ec] =
        std::holds_alternative<long long>(arg)
            ? std::to_chars(digits, digits + sizeof digits, std::get<long long>(arg))
            : std::to_chars(digits, digits + sizeof digits, std::get<unsigned long long>(arg));
    (void)ec;
    return std::string(digits, end);
}

}  // namespace

std::string_view ClientErrorText(unsigned errnum) {
    if (errnum >= CR_UNKNOWN_ERROR && errnum <= CR_NET_PACKET_TOO_LARGE)
        return kClientErrors[errnum - CR_UNKNOWN_ERROR];
    if (errnum == CR_AUTH_PLUGIN_CANNOT_LOAD) return kAuthPluginCannotLoad;
    if (errnum == CR_AUTH_PLUGIN_ERR) return kAuthPluginError;
    if (errnum == CR_LOAD_DATA_LOCAL_INFILE_REJECTED) return kLocalInfileRefused;
    return {};
}

std::string FormatErrorText(std::string_view format, const std::vector<TErrorArg>& args) {
    std::string out;
    out.reserve(format.size() + 32);
    std::size_t next = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%' || i + 1 >= format.size()) {
            out += format[i];
            continue;
        }
        std::size_t j = i + 1;
        if (format[j] == '%') {
            out += '%';
            i = j;
            continue;
        }
        // Flags and precision: only "-" and ".N" occur; the precision cuts a text.
        while (j < format.size() && format[j] == '-') ++j;
        std::size_t precision = std::string_view::npos;
        if (j < format.size() && format[j] == '.') {
            std::size_t p = 0;
            ++j;
            while (j < format.size() && format[j] >= '0' && format[j] <= '9')
                p = p * 10 + static_cast<std::size_t>(format[j++] - '0');
            precision = p;
        }
        while (j < format.size() && format[j] == 'l') ++j;
        if (j >= format.size()) break;
        const char conversion = format[j];
        std::string value = next < args.size() ? ArgText(args[next]) : std::string();
        ++next;
        if (conversion == 's' && value.size() > precision) value.resize(precision);
        out += value;
        i = j;
    }
    return out;
}

}  // namespace dbclient
