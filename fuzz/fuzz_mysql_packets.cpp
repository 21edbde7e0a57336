// The packets a MySQL server sends before and around results: the greeting, OK, error and
// end packets, the packet reader under them, and the headers and data of compressed
// units (deflated and inflated back).
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "dbclient/MysqlNet.h"
#include "dbclient/MysqlProtocol.h"

using namespace dbclient;
using fuzzsupport::Inside;

namespace {

std::uint32_t Le3(const std::uint8_t* p) {
    return p[0] | static_cast<std::uint32_t>(p[1]) << 8 | static_cast<std::uint32_t>(p[2]) << 16;
}

// Reads the packet with a series of reads chosen by the input: every view lies inside the
// packet, the position only moves forward until an overrun, and an overrun is never
// forgotten.
void CheckReader(FuzzedDataProvider& choices, ByteSpan packet) {
    const std::string_view whole(reinterpret_cast<const char*>(packet.data()), packet.size());
    PacketReader r(packet);
    bool overrun = false;
    for (int step = 0; step < 16 && choices.remaining_bytes() > 0; ++step) {
        const std::size_t before = r.pos();
        std::string_view view;
        switch (choices.ConsumeIntegralInRange(0, 7)) {
            case 0:
                r.uint(choices.ConsumeIntegralInRange<std::size_t>(0, 8));
                break;
            case 1: {
                const std::int64_t n = r.read_length_coded64();
                FUZZ_CHECK(n >= NULL_LENGTH || !r.ok() || r.pos() == before + 9);
                break;
            }
            case 2:
                FUZZ_CHECK(r.read_length_coded() <= 0xFFFFFFFF);
                break;
            case 3:
                if (const auto s = r.read_length_coded_string()) view = *s;
                break;
            case 4:
                view = r.zero_terminated();
                break;
            case 5:
                view = r.bytes(choices.ConsumeIntegralInRange<std::size_t>(0, packet.size() + 2));
                break;
            case 6:
                view = r.rest();
                FUZZ_CHECK(r.at_end());
                break;
            default:
                r.skip(choices.ConsumeIntegralInRange<std::size_t>(0, packet.size() + 2));
                break;
        }
        FUZZ_CHECK(Inside(view, whole));
        if (r.ok()) FUZZ_CHECK(r.pos() >= before);
        if (r.pos() <= packet.size()) FUZZ_CHECK(r.pos() + r.remaining() == packet.size());
        if (r.pos() > packet.size()) FUZZ_CHECK(!r.ok() && r.at_end());
        if (overrun) FUZZ_CHECK(!r.ok());
        overrun = !r.ok();
    }
}

void CheckGreeting(ByteSpan packet) {
    const TMysqlGreeting g = ParseGreeting(packet);
    FUZZ_CHECK(g.server_version.size() + 1 <= std::max<std::size_t>(packet.size(), 1));
    FUZZ_CHECK(g.scramble.size() <= 20);
    if (!g.has_status) FUZZ_CHECK(g.server_language == 0 && g.server_status == 0);
    if (g.scramble.size() < 20 && !IsVersion410(g.server_version))
        FUZZ_CHECK((g.server_capabilities & CLIENT_SECURE_CONNECTION) == 0);
}

void CheckOk(ByteSpan packet, std::uint32_t caps, std::uint32_t flags) {
    const TMysqlOkPacket ok = ParseOkPacket(packet, caps, flags);
    FUZZ_CHECK(ok.info.size() < packet.size() || ok.info.empty());
    FUZZ_CHECK(ok.has_status == ((caps & CLIENT_TRANSACTIONS) != 0));
    FUZZ_CHECK(ok.has_warnings == ((flags & CLIENT_RESERVED) != 0));
    if (!ok.complete) FUZZ_CHECK(ok.info.empty());
}

void CheckError(ByteSpan packet, unsigned protocol, std::uint32_t flags) {
    const TServerError e = ParseErrorPacket(packet, protocol, flags);
    FUZZ_CHECK(e.message.size() <= 199);
    FUZZ_CHECK(e.message.find('\0') == std::string::npos);
    const unsigned number = packet.size() < 4 ? 0 : packet[1] | unsigned{packet[2]} << 8;
    if (protocol < 10 || number == 0)
        FUZZ_CHECK(e.number == 2000);
    else
        FUZZ_CHECK(e.number == number);
}

void CheckEnd(ByteSpan packet) {
    const TMysqlEndPacket end = ParseEndPacket(packet);
    FUZZ_CHECK(end.warning_count >= 0 && end.warning_count <= 0xFFFF);
    FUZZ_CHECK(end.server_status >= 0 && end.server_status <= 0xFFFF);
    if (IsEndPacket(packet)) FUZZ_CHECK(packet[0] == 0xFE && packet.size() < 8);
}

void CheckHeaders(ByteSpan bytes) {
    const auto unit = ParseCompressedHeader(bytes);
    FUZZ_CHECK(unit.has_value() == (bytes.size() >= 7));
    if (unit) {
        FUZZ_CHECK(unit->length == Le3(bytes.data()) && unit->sequence == bytes[3]);
        FUZZ_CHECK(unit->uncompressed == Le3(bytes.data() + 4));
    }
    const auto packet = ParsePacketHeader(bytes);
    FUZZ_CHECK(packet.has_value() == (bytes.size() >= 4));
    if (packet) FUZZ_CHECK(packet->length == Le3(bytes.data()) && packet->sequence == bytes[3]);
}

// Data of a unit: what deflates comes back unchanged, and hostile data inflates to
// exactly the announced size or is refused.
void CheckUnitData(ByteSpan data, std::size_t announced) {
    if (const auto packed = CompressUnit(data)) {
        FUZZ_CHECK(data.size() >= 50 && packed->size() < data.size());
        std::vector<std::uint8_t> back(data.size());
        FUZZ_CHECK(UncompressUnit(*packed, back));
        FUZZ_CHECK(std::equal(back.begin(), back.end(), data.begin(), data.end()));
    }
    std::vector<std::uint8_t> out(announced);
    UncompressUnit(data, out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider choices(data, size);
    const auto which = choices.ConsumeIntegralInRange(0, 5);
    const auto caps = choices.ConsumeIntegral<std::uint32_t>();
    const auto flags = choices.ConsumeIntegral<std::uint32_t>();
    const auto protocol = choices.ConsumeIntegralInRange<unsigned>(8, 10);
    const std::size_t length = choices.ConsumeIntegralInRange<std::size_t>(0, size);
    const std::vector<std::uint8_t> bytes = choices.ConsumeBytes<std::uint8_t>(length);
    const ByteSpan packet(bytes);
    switch (which) {
        case 0:
            CheckGreeting(packet);
            break;
        case 1:
            CheckOk(packet, caps, flags);
            break;
        case 2:
            CheckError(packet, protocol, flags);
            break;
        case 3:
            CheckEnd(packet);
            break;
        case 4:
            CheckHeaders(packet);
            CheckUnitData(packet, caps % 65536);
            break;
        default:
            CheckReader(choices, packet);
            break;
    }
    return 0;
}
