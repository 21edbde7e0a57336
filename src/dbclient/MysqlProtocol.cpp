// Parsers of the packets the server sends; see MysqlProtocol.h.
#include "dbclient/MysqlProtocol.h"

#include <algorithm>

namespace dbclient {

std::uint64_t PacketReader::uint(std::size_t size) {
    std::uint64_t value = 0;
    const std::size_t available = std::min(size, remaining());
    for (std::size_t i = 0; i < available; ++i)
        value |= static_cast<std::uint64_t>(data_[pos_ + i]) << (8 * i);
    if (available < size) ok_ = false;
    pos_ += size;
    return value;
}

std::uint8_t PacketReader::u8() {
    return static_cast<std::uint8_t>(uint(1));
}
std::uint32_t PacketReader::u16() {
    return static_cast<std::uint32_t>(uint(2));
}
std::uint32_t PacketReader::u24() {
    return static_cast<std::uint32_t>(uint(3));
}
std::uint32_t PacketReader::u32() {
    return static_cast<std::uint32_t>(uint(4));
}
std::uint64_t PacketReader::u64() {
    return uint(8);
}

void PacketReader::skip(std::size_t count) {
    if (count > remaining()) ok_ = false;
    pos_ += count;
}

std::int64_t PacketReader::read_length_coded64() {
    if (at_end()) {
        ok_ = false;
        return 0;
    }
    const std::uint8_t first = u8();
    switch (first) {
        case 251:
            return NULL_LENGTH;
        case 252:
            return static_cast<std::int64_t>(uint(2));
        case 253:
            return static_cast<std::int64_t>(uint(3));
        default:
            if (first < 251) return first;
            // 254: the 8-byte form. The full 64 bits are kept; a value with the top bit
            // set cannot describe anything in a packet and is read as such.
            return static_cast<std::int64_t>(uint(8));
    }
}

std::int64_t PacketReader::read_length_coded() {
    const std::int64_t value = read_length_coded64();
    if (value == NULL_LENGTH) return NULL_LENGTH;
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(value) & 0xFFFFFFFFu);
}

std::optional<std::string_view> PacketReader::read_length_coded_string() {
    const std::int64_t length = read_length_coded64();
    if (length == NULL_LENGTH) return std::nullopt;
    if (length < 0 || static_cast<std::uint64_t>(length) > remaining()) {
        ok_ = false;
        pos_ = data_.size();
        return std::string_view{};
    }
    return bytes(static_cast<std::size_t>(length));
}

std::string_view PacketReader::zero_terminated() {
    const std::size_t start = std::min(pos_, data_.size());
    std::size_t end = start;
    while (end < data_.size() && data_[end] != 0) ++end;
    pos_ = end < data_.size() ? end + 1 : end;
    return {reinterpret_cast<const char*>(data_.data()) + start, end - start};
}

std::string_view PacketReader::bytes(std::size_t count) {
    const std::size_t start = std::min(pos_, data_.size());
    const std::size_t available = std::min(count, data_.size() - start);
    if (available < count) ok_ = false;
    pos_ += count;
    return {reinterpret_cast<const char*>(data_.data()) + start, available};
}

std::string_view PacketReader::rest() {
    return bytes(remaining());
}

bool IsVersion410(std::string_view serverVersion) {
    return serverVersion.starts_with("4.1.0");
}

TLoginCharacterSet LoginCharacterSet(std::string_view serverVersion) {
    // The leading "major.minor.patch" numbers; anything after them is ignored.
    int parts[3] = {0, 0, 0};
    std::size_t at = 0;
    for (int& part : parts) {
        bool digits = false;
        while (at < serverVersion.size() && serverVersion[at] >= '0' && serverVersion[at] <= '9') {
            part = std::min(part * 10 + (serverVersion[at++] - '0'), 9999);
            digits = true;
        }
        if (!digits || at >= serverVersion.size() || serverVersion[at] != '.') break;
        ++at;
    }
    const bool knowsUtf8mb4 = parts[0] != 5   ? parts[0] > 5
                              : parts[1] != 5 ? parts[1] > 5
                                              : parts[2] >= 3;
    if (knowsUtf8mb4) return {45, "utf8mb4"};
    return {83, "utf8"};
}

TMysqlGreeting ParseGreeting(ByteSpan packet) {
    TMysqlGreeting g;
    PacketReader r(packet);
    g.protocol_version = r.u8();
    g.server_version = std::string(r.zero_terminated());
    // V is the length of the version text; the layout below counts from it.
    const std::size_t V = g.server_version.size();
    const std::size_t length = packet.size();
    PacketReader fixed(packet, V + 2);
    g.thread_id = fixed.u32();
    g.scramble = std::string(fixed.bytes(8));
    if (length >= V + 16) {
        PacketReader caps(packet, V + 15);
        g.server_capabilities = caps.u16();
    }
    if (length >= V + 33) {
        PacketReader status(packet, V + 17);
        g.server_language = status.u8();
        g.server_status = static_cast<std::int32_t>(status.u16());
        g.has_status = true;
    }
    if (length >= V + 45) {
        PacketReader second(packet, V + 33);
        g.scramble += second.bytes(12);
        PacketReader upper(packet, V + 20);
        g.plugin_auth = ((upper.u16() << 16) & CLIENT_PLUGIN_AUTH) != 0;
        if (g.plugin_auth) {
            // The second scramble part holds the rest of the announced data length, at
            // least 13 bytes (12 and a zero byte); the method's name follows.
            const std::size_t dataLength = upper.u8();
            const std::size_t secondLength =
                std::max<std::size_t>(13, dataLength - std::min<std::size_t>(dataLength, 8));
            PacketReader name(packet, V + 33 + secondLength);
            g.auth_plugin = std::string(name.zero_terminated());
        }
    } else if (!IsVersion410(g.server_version)) {
        g.server_capabilities &= ~CLIENT_SECURE_CONNECTION;
    }
    return g;
}

TMysqlOkPacket ParseOkPacket(ByteSpan packet, std::uint32_t serverCapabilities,
                             std::uint32_t clientFlag) {
    TMysqlOkPacket ok;
    PacketReader r(packet);
    r.read_length_coded();  // the 0 that marks the packet
    ok.affected_rows = r.read_length_coded64();
    ok.insert_id = r.read_length_coded64();
    if (serverCapabilities & CLIENT_TRANSACTIONS) {
        ok.has_status = true;
        ok.server_status = static_cast<std::int32_t>(r.u16());
    }
    if (clientFlag & CLIENT_RESERVED) {
        ok.has_warnings = true;
        ok.warning_count = static_cast<std::int32_t>(r.u16());
    }
    ok.complete = r.ok();
    if (r.ok() && !r.at_end()) {
        const std::int64_t infoLength = r.read_length_coded();
        if (infoLength != 0) ok.info = std::string(r.rest());
    }
    return ok;
}

TMysqlEndPacket ParseEndPacket(ByteSpan packet) {
    PacketReader r(packet, 1);
    TMysqlEndPacket end;
    end.warning_count = static_cast<std::int32_t>(r.u16());
    end.server_status = static_cast<std::int32_t>(r.u16());
    return end;
}

bool SplitRow(ByteSpan packet, std::size_t count,
              std::vector<std::optional<std::string_view>>& values) {
    values.resize(count);
    PacketReader r(packet);
    for (std::size_t i = 0; i < count; ++i) {
        values[i] = r.read_length_coded_string();
        if (!r.ok()) return false;
    }
    return true;
}

namespace {

std::string Text(std::span<const std::optional<std::string_view>> values, std::size_t index) {
    if (index >= values.size() || !values[index]) return {};
    return std::string(*values[index]);
}

PacketReader Block(std::span<const std::optional<std::string_view>> values, std::size_t index) {
    if (index >= values.size() || !values[index]) return PacketReader(ByteSpan{});
    return PacketReader(AsBytes(*values[index]));
}

}  // namespace

TMysql_FieldDef UnpackFieldDef(std::span<const std::optional<std::string_view>> values,
                               bool protocol41, bool longFlags) {
    TMysql_FieldDef f;
    if (protocol41) {
        f.catalog = Text(values, 0);
        f.db = Text(values, 1);
        f.Table = Text(values, 2);
        f.org_table = Text(values, 3);
        f.Name = Text(values, 4);
        f.org_name = Text(values, 5);
        PacketReader block = Block(values, 6);
        f.charsetnr = block.u16();
        f.Length = block.u32();
        f.FieldType = block.u8();
        f.Flags = block.u16();
        f.Decimals = block.u8();
        if (values.size() > 7) f.Def = Text(values, 7);
    } else {
        f.Table = Text(values, 0);
        f.Name = Text(values, 1);
        f.Length = Block(values, 2).u24();
        f.FieldType = Block(values, 3).u8();
        PacketReader flags = Block(values, 4);
        f.Flags = longFlags ? flags.u16() : flags.u8();
        f.Decimals = flags.u8();
        if (values.size() > 5) f.Def = Text(values, 5);
    }
    const bool numeric = (f.FieldType <= FIELD_TYPE_INT24 && (f.FieldType != FIELD_TYPE_TIMESTAMP ||
                                                              f.Length == 14 || f.Length == 8)) ||
                         f.FieldType == FIELD_TYPE_YEAR;
    if (numeric) f.Flags |= NUM_FLAG;
    if (f.FieldType == FIELD_TYPE_BIT) f.Flags |= UNSIGNED_FLAG;
    f.Max_Length = 0;
    return f;
}

}  // namespace dbclient
