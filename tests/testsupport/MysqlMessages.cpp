#include "testsupport/MysqlMessages.h"

namespace testsupport::mysql {

std::string LE(std::uint64_t v, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
    return out;
}

std::string Packet(std::uint8_t seq, const std::string& payload) {
    return LE(payload.size(), 3) + static_cast<char>(seq) + payload;
}

std::string LengthCoded(const std::string& s) {
    if (s.size() < 251) return static_cast<char>(s.size()) + s;
    return "\xfc" + LE(s.size(), 2) + s;
}

std::string Ok() {
    return std::string("\0\0\0", 3) + LE(2, 2) + LE(0, 2);
}

std::string Eof() {
    return "\xfe" + LE(0, 2) + LE(2, 2);
}

std::string Error(int number, const std::string& text) {
    return "\xff" + LE(static_cast<std::uint64_t>(number), 2) + "#42000" + text;
}

std::string ResultSet(const std::vector<Col>& cols, const std::vector<Row>& rows) {
    std::uint8_t seq = 1;
    std::string out = Packet(seq++, std::string(1, static_cast<char>(cols.size())));
    for (const Col& c : cols) {
        std::string def = LengthCoded("def") + LengthCoded("db") + LengthCoded(c.table) +
                          LengthCoded(c.table) + LengthCoded(c.name) + LengthCoded(c.name);
        def += '\x0c' + LE(33, 2) + LE(c.length, 4) + static_cast<char>(c.type) + LE(c.flags, 2) +
               '\0' + LE(0, 2);
        out += Packet(seq++, def);
    }
    out += Packet(seq++, Eof());
    for (const Row& r : rows) {
        std::string p;
        for (const auto& v : r) p += v ? LengthCoded(*v) : std::string("\xfb");
        out += Packet(seq++, p);
    }
    return out + Packet(seq++, Eof());
}

std::string IndexResult(const std::vector<Row>& rows) {
    static const std::vector<Col> columns = {{"Table"},        {"Non_unique"},  {"Key_name"},
                                             {"Seq_in_index"}, {"Column_name"}, {"Collation"}};
    return ResultSet(columns, rows);
}

std::string NoNewerVersion(const std::string& statement) {
    if (statement.rfind("SHOW INDEX", 0) == 0) return IndexResult({});
    if (statement.rfind("SELECT", 0) == 0)
        return ResultSet({{"id"},
                          {"link_sistema"},
                          {"md5_arquivo"},
                          {"nome_versao"},
                          {"vl_versao", 253, 40, 0, ""}},
                         {});
    return Packet(1, Ok());
}

std::string NewerGeneralVersion(const std::string& statement, const std::string& link,
                                const std::string& md5, const std::string& name) {
    // The client's SELECT is the one ordered by id.
    if (statement.rfind("SELECT", 0) != 0 || statement.find("ORDER BY id ASC") != std::string::npos)
        return NoNewerVersion(statement);
    return ResultSet({{"id"}, {"link_sistema"}, {"md5_arquivo"}, {"nome_versao"}, {"vl_versao"}},
                     {{"1", link, md5, name, "9000000000000"}});
}

std::string TooManyConnections() {
    return Packet(0, "\xff" + LE(1040, 2) + "Too many connections");
}

std::string Greeting(const std::string& version) {
    std::string greeting = "\x0a" + version + '\0' + LE(7, 4) + "abcdefgh" + '\0';
    greeting += LE(0x8000 | 0x2000 | 0x200 | 0x8 | 0x4 | 0x1, 2) + '\x21' + LE(2, 2) +
                std::string(13, '\0');
    greeting += "ijklmnopqrst" + std::string(1, '\0');
    return greeting;
}

std::string PluginGreeting(const std::string& version, const std::string& method,
                           const std::string& nonce, bool tls) {
    const std::uint32_t caps = 0x8000 | 0x2000 | 0x200 | 0x8 | 0x4 | 0x1 | (tls ? 0x800 : 0);
    std::string greeting = "\x0a" + version + '\0' + LE(7, 4) + nonce.substr(0, 8) + '\0';
    greeting +=
        LE(caps, 2) + '\x21' + LE(2, 2) + LE(0x80000 >> 16, 2) + '\x15' + std::string(10, '\0');
    return greeting + nonce.substr(8, 12) + '\0' + method + '\0';
}

}  // namespace testsupport::mysql
