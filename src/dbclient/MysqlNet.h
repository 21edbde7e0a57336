// Packet layer of one MySQL connection: frames the byte stream into protocol packets
// (4-byte header with sequence number), joins and splits them at 16 MiB, buffers
// outgoing data, optionally speaks the compressed protocol, and turns a lost connection
// or a server error packet into an error number and text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dbclient/MysqlVio.h"

namespace dbclient {

// Largest payload of one packet; a packet of exactly this length is followed by another.
inline constexpr std::size_t kMaxPacketChunk = 0xFFFFFF;
// Size of the packet buffer when a connection opens and after shrinking.
inline constexpr std::size_t kNetBufferLength = 8192;

// Header of one unit of the compressed protocol (7 bytes).
struct TCompressedHeader {
    std::uint32_t length = 0;  // bytes of data that follow
    std::uint8_t sequence = 0;
    std::uint32_t uncompressed = 0;  // 0 = the data is not compressed
};
// Parses a 7-byte compressed header; none when fewer than 7 bytes are given.
std::optional<TCompressedHeader> ParseCompressedHeader(std::span<const std::uint8_t> bytes);
// Header of an ordinary packet (4 bytes).
struct TPacketHeader {
    std::uint32_t length = 0;
    std::uint8_t sequence = 0;
};
std::optional<TPacketHeader> ParsePacketHeader(std::span<const std::uint8_t> bytes);

// A server error packet (first byte 0xFF) decoded.
struct TServerError {
    unsigned number = 0;
    std::string message;
};
// Decodes an error packet as the session reads it: fewer than 4 bytes or a server of a
// protocol version below 10 give 2000; the 4.1 form ('#' and the SQL state, with client
// flag 0x4000) loses its state. The message is cut to 199 characters. An error number 0
// gives 2000 as well.
TServerError ParseErrorPacket(std::span<const std::uint8_t> payload, unsigned protocol_version,
                              std::uint32_t client_flag);

// Inflates the data of one compressed unit into `out`; false when the data is bad or
// does not give exactly out.size() bytes.
bool UncompressUnit(std::span<const std::uint8_t> data, std::span<std::uint8_t> out);
// Deflates data of 50 bytes or more at zlib's default level; none when the data is
// shorter, zlib fails, or the result is not shorter than the data.
std::optional<std::vector<std::uint8_t>> CompressUnit(std::span<const std::uint8_t> data);

class TMysqlNet {
  public:
    TMysqlNet();
    ~TMysqlNet();
    TMysqlNet(const TMysqlNet&) = delete;
    TMysqlNet& operator=(const TMysqlNet&) = delete;

    // Opens the transport; on success a fresh 8192-byte buffer and reset counters.
    // Returns 0, or the transport's code. Does nothing (0) when already open.
    int net_open(TEnumVioType VioType, const std::string& host, const std::string& unix_socket,
                 unsigned port, unsigned connect_timeout, bool trysock);
    int net_close();
    // Starts a command: sequence numbers 0, nothing queued.
    void net_clear();
    // Queues one packet (header + payload): 0 ok, 1 failed (1153 when too large).
    int my_net_write(std::string_view packet);
    // Queues a command packet (command byte + argument), split at 16 MiB, then flushes.
    int net_write_command(std::uint8_t command, std::string_view packet);
    int net_write_buff(std::string_view packet);
    int net_flush();
    // Sends bytes (as one compressed unit in compressed mode): 0 ok, 2 incomplete,
    // -1 closed, 1 no memory.
    int net_real_write(std::string_view packet1);
    // Reads one transmission unit to the buffer; its length or -1.
    long my_real_read(long& complen);
    // Reads one logical packet; its payload length or -1. The payload is at read_pos(),
    // followed by a zero byte.
    long my_net_read();
    // Reads an answer, decoding server error packets: length, or -1 with the error set.
    long net_safe_read(std::uint32_t fclient_flag);
    bool net_realloc(std::size_t len1);
    bool net_pack();
    void SwitchToSSL(const std::string& key_file, const std::string& cert_file,
                     const std::string& ca_file, const std::string& ca_path, std::string& cipher,
                     unsigned timeout);
    // The sequence number to use now; advances it (255 wraps to 0).
    std::uint8_t net_next_pkt_nr();

    const std::string& last_error() const { return fvio.Last_error(); }
    void SetLast_error(const std::string& text) { fvio.SetLast_error(text); }
    unsigned last_errno() const { return fvio.last_errno(); }
    void SetLast_errno(unsigned errnum) { fvio.SetLast_errno(errnum); }
    // Stores a number and its text, or clears both with 0 and "".
    void SetError(unsigned errnum, const std::string& text) { fvio.SetError(errnum, text); }
    // Stores a client error number with its table text (unformatted).
    void SetClientError(unsigned errnum);

    // Payload of the last packet read (zero-terminated); null while closed.
    const char* read_pos() const;
    unsigned protocol_version() const { return fprotocol_version; }
    void SetProtocol_version(unsigned version) { fprotocol_version = version; }
    bool compress() const { return fcompress; }
    void SetCompress(bool value) { fcompress = value; }
    bool net_connected() const { return fvio.VIO_type() != VIO_CLOSED; }
    TEnumVioType vio_type() const { return fvio.VIO_type(); }
    bool NoTimeOut() const { return fvio.NoTimeOut(); }
    void SetNoTimeOut(bool value) { fvio.SetNoTimeOut(value); }
    std::uint32_t MaxAllowedPacketSize() const { return FMaxAllowedPacketSize; }
    void SetMaxAllowedPacketSize(std::uint32_t size) { FMaxAllowedPacketSize = size; }
    // Current size of the packet buffer (0 while closed).
    long max_packet() const { return fmax_packet; }
    TMysqlVio& vio() { return fvio; }

  private:
    // Reads exactly `size` bytes with the retry rules of one unit; false on failure.
    bool ReadFully(std::uint8_t* to, std::size_t size, int& retry_count);
    bool uncompress_packet(long len, long complen, long& size);
    // Compressed mode: a complete packet (or a 16 MiB chain joined into one) from the
    // decompressed data at `off`; false when more data must be read first.
    bool TakeCompressedPacket(long& len);
    std::uint8_t* Buffer(std::size_t offset) { return fbuff.data() + offset; }

    TMysqlVio fvio;
    bool fcompress = false;
    std::uint8_t freading_or_writing = 0;
    std::vector<std::uint8_t> fbuff;  // the one packet buffer; its size is fmax_packet
    std::uint8_t fpkt_nr = 0;
    std::uint8_t FCompressedPackedNumber = 0;
    long fmax_packet = 0;
    std::size_t fwrite_pos = 0;  // offsets into fbuff
    std::size_t fread_pos = 0;
    long fbuf_length = 0;
    long fwhere_b = 0;
    long fremain_in_buf = 0;
    char fsave_char = 0;
    unsigned fprotocol_version = 10;
    std::uint32_t FMaxAllowedPacketSize = 16777216;
    // Compressed mode: where fsave_char belongs, and scratch space for inflating units.
    std::size_t fsave_pos = 0;
    std::vector<std::uint8_t> funpack;
};

}  // namespace dbclient
