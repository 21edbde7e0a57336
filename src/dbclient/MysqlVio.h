// Byte-stream endpoint under the MySQL client/server protocol: a TCP connection to the
// server, optionally switched to TLS. It knows nothing of packets.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/net.h"
#include "platform/pipe.h"
#include "tls/OpenSsl.h"
#include "tls/OpenSslApi.h"

namespace dbclient {

// Connection kind; the ordinal values are stored and compared.
enum TEnumVioType : int {
    VIO_CLOSED = 0,
    VIO_TYPE_TCPIP = 1,
    VIO_TYPE_SOCKET = 2,  // declared, never opened
    VIO_TYPE_NAMEDPIPE = 3,
    VIO_TYPE_SSL = 4,
};

// The TLS context made for one session (released when the session ends).
struct TSSLConnector;
struct TSSLConnectorDeleter {
    void operator()(TSSLConnector* connector) const;
};
using TSSLConnectorPtr = std::unique_ptr<TSSLConnector, TSSLConnectorDeleter>;

class TMysqlVio {
  public:
    TMysqlVio();
    ~TMysqlVio();
    TMysqlVio(const TMysqlVio&) = delete;
    TMysqlVio& operator=(const TMysqlVio&) = delete;

    // Opens a connection: 0 on success; -20 already open, -2 kind not openable, -9 named
    // pipe failed (no TCP fallback), -8 no socket, -7 unknown host or no greeting in
    // time, -6 connect refused. Failures leave a client error number and text.
    int vio_open(TEnumVioType _type, const std::string& host, const std::string& unix_socket,
                 unsigned port, unsigned connect_timeout, bool trysock);
    // One read call: bytes read (> 0), 0 at the end of the stream, negative on failure.
    long vio_read(void* buffer, std::size_t size);
    // One write call: bytes written, negative on failure.
    long vio_write(const void* buffer, std::size_t size);
    // true = blocking; 0 on success, -1 when closed.
    int vio_blocking(bool onoff);
    // The last read or write failed for a passing reason (interrupted, would block).
    bool vio_should_retry() const;
    bool vio_intrerupted() const;
    int vio_close();
    // TLS handshake over the open TCP connection. `cipher` in: cipher list or empty;
    // out: the negotiated cipher. On failure the connection is closed.
    void SwitchToSSL(const std::string& key, const std::string& cert, const std::string& ca,
                     const std::string& capath, std::string& cipher, unsigned timeout);
    int vio_set_nodelay();
    int vio_set_keepalive(bool onoff);
    bool vio_wait_readable(int seconds);

    const std::string& Last_error() const { return flast_error; }
    void SetLast_error(const std::string& text);  // kept to 200 characters
    unsigned last_errno() const { return flast_errno; }
    void SetLast_errno(unsigned errnum) { flast_errno = errnum; }
    // Stores a number and its text, or clears both with 0 and "".
    void SetError(unsigned errnum, const std::string& text);
    void ClearError() { SetError(0, {}); }

    TEnumVioType VIO_type() const { return ftype; }
    int fcntl_mode() const { return ffcntl_mode; }
    bool NoTimeOut() const { return fNoTimeOut; }
    void SetNoTimeOut(bool value);
    // Milliseconds that a TCP or TLS read may wait for data and a write for room, after
    // which it fails as timed out; 0 (the default) leaves both to the NoTimeOut rule.
    // Kept across connections; takes effect at the next open.
    int ReadWriteTimeout() const { return freadwrite_timeout; }
    void SetReadWriteTimeout(int milliseconds) { freadwrite_timeout = std::max(milliseconds, 0); }
    // The last read or write failed because its time-out ran out.
    bool vio_timed_out() const;
    // The host of the open connection; a verified TLS certificate must name it.
    const std::string& Host() const { return fhost; }

  private:
    void ResetClosed();
    void RecordSocketError();
    // Waits for the TLS library's wish (read or write) on the socket; false on time-out.
    bool WaitForTls(int sslError);
    // Runs one TLS read or write, waiting while the library wants the socket. Returns the
    // call's result; when it is not positive, `sslError` holds the library's error code.
    int TlsTransfer(const std::function<int()>& call, int& sslError);

    platform::net::socket_t FSd = platform::net::kInvalidSocket;
    platform::pipe::pipe_t FHPipe = platform::pipe::kInvalidPipe;
    int ffcntl_mode = 0;
    TEnumVioType ftype = VIO_CLOSED;
    std::string flast_error;
    unsigned flast_errno = 0;
    tls::Ssl* fssl = nullptr;
    TSSLConnectorPtr fnewcon;
    int ftimeout = 0;
    bool fNoTimeOut = true;
    int freadwrite_timeout = 0;
    // The platform error of the last failed read or write of this connection.
    int flast_sockerr = 0;
    // Plain TCP reads: small reads (packet headers, short rows) are served from one
    // larger receive, so that a packet costs one system call instead of two or more.
    std::vector<std::uint8_t> fread_ahead;
    std::size_t fahead_pos = 0;
    std::size_t fahead_end = 0;
    std::string fhost;
};

}  // namespace dbclient
