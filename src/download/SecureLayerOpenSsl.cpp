#include "download/SecureLayerOpenSsl.h"

#include <algorithm>
#include <climits>

#include "download/NetUtil.h"
#include "platform/dynlib.h"
#include "tls/OpenSsl.h"
#include "tls/OpenSslApi.h"

namespace download {

namespace net = platform::net;
using namespace tls;

namespace {

// A record of the TLS protocol carries at most 16 KiB of data.
constexpr long kMaxRecordData = 16384;
// The library's receive buffer: the socket's receive unit.
constexpr std::size_t kReadBufferSize = 65536 + 512;

// The reason text of the oldest queued library error (the queue is emptied).
std::string TakeReason() {
    const TOpenSslApi& ssl = OpenSsl();
    std::string reason;
    while (const std::optional<TOpenSslError> error = TakeOpenSslError()) {
        if (!reason.empty()) continue;
        const char* text = ssl.ERR_reason_error_string(error->code);
        reason = text != nullptr ? text : error->text;
    }
    return reason;
}

}  // namespace

TSecureLayerOpenSsl::~TSecureLayerOpenSsl() {
    EndSession();
    if (FContext != nullptr) {
        OpenSsl().SSL_CTX_free(FContext);
        OpenSslContextReleased();
    }
}

std::string TSecureLayerOpenSsl::LibVersion() const {
    return platform::SslLibraryName();
}

bool TSecureLayerOpenSsl::Fail(int code, const std::string& text) {
    FLastError = code;
    FLastErrorDesc = text;
    return false;
}

bool TSecureLayerOpenSsl::FailCall(const char* what, int result) {
    const TOpenSslApi& ssl = OpenSsl();
    const int error = ssl.SSL_get_error(FSsl, result);
    if (error == SSL_ERROR_SYSCALL) {
        // The connection itself failed: keep the system's code (a reset, mostly).
        std::string reason = TakeReason();
        const int code = net::ToWinsockError(net::LastError());
        if (code != 0) return Fail(code, std::string("TLS ") + what + " failed: connection lost");
        return Fail(-1, std::string("TLS ") + what +
                            " failed: " + (reason.empty() ? "connection closed" : reason));
    }
    if (const long verify = ssl.SSL_get_verify_result(FSsl); verify != X509_V_OK) {
        TakeReason();
        const char* text = ssl.X509_verify_cert_error_string(verify);
        return Fail(-1, std::string("TLS certificate rejected: ") +
                            (text != nullptr ? text : "verification failed") + " (" + FHost + ")");
    }
    const std::string reason = TakeReason();
    return Fail(-1, std::string("TLS ") + what +
                        " failed: " + (reason.empty() ? "error " + std::to_string(error) : reason));
}

bool TSecureLayerOpenSsl::WaitFor(int sslError, const char* what) {
    int r = 0;
    if (sslError == SSL_ERROR_WANT_READ)
        r = net::WaitReadable(FSocket, FTimeout);
    else if (sslError == SSL_ERROR_WANT_WRITE)
        r = net::WaitWritable(FSocket, FTimeout);
    if (r == 1) return true;
    if (r == 0) return Fail(net::wsaETIMEDOUT, std::string("TLS ") + what + " timed out");
    return Fail(net::ToWinsockError(net::LastError()), std::string("TLS ") + what + " failed");
}

void TSecureLayerOpenSsl::EndSession() {
    if (FSsl != nullptr) {
        OpenSsl().SSL_free(FSsl);
        FSsl = nullptr;
    }
    FSSLEnabled = false;
    FBroken = false;
    FSocket = net::kInvalidSocket;
}

bool TSecureLayerOpenSsl::Connect(net::socket_t socket) {
    FLastError = 0;
    FLastErrorDesc.clear();
    EndSession();
    if (!LoadOpenSSL())
        return Fail(-1,
                    std::string("TLS library not available (") + platform::SslLibraryName() + ")");
    const TOpenSslApi& ssl = OpenSsl();
    ssl.ERR_clear_error();
    if (FContext == nullptr) {
        SslContext* context = ssl.SSL_CTX_new(ssl.TLS_client_method());
        if (context == nullptr) return Fail(-1, "TLS context failed: " + TakeReason());
        OpenSslContextCreated();
        FContext = context;
        // Only TLS 1.2 and newer; the server must prove itself against the system's
        // trust store (the library's default paths, which SSL_CERT_FILE and
        // SSL_CERT_DIR override).
        if (ssl.SSL_CTX_ctrl(context, SSL_CTRL_SET_MIN_PROTO_VERSION, TLS1_2_VERSION, nullptr) !=
                1 ||
            ssl.SSL_CTX_set_default_verify_paths(context) != 1) {
            ssl.SSL_CTX_free(context);
            OpenSslContextReleased();
            FContext = nullptr;
            return Fail(-1, "TLS context failed: " + TakeReason());
        }
        ssl.SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
        // Reading ahead into a larger buffer takes several records per system call; the
        // bytes it holds count as waiting data (WaitingData).
        ssl.SSL_CTX_ctrl(context, SSL_CTRL_SET_READ_AHEAD, 1, nullptr);
        ssl.SSL_CTX_set_default_read_buffer_len(context, kReadBufferSize);
    }
    FSsl = ssl.SSL_new(FContext);
    if (FSsl == nullptr) return Fail(-1, "TLS session failed: " + TakeReason());
    FSocket = socket;

    // The certificate must name the host: an address literal is compared with the
    // certificate's IP addresses, a name with its DNS names. Only names go out as SNI.
    const std::string& host = FSNIHost;
    FHost = host;
    const bool address = IsIP4(host) || IsIP6(host);
    bool ready = !host.empty() && ssl.SSL_set_fd(FSsl, static_cast<int>(socket)) == 1;
    if (ready && address)
        ready = ssl.X509_VERIFY_PARAM_set1_ip_asc(ssl.SSL_get0_param(FSsl), host.c_str()) == 1;
    if (ready && !address) {
        ready = ssl.SSL_set1_host(FSsl, host.c_str()) == 1 &&
                ssl.SSL_ctrl(FSsl, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                             const_cast<char*>(host.c_str())) == 1;
    }
    if (!ready) {
        Fail(-1, "TLS session failed: no server name to verify" +
                     (host.empty() ? std::string() : " (" + host + ")"));
        EndSession();
        return false;
    }
    // Every wait below is bounded, so the socket must not block inside the library.
    if (net::SetNonBlocking(socket, true) != 0) {
        Fail(net::ToWinsockError(net::LastError()), "TLS session failed: socket mode");
        EndSession();
        return false;
    }
    ssl.SSL_set_connect_state(FSsl);
    for (;;) {
        const int r = ssl.SSL_do_handshake(FSsl);
        if (r == 1) break;
        const int error = ssl.SSL_get_error(FSsl, r);
        if ((error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) &&
            WaitFor(error, "handshake"))
            continue;
        if (FLastError == 0) FailCall("handshake", r);
        EndSession();
        return false;
    }
    FSSLEnabled = true;
    return true;
}

bool TSecureLayerOpenSsl::Accept(net::socket_t) {
    return Fail(-1, "TLS server side is not supported");
}

bool TSecureLayerOpenSsl::Shutdown() {
    FLastError = 0;
    FLastErrorDesc.clear();
    if (FSsl == nullptr) return true;
    // The close notice goes out if the socket takes it at once; the peer's answer is
    // not awaited, the connection ends anyway. A session broken by an error has none.
    if (!FBroken) OpenSsl().SSL_shutdown(FSsl);
    OpenSsl().ERR_clear_error();
    EndSession();
    return true;
}

long TSecureLayerOpenSsl::SendBuffer(const void* buffer, long len) {
    FLastError = 0;
    FLastErrorDesc.clear();
    if (FSsl == nullptr || FBroken) return Fail(-1, "TLS session not open") ? 0 : -1;
    const auto* bytes = static_cast<const char*>(buffer);
    long sent = 0;
    while (sent < len) {
        const int count = static_cast<int>(std::min<long>(len - sent, INT_MAX));
        const int r = OpenSsl().SSL_write(FSsl, bytes + sent, count);
        if (r > 0) {
            sent += r;
            continue;
        }
        const int error = OpenSsl().SSL_get_error(FSsl, r);
        // A write that must wait is repeated with the same arguments, as the library asks.
        if ((error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) &&
            WaitFor(error, "send"))
            continue;
        if (FLastError == 0) FailCall("send", r);
        FBroken = true;
        return -1;
    }
    return sent;
}

long TSecureLayerOpenSsl::RecvBuffer(void* buffer, long len) {
    FLastError = 0;
    FLastErrorDesc.clear();
    if (FSsl == nullptr || FBroken) return Fail(-1, "TLS session not open") ? 0 : -1;
    const int count = static_cast<int>(std::min<long>(len, INT_MAX));
    for (;;) {
        const int r = OpenSsl().SSL_read(FSsl, buffer, count);
        if (r > 0) return r;
        const int error = OpenSsl().SSL_get_error(FSsl, r);
        // The server's close notice ends the stream cleanly; an end without it is an
        // error, so a cut-off body never passes for a complete one.
        if (error == SSL_ERROR_ZERO_RETURN) return 0;
        // Records that carry no data (session tickets) leave the library wanting more.
        if ((error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) &&
            WaitFor(error, "receive"))
            continue;
        if (FLastError == 0) FailCall("receive", r);
        FBroken = true;
        return -1;
    }
}

long TSecureLayerOpenSsl::WaitingData() {
    if (FSsl == nullptr) return 0;
    if (const int n = OpenSsl().SSL_pending(FSsl); n > 0) return n;
    // Received bytes the library holds but has not decrypted yet.
    if (OpenSsl().SSL_has_pending(FSsl) == 1) return kMaxRecordData;
    return 0;
}

}  // namespace download
