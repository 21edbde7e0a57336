// The packets a MySQL server (protocol 10) answers with, built byte by byte for the
// scripted servers of the tests.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testsupport::mysql {

std::string LE(std::uint64_t v, int bytes);
std::string Packet(std::uint8_t seq, const std::string& payload);
std::string LengthCoded(const std::string& s);
std::string Ok();
std::string Eof();
std::string Error(int number, const std::string& text);
// A 4.1 greeting (scramble "abcdefghijklmnopqrst") announcing `version`.
std::string Greeting(const std::string& version = "5.5.5-10.11.6-MariaDB");
// A greeting of a server with pluggable authentication naming `method`, with its 20-byte
// `nonce`; TLS offered when `tls`.
std::string PluginGreeting(const std::string& version, const std::string& method,
                           const std::string& nonce, bool tls);

struct Col {
    std::string name;
    std::uint8_t type = 253;  // VAR_STRING
    std::uint32_t length = 40;
    std::uint32_t flags = 0;
    std::string table = "versao";
};
using Row = std::vector<std::optional<std::string>>;

// The packets of a text result set, from sequence number 1.
std::string ResultSet(const std::vector<Col>& cols, const std::vector<Row>& rows);
// An answer to "SHOW INDEX FROM ...".
std::string IndexResult(const std::vector<Row>& rows);
// The answer of an update database without newer versions to the agent's statements (and
// its query component's SHOW INDEX): empty results, OK for the REPLACE.
std::string NoNewerVersion(const std::string& statement);
// The same database with one newer general version (9.0.0.0), the package `name` at
// `link` with digest `md5`.
std::string NewerGeneralVersion(const std::string& statement, const std::string& link,
                                const std::string& md5, const std::string& name);
// What a server with no free connection sends instead of its greeting (1040).
std::string TooManyConnections();

}  // namespace testsupport::mysql
