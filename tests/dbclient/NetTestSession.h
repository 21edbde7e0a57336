// A minimal session over the packet layer for tests against a real server: greeting,
// native-password login (optionally switching to TLS and to the compressed protocol)
// and simple statements whose rows are read as texts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dbclient/MysqlNet.h"
#include "dbclient/Scramble.h"

namespace nettest {

using Row = std::vector<std::optional<std::string>>;

struct LoginOptions {
    std::string user = "admin";
    std::string password = "admin";
    bool compress = false;
    bool tls = false;
    std::string ca, capath;
};

constexpr std::uint32_t kClientFlags = 0xE285 | 0x10000 | 0x20000;  // with multi-statements

// Length-coded number at `pos`; none for NULL.
inline std::optional<std::uint64_t> LengthCoded(const std::string& p, std::size_t& pos) {
    const auto byte = [&](std::size_t i) {
        return static_cast<std::uint64_t>(static_cast<unsigned char>(p.at(i)));
    };
    const std::uint64_t first = byte(pos++);
    if (first < 251) return first;
    if (first == 251) return std::nullopt;
    const int size = first == 252 ? 2 : first == 253 ? 3 : 8;
    std::uint64_t value = 0;
    for (int i = 0; i < size; ++i) value |= byte(pos++) << (8 * i);
    return value;
}

inline std::string Payload(dbclient::TMysqlNet& net, long len) {
    return std::string(net.read_pos(), static_cast<std::size_t>(len));
}

// Opens and logs in; the failure text of the last step is returned, empty on success.
inline std::string Login(dbclient::TMysqlNet& net, int port, const LoginOptions& options,
                         std::string* cipher = nullptr) {
    if (net.net_open(dbclient::VIO_TYPE_TCPIP, "127.0.0.1", "", port, 10, true) != 0)
        return net.last_error();
    long len = net.net_safe_read(kClientFlags);
    if (len < 0) return net.last_error();
    const std::string greeting = Payload(net, len);
    const std::size_t v = greeting.find('\0', 1) - 1;
    const std::string scramble = greeting.substr(v + 6, 8) + greeting.substr(v + 33, 12);
    const unsigned serverCaps = static_cast<unsigned char>(greeting[v + 15]) |
                                static_cast<unsigned char>(greeting[v + 16]) << 8;
    std::uint32_t flags = kClientFlags;
    if (options.compress && (serverCaps & 0x20) != 0) flags |= 0x20;
    if (options.tls) flags |= 0x800;
    std::string packet;
    for (int i = 0; i < 4; ++i) packet += static_cast<char>(flags >> (8 * i));
    const std::uint32_t maxPacket = 64u << 20;
    for (int i = 0; i < 4; ++i) packet += static_cast<char>(maxPacket >> (8 * i));
    packet += static_cast<char>(83);
    packet += std::string(23, '\0');
    if (options.tls) {
        if (net.my_net_write(packet) != 0 || net.net_flush() != 0) return "TLS request not sent";
        std::string chosen;
        net.SwitchToSSL("", "", options.ca, options.capath, chosen, 10);
        if (net.vio_type() != dbclient::VIO_TYPE_SSL) return "no TLS";
        if (cipher != nullptr) *cipher = chosen;
    }
    packet += options.user + '\0';
    if (options.password.empty()) {
        packet += '\0';
    } else {
        packet += static_cast<char>(20);
        packet += dbclient::scramble_sha1(scramble, options.password);
    }
    if (net.my_net_write(packet) != 0 || net.net_flush() != 0) return "login not sent";
    len = net.net_safe_read(kClientFlags);
    if (len < 0) return net.last_error();
    if (net.read_pos()[0] != 0) return "unexpected answer to the login";
    net.SetCompress((flags & 0x20) != 0);
    return {};
}

// Reads one result (after the command was sent): the rows, or none with the error left
// in the packet layer. `more` tells whether another result follows.
inline std::optional<std::vector<Row>> ReadResult(dbclient::TMysqlNet& net, bool* more = nullptr) {
    long len = net.net_safe_read(kClientFlags);
    if (len < 0) return std::nullopt;
    std::string p = Payload(net, len);
    std::size_t pos = 0;
    const auto columns = LengthCoded(p, pos);
    std::vector<Row> rows;
    const auto status = [&](const std::string& packet, std::size_t at) {
        if (more != nullptr && packet.size() >= at + 2)
            *more = (static_cast<unsigned char>(packet[at]) & 8) != 0;
    };
    if (columns.value_or(0) == 0) {  // OK packet
        LengthCoded(p, pos);
        LengthCoded(p, pos);
        status(p, pos);
        return rows;
    }
    for (;;) {  // column descriptions up to the end packet
        len = net.net_safe_read(kClientFlags);
        if (len < 0) return std::nullopt;
        if (static_cast<unsigned char>(net.read_pos()[0]) == 0xFE && len < 8) break;
    }
    for (;;) {
        len = net.net_safe_read(kClientFlags);
        if (len < 0) return std::nullopt;
        p = Payload(net, len);
        if (static_cast<unsigned char>(p[0]) == 0xFE && len < 8) {
            status(p, 3);
            return rows;
        }
        Row row;
        pos = 0;
        for (std::uint64_t c = 0; c < *columns; ++c) {
            const auto size = LengthCoded(p, pos);
            if (!size) {
                row.push_back(std::nullopt);
                continue;
            }
            row.push_back(p.substr(pos, *size));
            pos += *size;
        }
        rows.push_back(std::move(row));
    }
}

// Sends a statement and reads its first result.
inline std::optional<std::vector<Row>> Query(dbclient::TMysqlNet& net, const std::string& sql,
                                             bool* more = nullptr) {
    net.net_clear();
    if (net.net_write_command(3, sql) != 0) return std::nullopt;
    return ReadResult(net, more);
}

}  // namespace nettest
