// The wire formats of the MySQL client/server protocol that the session reads: the
// server greeting, OK and end packets, column descriptions in the 4.1 and the
// older form, and rows of length-coded values. Every parser works on one packet's
// payload as a byte span and never reads outside it, so hostile or truncated packets
// are reported instead of being read past their end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dbclient/MysqlFieldDef.h"

namespace dbclient {

// Capability flags exchanged at login.
inline constexpr std::uint32_t CLIENT_LONG_PASSWORD = 0x1;
inline constexpr std::uint32_t CLIENT_FOUND_ROWS = 0x2;
inline constexpr std::uint32_t CLIENT_LONG_FLAG = 0x4;
inline constexpr std::uint32_t CLIENT_CONNECT_WITH_DB = 0x8;
inline constexpr std::uint32_t CLIENT_NO_SCHEMA = 0x10;
inline constexpr std::uint32_t CLIENT_COMPRESS = 0x20;
inline constexpr std::uint32_t CLIENT_ODBC = 0x40;
inline constexpr std::uint32_t CLIENT_LOCAL_FILES = 0x80;
inline constexpr std::uint32_t CLIENT_IGNORE_SPACE = 0x100;
inline constexpr std::uint32_t CLIENT_PROTOCOL_41 = 0x200;
inline constexpr std::uint32_t CLIENT_INTERACTIVE = 0x400;
inline constexpr std::uint32_t CLIENT_SSL = 0x800;
inline constexpr std::uint32_t CLIENT_TRANSACTIONS = 0x2000;
// The early 4.1 protocol flag; this client keys every 4.1 packet layout on it.
inline constexpr std::uint32_t CLIENT_RESERVED = 0x4000;
inline constexpr std::uint32_t CLIENT_SECURE_CONNECTION = 0x8000;
inline constexpr std::uint32_t CLIENT_MULTI_STATEMENTS = 0x10000;
inline constexpr std::uint32_t CLIENT_MULTI_RESULTS = 0x20000;
// Pluggable authentication: the login names the method of its answer, and the server
// may ask for another method (in the upper half of the greeting's capabilities).
inline constexpr std::uint32_t CLIENT_PLUGIN_AUTH = 0x80000;

// Server status flags.
inline constexpr std::uint32_t SERVER_STATUS_IN_TRANS = 0x1;
inline constexpr std::uint32_t SERVER_STATUS_AUTOCOMMIT = 0x2;
inline constexpr std::uint32_t SERVER_MORE_RESULTS_EXISTS = 0x8;

// Command codes: the first byte of a command packet.
inline constexpr std::uint8_t COM_QUIT = 1;
inline constexpr std::uint8_t COM_INIT_DB = 2;
inline constexpr std::uint8_t COM_QUERY = 3;
inline constexpr std::uint8_t COM_CREATE_DB = 5;
inline constexpr std::uint8_t COM_DROP_DB = 6;
inline constexpr std::uint8_t COM_REFRESH = 7;
inline constexpr std::uint8_t COM_SHUTDOWN = 8;
inline constexpr std::uint8_t COM_STATISTICS = 9;
inline constexpr std::uint8_t COM_PROCESS_INFO = 10;
inline constexpr std::uint8_t COM_PROCESS_KILL = 12;
inline constexpr std::uint8_t COM_DEBUG = 13;
inline constexpr std::uint8_t COM_PING = 14;
inline constexpr std::uint8_t COM_CHANGE_USER = 17;

// Value of a length-coded number that stands for NULL.
inline constexpr std::int64_t NULL_LENGTH = -1;

using ByteSpan = std::span<const std::uint8_t>;

inline ByteSpan AsBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

inline std::string_view AsText(ByteSpan bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// Appends `value` as a little-endian number of `size` bytes.
inline void PutLE(std::string& out, std::uint64_t value, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// Reads one packet's payload from the front. A read that would pass the end yields
// zeros (or an empty text) and marks the reader as overrun.
class PacketReader {
  public:
    explicit PacketReader(ByteSpan packet, std::size_t pos = 0) : data_(packet), pos_(pos) {}

    std::size_t pos() const { return pos_; }
    std::size_t remaining() const { return pos_ < data_.size() ? data_.size() - pos_ : 0; }
    bool at_end() const { return remaining() == 0; }
    // False once a read ran past the end of the packet.
    bool ok() const { return ok_; }

    std::uint8_t u8();
    std::uint32_t u16();
    std::uint32_t u24();
    std::uint32_t u32();
    std::uint64_t u64();
    // Little-endian unsigned number of `size` bytes (at most 8).
    std::uint64_t uint(std::size_t size);
    void skip(std::size_t count);

    // Length-coded number: NULL_LENGTH for NULL; the 8-byte form read in full.
    std::int64_t read_length_coded64();
    // As read_length_coded64, but the 8-byte form gives its low 4 bytes.
    std::int64_t read_length_coded();
    // Length-coded string; nullopt for NULL. A length beyond the packet overruns.
    std::optional<std::string_view> read_length_coded_string();
    // Text up to the next zero byte (not included; the zero byte is consumed), or to
    // the end of the packet when there is none.
    std::string_view zero_terminated();
    // `count` bytes as text (fewer, and overrun, at the end of the packet).
    std::string_view bytes(std::size_t count);
    // Everything not yet read.
    std::string_view rest();

  private:
    ByteSpan data_;
    std::size_t pos_;
    bool ok_ = true;
};

// What the session takes from the server greeting.
struct TMysqlGreeting {
    std::uint8_t protocol_version = 0;
    std::string server_version;
    std::uint32_t thread_id = 0;
    // 8 characters, or 20 when the greeting carries the second part.
    std::string scramble;
    std::uint32_t server_capabilities = 0;  // 0 when the greeting is too short for them
    // The server announces pluggable authentication (CLIENT_PLUGIN_AUTH in the upper
    // half of its capabilities) and names the method its scramble is meant for (empty
    // when it names none).
    bool plugin_auth = false;
    std::string auth_plugin;
    bool has_status = false;  // language and status were present
    std::uint32_t server_language = 0;
    std::int32_t server_status = 0;
};

// Greeting of protocol versions 9 and 10; missing trailing parts stay at their defaults.
// Bytes of a too short packet count as zero. The secure-connection flag (0x8000) is
// removed when the second scramble part is missing, unless the server version begins
// with "4.1.0", whose scramble round differs. The upper capabilities are read only for
// pluggable authentication.
TMysqlGreeting ParseGreeting(ByteSpan packet);

// True for the server version texts of 4.1.0, which answer with a 24-byte challenge.
bool IsVersion410(std::string_view serverVersion);

// The character set the login announces, by which statements and results are UTF-8
// from the login on.
struct TLoginCharacterSet {
    std::uint8_t number;
    const char* name;
};
// utf8mb4 (45) to servers that know it: MySQL 5.5.3 and later, and every MariaDB that
// has it (they greet as "5.5.5-10.x.y-MariaDB" or with their own 10 and later); utf8
// (83, binary collation) to older ones, which have no four-byte characters.
TLoginCharacterSet LoginCharacterSet(std::string_view serverVersion);

struct TMysqlOkPacket {
    std::int64_t affected_rows = 0;
    std::int64_t insert_id = 0;
    bool has_status = false;  // the server announced transactions: status and warnings read
    std::int32_t server_status = 0;
    bool has_warnings = false;
    std::int32_t warning_count = 0;
    std::string info;      // message text, empty when none
    bool complete = true;  // false when the packet ended inside one of its numbers
};

// The OK packet (first byte 0 already part of `packet`).
TMysqlOkPacket ParseOkPacket(ByteSpan packet, std::uint32_t serverCapabilities,
                             std::uint32_t clientFlag);

// An end packet closes a list of column descriptions or rows: 0xFE and fewer than 8 bytes.
inline bool IsEndPacket(ByteSpan packet) {
    return !packet.empty() && packet[0] == 0xFE && packet.size() < 8;
}

struct TMysqlEndPacket {
    std::int32_t warning_count = 0;
    std::int32_t server_status = 0;
};
TMysqlEndPacket ParseEndPacket(ByteSpan packet);

// Splits a row packet into `count` length-coded values (nullopt for NULL). False when
// the packet ends before the last value does; `values` is then unspecified.
bool SplitRow(ByteSpan packet, std::size_t count,
              std::vector<std::optional<std::string_view>>& values);

// One column description from the values of its packet: the 4.1 form (catalog, db,
// table, org_table, name, org_name, fixed block[, default]) or the older form (table,
// name, length, type, flags and decimals[, default]). `longFlags` (server flag 0x4)
// selects 2-byte flags in the older form. Adds the numeric and unsigned flags the
// types imply.
TMysql_FieldDef UnpackFieldDef(std::span<const std::optional<std::string_view>> values,
                               bool protocol41, bool longFlags);

}  // namespace dbclient
