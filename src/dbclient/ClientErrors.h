// Numbers and texts of the failures the MySQL client detects itself (as opposed to errors
// reported by the server, which keep the server's number and message).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace dbclient {

enum TClientError : unsigned {
    CR_UNKNOWN_ERROR = 2000,
    CR_SOCKET_CREATE_ERROR = 2001,
    CR_CONNECTION_ERROR = 2002,
    CR_CONN_HOST_ERROR = 2003,
    CR_IPSOCK_ERROR = 2004,
    CR_UNKNOWN_HOST = 2005,
    CR_SERVER_GONE_ERROR = 2006,
    CR_VERSION_ERROR = 2007,
    CR_OUT_OF_MEMORY = 2008,
    CR_WRONG_HOST_INFO = 2009,
    CR_LOCALHOST_CONNECTION = 2010,
    CR_TCP_CONNECTION = 2011,
    CR_SERVER_HANDSHAKE_ERR = 2012,
    CR_SERVER_LOST = 2013,
    CR_COMMANDS_OUT_OF_SYNC = 2014,
    CR_NAMEDPIPE_CONNECTION = 2015,
    CR_NAMEDPIPEWAIT_ERROR = 2016,
    CR_NAMEDPIPEOPEN_ERROR = 2017,
    CR_NAMEDPIPESETSTATE_ERROR = 2018,
    CR_CANT_READ_CHARSET = 2019,
    CR_NET_PACKET_TOO_LARGE = 2020,
    // The server asks for an authentication method this client does not have.
    CR_AUTH_PLUGIN_CANNOT_LOAD = 2059,
    // An authentication method could not answer the server (its reason follows).
    CR_AUTH_PLUGIN_ERR = 2061,
    // The server asked for a local file while local files are switched off.
    CR_LOAD_DATA_LOCAL_INFILE_REJECTED = 2068,
};

// The server's number for a packet larger than the maximum packet size; the client sets
// it too when a packet to send or a buffer to grow would exceed that size.
inline constexpr unsigned ER_NET_PACKET_TOO_LARGE = 1153;

// Longest error text kept by the transport.
inline constexpr std::size_t kMaxErrorTextLength = 200;

// Other client-side texts (the "\n" of the first one is a backslash and the letter n).
inline constexpr const char* kOpenSslErrorFormat = "OpenSSL error: %s:%s:%d:%s\\n";
inline constexpr const char* kFileNotFoundFormat = "File '%s' not found (Errcode: %d)";
inline constexpr const char* kFileReadErrorFormat = "Error reading file '%s' (Errcode: %d)";

// The table text of a client error number (format conversions unfilled); empty for a
// number without a text.
std::string_view ClientErrorText(unsigned errnum);

// One argument of a message format: a number or a text.
using TErrorArg = std::variant<long long, unsigned long long, std::string>;

// Fills a message format with printf rules for the conversions the texts use: %d, %u,
// %lu, %s and the cut texts %-.64s / %-.32s; %% is a percent sign. Missing arguments
// leave the conversion empty; surplus arguments are ignored.
std::string FormatErrorText(std::string_view format, const std::vector<TErrorArg>& args);

// Conversions used by ClientErrorMessage.
inline TErrorArg ToErrorArg(const std::string& s) {
    return s;
}
inline TErrorArg ToErrorArg(std::string_view s) {
    return std::string(s);
}
inline TErrorArg ToErrorArg(const char* s) {
    return std::string(s);
}
inline TErrorArg ToErrorArg(int v) {
    return static_cast<long long>(v);
}
inline TErrorArg ToErrorArg(long v) {
    return static_cast<long long>(v);
}
inline TErrorArg ToErrorArg(long long v) {
    return v;
}
inline TErrorArg ToErrorArg(unsigned v) {
    return static_cast<unsigned long long>(v);
}
inline TErrorArg ToErrorArg(unsigned long v) {
    return static_cast<unsigned long long>(v);
}
inline TErrorArg ToErrorArg(unsigned long long v) {
    return v;
}

// The table text of `errnum` filled with the arguments.
template <typename... Args>
std::string ClientErrorMessage(unsigned errnum, const Args&... args) {
    std::vector<TErrorArg> list;
    (list.push_back(ToErrorArg(args)), ...);
    return FormatErrorText(ClientErrorText(errnum), list);
}

}  // namespace dbclient
