#include "dbclient/MysqlNet.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "dbclient/ClientErrors.h"

namespace dbclient {

namespace {

constexpr std::size_t kMinCompressLength = 50;
constexpr std::size_t kBufferStep = 4096;

std::uint32_t Uint3(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16;
}

void StoreUint3(std::uint8_t* p, std::size_t value) {
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
    p[2] = static_cast<std::uint8_t>(value >> 16);
}

std::string_view AsText(const std::uint8_t* p, std::size_t size) {
    return {reinterpret_cast<const char*>(p), size};
}

}  // namespace

std::optional<TCompressedHeader> ParseCompressedHeader(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 7) return std::nullopt;
    return TCompressedHeader{Uint3(bytes.data()), bytes[3], Uint3(bytes.data() + 4)};
}

std::optional<TPacketHeader> ParsePacketHeader(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 4) return std::nullopt;
    return TPacketHeader{Uint3(bytes.data()), bytes[3]};
}

TServerError ParseErrorPacket(std::span<const std::uint8_t> payload, unsigned protocol_version,
                              std::uint32_t client_flag) {
    TServerError error;
    if (payload.size() < 4) {
        error.number = CR_UNKNOWN_ERROR;
        error.message = ClientErrorText(CR_UNKNOWN_ERROR);
        return error;
    }
    std::size_t pos = 1;
    if (protocol_version < 10) {
        error.number = CR_UNKNOWN_ERROR;
    } else {
        error.number = static_cast<unsigned>(payload[1]) | static_cast<unsigned>(payload[2]) << 8;
        pos = 3;
        if ((client_flag & 0x4000) != 0 && payload[3] == '#')
            pos = std::min<std::size_t>(9, payload.size());
    }
    // Number 0 means "no error" to every caller: such a packet is still a failure.
    if (error.number == 0) {
        error.number = CR_UNKNOWN_ERROR;
        error.message = ClientErrorText(CR_UNKNOWN_ERROR);
        return error;
    }
    // The message is a text: it ends at a zero byte, if any.
    std::string_view message = AsText(payload.data() + pos, payload.size() - pos);
    message = message.substr(0, message.find('\0'));
    error.message = std::string(message.substr(0, 199));
    return error;
}

bool UncompressUnit(std::span<const std::uint8_t> data, std::span<std::uint8_t> out) {
    uLongf produced = static_cast<uLongf>(out.size());
    const int rc =
        ::uncompress(out.data(), &produced, data.data(), static_cast<uLong>(data.size()));
    return rc == Z_OK && produced == out.size();
}

std::optional<std::vector<std::uint8_t>> CompressUnit(std::span<const std::uint8_t> data) {
    if (data.size() < kMinCompressLength) return std::nullopt;
    std::vector<std::uint8_t> out(data.size() * 120 / 100 + 12);
    uLongf produced = static_cast<uLongf>(out.size());
    if (::compress(out.data(), &produced, data.data(), static_cast<uLong>(data.size())) != Z_OK ||
        produced >= data.size())
        return std::nullopt;
    out.resize(produced);
    return out;
}

TMysqlNet::TMysqlNet() = default;

TMysqlNet::~TMysqlNet() {
    net_close();
}

int TMysqlNet::net_open(TEnumVioType VioType, const std::string& host,
                        const std::string& unix_socket, unsigned port, unsigned connect_timeout,
                        bool trysock) {
    if (net_connected()) return 0;
    const int rc = fvio.vio_open(VioType, host, unix_socket, port, connect_timeout, trysock);
    if (rc != 0) return rc;
    fbuff.assign(kNetBufferLength, 0);
    fbuff.shrink_to_fit();
    fmax_packet = static_cast<long>(kNetBufferLength);
    fwrite_pos = fread_pos = 0;
    fpkt_nr = 0;
    FCompressedPackedNumber = 0;
    fcompress = false;
    fbuf_length = static_cast<long>(kNetBufferLength);
    fwhere_b = 0;
    fremain_in_buf = 0;
    fprotocol_version = 10;
    freading_or_writing = 0;
    fsave_char = 0;
    fsave_pos = 0;
    return 0;
}

int TMysqlNet::net_close() {
    const int rc = net_connected() ? fvio.vio_close() : 0;
    std::vector<std::uint8_t>().swap(fbuff);
    std::vector<std::uint8_t>().swap(funpack);
    fmax_packet = 0;
    fwrite_pos = fread_pos = 0;
    fremain_in_buf = 0;
    return rc;
}

void TMysqlNet::net_clear() {
    fpkt_nr = 0;
    FCompressedPackedNumber = 0;
    fwrite_pos = 0;
}

void TMysqlNet::SetClientError(unsigned errnum) {
    fvio.SetError(errnum, std::string(ClientErrorText(errnum)));
}

const char* TMysqlNet::read_pos() const {
    return fbuff.empty() ? nullptr : reinterpret_cast<const char*>(fbuff.data() + fread_pos);
}

std::uint8_t TMysqlNet::net_next_pkt_nr() {
    return fpkt_nr++;
}

int TMysqlNet::my_net_write(std::string_view packet) {
    if (packet.size() >= kMaxPacketChunk) {
        SetLast_errno(ER_NET_PACKET_TOO_LARGE);
        return 1;
    }
    std::uint8_t header[4];
    StoreUint3(header, packet.size());
    header[3] = fcompress ? 0 : fpkt_nr++;
    if (net_write_buff(AsText(header, sizeof header)) != 0) return 1;
    return net_write_buff(packet);
}

int TMysqlNet::net_write_command(std::uint8_t command, std::string_view packet) {
    if (packet.size() + 5 >= FMaxAllowedPacketSize) {
        SetLast_errno(ER_NET_PACKET_TOO_LARGE);
        return 1;
    }
    // The body is the command byte followed by the argument; `offset` counts body bytes.
    const char commandByte = static_cast<char>(command);
    const auto writeBody = [&](std::size_t offset, std::size_t count) {
        if (count == 0) return 0;
        if (offset == 0) {
            if (net_write_buff(std::string_view(&commandByte, 1)) != 0) return 1;
            return net_write_buff(packet.substr(0, count - 1));
        }
        return net_write_buff(packet.substr(offset - 1, count));
    };
    const auto writeChunk = [&](std::size_t offset, std::size_t count) {
        std::uint8_t header[4];
        StoreUint3(header, count);
        header[3] = net_next_pkt_nr();
        if (net_write_buff(AsText(header, sizeof header)) != 0) return 1;
        return writeBody(offset, count);
    };
    const std::size_t total = packet.size() + 1;
    std::size_t offset = 0;
    while (total - offset >= kMaxPacketChunk) {
        if (writeChunk(offset, kMaxPacketChunk) != 0) return 1;
        offset += kMaxPacketChunk;
    }
    if (writeChunk(offset, total - offset) != 0) return 1;
    return net_flush() == 0 ? 0 : 1;
}

int TMysqlNet::net_write_buff(std::string_view packet) {
    const auto capacity = static_cast<std::size_t>(fmax_packet);
    while (packet.size() > capacity - fwrite_pos) {
        const std::size_t fill = capacity - fwrite_pos;
        if (fill > 0) std::memcpy(Buffer(fwrite_pos), packet.data(), fill);
        packet.remove_prefix(fill);
        if (net_real_write(AsText(fbuff.data(), capacity)) != 0) return 1;
        fwrite_pos = 0;
    }
    if (!packet.empty()) std::memcpy(Buffer(fwrite_pos), packet.data(), packet.size());
    fwrite_pos += packet.size();
    return 0;
}

int TMysqlNet::net_flush() {
    int rc = 0;
    if (fwrite_pos > 0) {
        rc = net_real_write(AsText(fbuff.data(), fwrite_pos));
        fwrite_pos = 0;
    }
    if (fcompress) fpkt_nr = FCompressedPackedNumber;
    return rc;
}

int TMysqlNet::net_real_write(std::string_view packet1) {
    if (!net_connected()) return -1;
    freading_or_writing = 2;
    const auto send = [this](std::string_view data) {
        int failures = 0;
        while (!data.empty()) {
            const long r = fvio.vio_write(data.data(), data.size());
            if (r > 0) {
                data.remove_prefix(static_cast<std::size_t>(r));
                continue;
            }
            bool retry = false;
            // A write that waited its whole time-out is not tried again.
            if ((fvio.fcntl_mode() & 1) != 0 && !fvio.vio_timed_out()) retry = ++failures <= 2;
            if (!retry && fvio.vio_should_retry()) retry = ++failures <= 2;
            if (!retry && fvio.vio_intrerupted()) retry = true;
            if (!retry) return false;
        }
        return true;
    };
    bool ok = true;
    if (!fcompress) {
        ok = send(packet1);
    } else {
        // One compressed unit per call; data beyond what a 3-byte length can describe
        // goes out in further units.
        do {
            const std::string_view part = packet1.substr(0, kMaxPacketChunk);
            packet1.remove_prefix(part.size());
            std::vector<std::uint8_t> unit;
            try {
                const auto bytes =
                    std::span(reinterpret_cast<const std::uint8_t*>(part.data()), part.size());
                const auto packed = CompressUnit(bytes);
                const std::size_t length = packed ? packed->size() : part.size();
                unit.resize(length + 7);
                StoreUint3(unit.data(), length);
                unit[3] = FCompressedPackedNumber++;
                StoreUint3(unit.data() + 4, packed ? part.size() : 0);
                if (packed)
                    std::memcpy(unit.data() + 7, packed->data(), length);
                else if (length > 0)
                    std::memcpy(unit.data() + 7, part.data(), length);
            } catch (const std::bad_alloc&) {
                freading_or_writing = 0;
                return 1;
            }
            ok = send(AsText(unit.data(), unit.size()));
        } while (ok && !packet1.empty());
    }
    freading_or_writing = 0;
    return ok ? 0 : 2;
}

bool TMysqlNet::ReadFully(std::uint8_t* to, std::size_t size, int& retry_count) {
    std::size_t got = 0;
    while (got < size) {
        const long r = fvio.vio_read(to + got, size - got);
        if (r > 0) {
            got += static_cast<std::size_t>(r);
            continue;
        }
        if (fvio.vio_should_retry() && ++retry_count <= 2) continue;
        if (fvio.vio_intrerupted()) continue;
        return false;
    }
    return true;
}

long TMysqlNet::my_real_read(long& complen) {
    complen = 0;
    if (!net_connected()) return -1;
    freading_or_writing = 1;
    const auto fail = [this] {
        freading_or_writing = 0;
        return -1L;
    };
    int retries = 0;
    std::uint8_t header[7];
    const std::size_t headerLength = fcompress ? 7 : 4;
    if (!ReadFully(header, headerLength, retries)) return fail();
    if (header[3] != fpkt_nr) return fail();  // packets out of order
    ++fpkt_nr;
    // The client's next compressed unit of the same exchange follows the server's
    // numbering; without this a second packet of one command (a change of user, a local
    // file) goes out with a stale number and the server reports packets out of order.
    if (fcompress) FCompressedPackedNumber = fpkt_nr;
    const long len = static_cast<long>(Uint3(header));
    if (fcompress) complen = static_cast<long>(Uint3(header + 4));
    const long needed = fwhere_b + std::max(len, complen);
    if (needed >= fmax_packet && !net_realloc(static_cast<std::size_t>(needed) + 1)) return fail();
    if (!ReadFully(Buffer(static_cast<std::size_t>(fwhere_b)), static_cast<std::size_t>(len),
                   retries))
        return fail();
    freading_or_writing = 0;
    return len;
}

bool TMysqlNet::uncompress_packet(long len, long complen, long& size) {
    if (complen == 0) {
        size = len;
        return true;
    }
    try {
        if (funpack.size() < static_cast<std::size_t>(complen))
            funpack.resize(static_cast<std::size_t>(complen));
    } catch (const std::bad_alloc&) {
        return false;
    }
    const auto in = std::span<const std::uint8_t>(Buffer(static_cast<std::size_t>(fwhere_b)),
                                                  static_cast<std::size_t>(len));
    const auto out = std::span<std::uint8_t>(funpack.data(), static_cast<std::size_t>(complen));
    if (!UncompressUnit(in, out)) return false;
    std::memcpy(Buffer(static_cast<std::size_t>(fwhere_b)), out.data(), out.size());
    size = complen;
    return true;
}

bool TMysqlNet::TakeCompressedPacket(long& len) {
    // Walk the packets at the start of the left-over data: one packet, or a chain of
    // 0xFFFFFF-byte packets ended by a shorter one, which is handed out joined.
    const std::size_t start = static_cast<std::size_t>(fbuf_length - fremain_in_buf);
    const std::size_t end = static_cast<std::size_t>(fbuf_length);
    std::size_t pos = start;
    for (;;) {
        if (end - pos < 4) return false;
        const std::size_t length = Uint3(Buffer(pos));
        if (length > end - pos - 4) return false;
        pos += 4 + length;
        if (length != kMaxPacketChunk) break;
    }
    // Join the chain's payloads behind the first one, dropping the inner headers.
    std::size_t write = start + 4 + Uint3(Buffer(start));
    for (std::size_t at = start + 4 + Uint3(Buffer(start)); at < pos;) {
        const std::size_t length = Uint3(Buffer(at));
        std::memmove(Buffer(write), Buffer(at + 4), length);
        write += length;
        at += 4 + length;
    }
    fread_pos = start + 4;
    len = static_cast<long>(write - fread_pos);
    fremain_in_buf -= static_cast<long>(pos - start);
    return true;
}

long TMysqlNet::my_net_read() {
    if (!fcompress) {
        const long start = fwhere_b;
        long complen = 0;
        long len = my_real_read(complen);
        long total = 0;
        while (len == static_cast<long>(kMaxPacketChunk)) {
            fwhere_b += len;
            total += len;
            len = my_real_read(complen);
        }
        fwhere_b = start;
        if (len != -1) len += total;
        fread_pos = static_cast<std::size_t>(start);
        if (len != -1) fbuff[fread_pos + static_cast<std::size_t>(len)] = 0;
        return len;
    }

    if (fremain_in_buf > 0 && fsave_pos < fbuff.size())
        fbuff[fsave_pos] = static_cast<std::uint8_t>(fsave_char);
    long len = 0;
    while (!TakeCompressedPacket(len)) {
        // Move the left-over bytes to the buffer start and read the next unit behind them.
        const long leftover = fremain_in_buf;
        const long from = fbuf_length - leftover;
        if (leftover > 0 && from > 0)
            std::memmove(Buffer(0), Buffer(static_cast<std::size_t>(from)),
                         static_cast<std::size_t>(leftover));
        fbuf_length = leftover;
        fwhere_b = leftover;
        long complen = 0;
        const long unit = my_real_read(complen);
        if (unit == -1) return -1;
        long size = 0;
        if (!uncompress_packet(unit, complen, size)) return -1;
        fbuf_length += size;
        fremain_in_buf += size;
    }
    fsave_pos = fread_pos + static_cast<std::size_t>(len);
    fsave_char = static_cast<char>(fbuff[fsave_pos]);
    fbuff[fsave_pos] = 0;
    return len;
}

long TMysqlNet::net_safe_read(std::uint32_t fclient_flag) {
    const long len = my_net_read();
    if (len == -1 || len == 0) {
        fvio.vio_close();
        SetClientError(last_errno() == ER_NET_PACKET_TOO_LARGE ? CR_NET_PACKET_TOO_LARGE
                                                               : CR_SERVER_LOST);
        return -1;
    }
    if (fbuff[fread_pos] == 0xFF) {
        const TServerError error = ParseErrorPacket(
            std::span<const std::uint8_t>(Buffer(fread_pos), static_cast<std::size_t>(len)),
            fprotocol_version, fclient_flag);
        SetError(error.number, error.message);
        return -1;
    }
    return len;
}

bool TMysqlNet::net_realloc(std::size_t len1) {
    if (len1 >= FMaxAllowedPacketSize) {
        SetLast_errno(ER_NET_PACKET_TOO_LARGE);
        return false;
    }
    const std::size_t size = (len1 + kBufferStep - 1) / kBufferStep * kBufferStep;
    try {
        fbuff.resize(size);
    } catch (const std::bad_alloc&) {
        return false;
    }
    fwrite_pos = fread_pos = 0;
    fmax_packet = static_cast<long>(size);
    return true;
}

bool TMysqlNet::net_pack() {
    if (freading_or_writing != 0 || fbuff.empty()) return true;
    std::size_t keep = kNetBufferLength;
    if (fcompress && fremain_in_buf > 0) {
        // Decompressed data not handed out yet (such as the next result of a
        // multi-statement) moves to the buffer start and stays.
        fbuff[fsave_pos] = static_cast<std::uint8_t>(fsave_char);
        const std::size_t from = static_cast<std::size_t>(fbuf_length - fremain_in_buf);
        std::memmove(Buffer(0), Buffer(from), static_cast<std::size_t>(fremain_in_buf));
        fbuf_length = fremain_in_buf;
        fsave_pos = 0;
        fsave_char = static_cast<char>(fbuff[0]);
        keep = std::max(keep, (static_cast<std::size_t>(fremain_in_buf) + kBufferStep) /
                                  kBufferStep * kBufferStep);
    } else if (fcompress) {
        fbuf_length = 0;
    }
    if (static_cast<std::size_t>(fmax_packet) > keep) {
        try {
            fbuff.resize(keep);
            fbuff.shrink_to_fit();
        } catch (const std::bad_alloc&) {
            return false;
        }
        fmax_packet = static_cast<long>(keep);
        fwrite_pos = fread_pos = 0;
    }
    return true;
}

void TMysqlNet::SwitchToSSL(const std::string& key_file, const std::string& cert_file,
                            const std::string& ca_file, const std::string& ca_path,
                            std::string& cipher, unsigned timeout) {
    fvio.SwitchToSSL(key_file, cert_file, ca_file, ca_path, cipher, timeout);
    if (fvio.VIO_type() != VIO_TYPE_SSL) net_close();
}

}  // namespace dbclient
