#include "dbclient/MysqlVio.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <mutex>
#include <thread>

#include "dbclient/ClientErrors.h"
#include "platform/pipe.h"
#include "tls/OpenSslApi.h"

namespace dbclient {

namespace net = platform::net;
using namespace tls;

struct TSSLConnector {
    SslContext* ssl_context = nullptr;
    const SslMethod* method = nullptr;
};

void TSSLConnectorDeleter::operator()(TSSLConnector* connector) const {
    if (connector == nullptr) return;
    if (connector->ssl_context != nullptr) {
        OpenSsl().SSL_CTX_free(connector->ssl_context);
        OpenSslContextReleased();
    }
    delete connector;
}

namespace {

constexpr int kDefaultTimeout = 30;
// Closing drains what the server still sends, but not without end: a peer that keeps
// sending must not hold the close forever.
constexpr int kMaxDrainReads = 1000;
constexpr std::size_t kReadAheadSize = 16384;

// Opens of a busy named pipe, each after a wait for it.
constexpr int kPipeBusyRetries = 100;

// TLS contexts for the current TLS session: the library's version-flexible client
// method with TLS 1.2 as the lowest version. With a CA file or folder the server's
// certificate must verify; without one every certificate is accepted (encryption
// without authentication).
TSSLConnectorPtr vio_new_ssl_connector(const std::string& key, const std::string& cert,
                                       const std::string& ca, const std::string& capath,
                                       const std::string& cipher) {
    const TOpenSslApi& ssl = OpenSsl();
    TSSLConnectorPtr connector(new TSSLConnector);
    connector->method = ssl.TLS_client_method();
    connector->ssl_context = ssl.SSL_CTX_new(connector->method);
    if (connector->ssl_context == nullptr) return nullptr;
    OpenSslContextCreated();
    SslContext* context = connector->ssl_context;
    if (ssl.SSL_CTX_ctrl(context, SSL_CTRL_SET_MIN_PROTO_VERSION, TLS1_2_VERSION, nullptr) != 1)
        return nullptr;
    if (!cipher.empty()) ssl.SSL_CTX_set_cipher_list(context, cipher.c_str());
    const bool verify = !ca.empty() || !capath.empty();
    ssl.SSL_CTX_set_verify(context, verify ? SSL_VERIFY_PEER : SSL_VERIFY_NONE, nullptr);
    if (!cert.empty()) {
        const std::string& keyFile = key.empty() ? cert : key;
        if (ssl.SSL_CTX_use_certificate_file(context, cert.c_str(), SSL_FILETYPE_PEM) != 1 ||
            ssl.SSL_CTX_use_PrivateKey_file(context, keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
            ssl.SSL_CTX_check_private_key(context) != 1)
            return nullptr;
    }
    if (ssl.SSL_CTX_load_verify_locations(context, ca.empty() ? nullptr : ca.c_str(),
                                          capath.empty() ? nullptr : capath.c_str()) != 1) {
        // A configured CA that cannot be loaded must not fall back to another trust.
        if (verify) return nullptr;
        if (ssl.SSL_CTX_set_default_verify_paths(context) != 1) return nullptr;
    }
    return connector;
}

}  // namespace

TMysqlVio::TMysqlVio() = default;

TMysqlVio::~TMysqlVio() {
    if (ftype != VIO_CLOSED || fssl != nullptr) vio_close();
}

void TMysqlVio::SetLast_error(const std::string& text) {
    flast_error = text.substr(0, kMaxErrorTextLength);
}

void TMysqlVio::SetError(unsigned errnum, const std::string& text) {
    flast_errno = errnum;
    SetLast_error(text);
}

void TMysqlVio::SetNoTimeOut(bool value) {
    fNoTimeOut = value;
    if (!value) {
        if (ftimeout == 0) ftimeout = kDefaultTimeout;
    } else if (ftype == VIO_TYPE_TCPIP && freadwrite_timeout == 0) {
        vio_blocking(true);
    }
}

bool TMysqlVio::vio_timed_out() const {
    return flast_sockerr == net::TimedOutError();
}

void TMysqlVio::ResetClosed() {
    fahead_pos = fahead_end = 0;
    std::vector<std::uint8_t>().swap(fread_ahead);
    FSd = net::kInvalidSocket;
    FHPipe = platform::pipe::kInvalidPipe;
    ftype = VIO_CLOSED;
    ffcntl_mode = 0;
}

void TMysqlVio::RecordSocketError() {
    flast_sockerr = net::LastError();
}

int TMysqlVio::vio_open(TEnumVioType _type, const std::string& host, const std::string& unix_socket,
                        unsigned port, unsigned connect_timeout, bool trysock) {
    if (ftype != VIO_CLOSED) return -20;
    ftimeout = static_cast<int>(std::min<unsigned>(connect_timeout, INT_MAX / 1000));
    if (!fNoTimeOut && ftimeout == 0) ftimeout = kDefaultTimeout;
    if (_type == VIO_TYPE_SSL) return -2;
    if ((_type == VIO_TYPE_TCPIP || trysock) && !net::Startup()) return -1;

    if (_type == VIO_TYPE_NAMEDPIPE) {
        const std::string pipeHost = host.empty() ? "." : host;
        const std::string pipeName = unix_socket.empty() ? "MySQL" : unix_socket;
        platform::pipe::pipe_t handle = platform::pipe::kInvalidPipe;
        unsigned long systemError = 0;
        const unsigned busyWaitMs = std::min<unsigned>(connect_timeout, UINT_MAX / 1000) * 1000;
        const auto result = platform::pipe::Open(pipeHost, pipeName, busyWaitMs,
                                                 kPipeBusyRetries, handle, systemError);
        if (result == platform::pipe::OpenResult::Opened) {
            ftype = VIO_TYPE_NAMEDPIPE;
            FHPipe = handle;
            ClearError();
            return 0;
        }
        const unsigned errnum = result == platform::pipe::OpenResult::WaitFailed
                                    ? CR_NAMEDPIPEWAIT_ERROR
                                : result == platform::pipe::OpenResult::StateFailed
                                    ? CR_NAMEDPIPESETSTATE_ERROR
                                    : CR_NAMEDPIPEOPEN_ERROR;
        SetError(errnum, ClientErrorMessage(errnum, pipeHost, pipeName,
                                            static_cast<unsigned>(systemError)));
        if (!trysock) return -9;
    }
    if (!trysock) return 0;

    const std::string tcpHost = host.empty() ? "localhost" : host;
    if (port == 0) port = 3306;
    // An IPv4 address first, as the host has always been reached; an IPv6 address ("::1",
    // or a name with only such addresses) when there is none.
    std::uint32_t address = 0;
    net::SocketAddress address6;
    bool ipv6 = false;
    if (const int rc = net::ResolveIPv4(tcpHost, address); rc != 0) {
        ipv6 = net::ResolveAddress(tcpHost, std::to_string(port), net::AddressFamily::IPv6, false,
                                   address6) == 0;
        if (!ipv6) {
            SetError(CR_UNKNOWN_HOST, ClientErrorMessage(CR_UNKNOWN_HOST, tcpHost, rc));
            return -7;
        }
    }
    const net::socket_t sd =
        ipv6 ? net::CreateTcpSocket(net::AddressFamily::IPv6) : net::CreateTcpSocketIPv4();
    if (sd == net::kInvalidSocket) {
        SetError(CR_IPSOCK_ERROR, ClientErrorMessage(CR_IPSOCK_ERROR, net::LastError()));
        return -8;
    }
    FSd = sd;
    ftype = VIO_TYPE_TCPIP;
    fhost = tcpHost;
    vio_blocking(false);

    const auto fail = [&](int error, int code) {
        ResetClosed();
        SetError(CR_CONN_HOST_ERROR, ClientErrorMessage(CR_CONN_HOST_ERROR, tcpHost, error));
        net::CloseSocket(sd);
        return code;
    };
    const int connected = ipv6 ? net::Connect(sd, address6)
                               : net::ConnectIPv4(sd, address, static_cast<std::uint16_t>(port));
    if (connected != 0) {
        const int error = net::LastError();
        const int winsock = net::ToWinsockError(error);
        if (winsock != net::wsaEWOULDBLOCK && winsock != net::wsaEINPROGRESS)
            return fail(error, -6);
    }
    vio_set_nodelay();
    vio_set_keepalive(true);

    if (ftimeout != 0) {
        // The server speaks first: wait for its greeting.
        if (!vio_wait_readable(ftimeout)) {
            const int error = net::LastError();
            return fail(error != 0 ? error : net::TimedOutError(), -7);
        }
        // Readable may also mean that the connect failed in the background.
        if (const int pending = net::PendingError(sd); pending != 0) return fail(pending, -6);
    }
    // With a read and write time-out the socket stays non-blocking: every read and write
    // then waits for the socket itself, at most that long.
    if (fNoTimeOut && freadwrite_timeout == 0) vio_blocking(true);
    ClearError();
    return 0;
}

bool TMysqlVio::WaitForTls(int sslError) {
    const int timeoutMs =
        freadwrite_timeout > 0 ? freadwrite_timeout : (fNoTimeOut ? -1 : ftimeout * 1000);
    int ready = 0;
    if (sslError == SSL_ERROR_WANT_READ)
        ready = net::WaitReadable(FSd, timeoutMs);
    else if (sslError == SSL_ERROR_WANT_WRITE)
        ready = net::WaitWritable(FSd, timeoutMs);
    else
        return false;
    if (ready == 0) flast_sockerr = net::TimedOutError();
    return ready == 1;
}

long TMysqlVio::vio_read(void* buffer, std::size_t size) {
    switch (ftype) {
        case VIO_TYPE_TCPIP: {
            if (fahead_pos < fahead_end) {
                const std::size_t n = std::min(size, fahead_end - fahead_pos);
                std::memcpy(buffer, fread_ahead.data() + fahead_pos, n);
                fahead_pos += n;
                return static_cast<long>(n);
            }
            const bool readable = freadwrite_timeout > 0
                                      ? net::WaitReadable(FSd, freadwrite_timeout) == 1
                                      : fNoTimeOut || vio_wait_readable(ftimeout);
            if (!readable) {
                flast_sockerr = net::TimedOutError();
                return -1;
            }
            const bool ahead = size < kReadAheadSize;
            if (ahead && fread_ahead.size() < kReadAheadSize) fread_ahead.resize(kReadAheadSize);
            const long r = ahead ? net::Recv(FSd, fread_ahead.data(), kReadAheadSize)
                                 : net::Recv(FSd, buffer, size);
            if (r < 0) {
                RecordSocketError();
                return r;
            }
            flast_sockerr = 0;
            if (!ahead || r == 0) return r;
            const std::size_t n = std::min(size, static_cast<std::size_t>(r));
            std::memcpy(buffer, fread_ahead.data(), n);
            fahead_pos = n;
            fahead_end = static_cast<std::size_t>(r);
            return static_cast<long>(n);
        }
        case VIO_TYPE_SSL: {
            const int count = static_cast<int>(std::min<std::size_t>(size, INT_MAX));
            int error = 0;
            const int r =
                TlsTransfer([&] { return OpenSsl().SSL_read(fssl, buffer, count); }, error);
            return r > 0 ? r : -error;
        }
        case VIO_TYPE_NAMEDPIPE:
            return platform::pipe::Read(FHPipe, buffer, size);
        default:
            return -1;
    }
}

long TMysqlVio::vio_write(const void* buffer, std::size_t size) {
    switch (ftype) {
        case VIO_TYPE_TCPIP: {
            long r = net::Send(FSd, buffer, size);
            // A non-blocking socket whose send buffer is full: wait until it takes more
            // (at most the read and write time-out), instead of reporting a half-sent
            // packet.
            const int waitMs = freadwrite_timeout > 0 ? freadwrite_timeout : -1;
            bool timedOut = false;
            while (r < 0 && (ffcntl_mode & 1) != 0 &&
                   net::ToWinsockError(net::LastError()) == net::wsaEWOULDBLOCK) {
                const int ready = net::WaitWritable(FSd, waitMs);
                timedOut = ready == 0;
                if (ready != 1) break;
                r = net::Send(FSd, buffer, size);
            }
            if (timedOut)
                flast_sockerr = net::TimedOutError();
            else if (r < 0)
                RecordSocketError();
            else
                flast_sockerr = 0;
            return r;
        }
        case VIO_TYPE_SSL: {
            const int count = static_cast<int>(std::min<std::size_t>(size, INT_MAX));
            int error = 0;
            return TlsTransfer([&] { return OpenSsl().SSL_write(fssl, buffer, count); }, error);
        }
        case VIO_TYPE_NAMEDPIPE:
            return platform::pipe::Write(FHPipe, buffer, size);
        default:
            return -1;
    }
}

int TMysqlVio::TlsTransfer(const std::function<int()>& call, int& sslError) {
    for (;;) {
        const int r = call();
        if (r > 0) {
            flast_sockerr = 0;
            return r;
        }
        sslError = OpenSsl().SSL_get_error(fssl, r);
        if (WaitForTls(sslError)) continue;
        flast_sockerr = sslError == SSL_ERROR_SYSCALL ? net::LastError() : 0;
        return r;
    }
}

int TMysqlVio::vio_blocking(bool onoff) {
    if (ftype == VIO_CLOSED) return -1;
    if (ftype == VIO_TYPE_NAMEDPIPE) return 0;
    const int oldMode = ffcntl_mode;
    ffcntl_mode = onoff ? (ffcntl_mode & ~1) : (ffcntl_mode | 1);
    if (oldMode == ffcntl_mode) return 0;
    return net::SetNonBlocking(FSd, !onoff);
}

bool TMysqlVio::vio_should_retry() const {
    if (ftype == VIO_CLOSED) return false;
    const int e = net::ToWinsockError(flast_sockerr);
    return e == net::wsaEINTR || e == net::wsaEWOULDBLOCK || e == net::wsaEINPROGRESS;
}

bool TMysqlVio::vio_intrerupted() const {
    return net::ToWinsockError(flast_sockerr) == net::wsaEINTR;
}

int TMysqlVio::vio_close() {
    int result = 0;
    // The TLS session says goodbye while its socket is still open.
    if (fssl != nullptr) {
        const TOpenSslApi& ssl = OpenSsl();
        ssl.SSL_shutdown(fssl);
        ssl.SSL_free(fssl);
        fssl = nullptr;
    }
    fnewcon.reset();
    if ((ftype == VIO_TYPE_TCPIP || ftype == VIO_TYPE_SSL) && FSd != net::kInvalidSocket) {
        net::ShutdownSend(FSd);
        net::SetNonBlocking(FSd, true);
        char scratch[256];
        for (int i = 0; i < kMaxDrainReads; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (net::Recv(FSd, scratch, sizeof scratch) <= 0) break;
        }
        result = net::CloseSocket(FSd);
    }
    if (ftype == VIO_TYPE_NAMEDPIPE) platform::pipe::Close(FHPipe);
    ResetClosed();
    return result;
}

void TMysqlVio::SwitchToSSL(const std::string& key, const std::string& cert, const std::string& ca,
                            const std::string& capath, std::string& cipher, unsigned timeout) {
    if (ftype == VIO_CLOSED || ftype == VIO_TYPE_NAMEDPIPE || ftype == VIO_TYPE_SSL) return;
    if (!OpenSSLLoaded()) return;
    const TOpenSslApi& ssl = OpenSsl();
    ssl.ERR_clear_error();
    fnewcon = vio_new_ssl_connector(key, cert, ca, capath, cipher);
    if (!fnewcon) return;
    fssl = ssl.SSL_new(fnewcon->ssl_context);
    if (fssl == nullptr) {
        fnewcon.reset();
        return;
    }
    const net::socket_t sd = FSd;
    // Plain bytes received ahead never count as part of the encrypted stream.
    fahead_pos = fahead_end = 0;
    ftype = VIO_CLOSED;
    ssl.SSL_clear(fssl);
    if (SslSession* session = ssl.SSL_get_session(fssl); session != nullptr)
        ssl.SSL_SESSION_set_timeout(session, static_cast<long>(timeout));
    // With a CA configured the certificate must also be made out to the host connected to.
    const bool verify = !ca.empty() || !capath.empty();
    const bool ready = ssl.SSL_set_fd(fssl, static_cast<int>(sd)) == 1 &&
                       (!verify || ssl.SSL_set1_host(fssl, fhost.c_str()) == 1);
    ssl.SSL_set_connect_state(fssl);

    int r = 0;
    while (ready && !ssl.SSL_is_init_finished(fssl)) {
        r = ssl.SSL_do_handshake(fssl);
        if (r > 0) break;
        const int error = ssl.SSL_get_error(fssl, r);
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) break;
        // The socket may be non-blocking: wait for it instead of spinning.
        if (!WaitForTls(error)) break;
    }
    if (r == 1) {
        ftype = VIO_TYPE_SSL;
        vio_set_nodelay();
        vio_set_keepalive(true);
        const char* name = ssl.SSL_CIPHER_get_name(ssl.SSL_get_current_cipher(fssl));
        cipher = name != nullptr ? name : "";
        if (X509Certificate* peer = ssl.SSL_get1_peer_certificate(fssl); peer != nullptr)
            ssl.X509_free(peer);
        return;
    }
    ssl.SSL_free(fssl);
    fssl = nullptr;
    fnewcon.reset();
    net::CloseSocket(sd);
    ResetClosed();
}

int TMysqlVio::vio_set_nodelay() {
    if (ftype == VIO_CLOSED && FSd == net::kInvalidSocket) return -1;
    return net::SetNoDelay(FSd, true) == 0 ? 0 : -1;
}

int TMysqlVio::vio_set_keepalive(bool onoff) {
    if (FSd == net::kInvalidSocket) return -1;
    return net::SetKeepAlive(FSd, onoff);
}

bool TMysqlVio::vio_wait_readable(int seconds) {
    if (ftype == VIO_TYPE_NAMEDPIPE) return true;
    if (ftype == VIO_CLOSED || FSd == net::kInvalidSocket) return false;
    if (ftype == VIO_TYPE_TCPIP && fahead_pos < fahead_end) return true;
    net::SetLastError(0);
    return net::WaitReadable(FSd, seconds * 1000) == 1;
}

}  // namespace dbclient
