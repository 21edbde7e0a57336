// POSIX sockets behind the portable socket interface.
#include "platform/net.h"
#include "platform/netaddress.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <mutex>

namespace platform::net {

bool Startup() {
    static std::once_flag once;
    std::call_once(once, [] { ::signal(SIGPIPE, SIG_IGN); });
    return true;
}

int LastError() {
    return errno;
}

void SetLastError(int platformError) {
    errno = platformError;
}

int ToWinsockError(int e) {
    switch (e) {
        case 0:
            return 0;
        case EINTR:
            return wsaEINTR;
        case EBADF:
            return wsaEBADF;
        case EACCES:
            return wsaEACCES;
        case EFAULT:
            return wsaEFAULT;
        case EINVAL:
            return wsaEINVAL;
        case EMFILE:
            return wsaEMFILE;
#if EAGAIN != EWOULDBLOCK
        case EAGAIN:
#endif
        case EWOULDBLOCK:
            return wsaEWOULDBLOCK;
        case EINPROGRESS:
            return wsaEINPROGRESS;
        case EALREADY:
            return wsaEALREADY;
        case ENOTSOCK:
            return wsaENOTSOCK;
        case EDESTADDRREQ:
            return wsaEDESTADDRREQ;
        case EMSGSIZE:
            return wsaEMSGSIZE;
        case EPROTOTYPE:
            return wsaEPROTOTYPE;
        case ENOPROTOOPT:
            return wsaENOPROTOOPT;
        case EPROTONOSUPPORT:
            return wsaEPROTONOSUPPORT;
        case ESOCKTNOSUPPORT:
            return wsaESOCKTNOSUPPORT;
        case EOPNOTSUPP:
            return wsaEOPNOTSUPP;
        case EPFNOSUPPORT:
            return wsaEPFNOSUPPORT;
        case EAFNOSUPPORT:
            return wsaEAFNOSUPPORT;
        case EADDRINUSE:
            return wsaEADDRINUSE;
        case EADDRNOTAVAIL:
            return wsaEADDRNOTAVAIL;
        case ENETDOWN:
            return wsaENETDOWN;
        case ENETUNREACH:
            return wsaENETUNREACH;
        case ENETRESET:
            return wsaENETRESET;
        case ECONNABORTED:
            return wsaECONNABORTED;
        case EPIPE:
        case ECONNRESET:
            return wsaECONNRESET;
        case ENOBUFS:
        case ENOMEM:
            return wsaENOBUFS;
        case EISCONN:
            return wsaEISCONN;
        case ENOTCONN:
            return wsaENOTCONN;
        case ESHUTDOWN:
            return wsaESHUTDOWN;
        case ETOOMANYREFS:
            return wsaETOOMANYREFS;
        case ETIMEDOUT:
            return wsaETIMEDOUT;
        case ECONNREFUSED:
            return wsaECONNREFUSED;
        case ELOOP:
            return wsaELOOP;
        case ENAMETOOLONG:
            return wsaENAMETOOLONG;
        case EHOSTDOWN:
            return wsaEHOSTDOWN;
        case EHOSTUNREACH:
            return wsaEHOSTUNREACH;
        default:
            return e;
    }
}

int ResolveErrorToWinsock(int gaiError) {
    switch (gaiError) {
        case 0:
            return 0;
        case EAI_AGAIN:
            return wsaTRY_AGAIN;
        case EAI_FAIL:
            return wsaNO_RECOVERY;
        case EAI_FAMILY:
            return wsaEAFNOSUPPORT;
        case EAI_MEMORY:
            return wsaENOBUFS;
        case EAI_SERVICE:
            return wsaTYPE_NOT_FOUND;
        case EAI_SOCKTYPE:
            return wsaESOCKTNOSUPPORT;
        case EAI_SYSTEM:
            return ToWinsockError(errno);
        case EAI_NONAME:
        default:
            return wsaHOST_NOT_FOUND;
    }
}

std::string ErrorText(int platformError) {
    return std::strerror(platformError);
}

int TimedOutError() {
    return ETIMEDOUT;
}

int NotSupportedError() {
    return EOPNOTSUPP;
}

int CloseSocket(socket_t s) {
    return ::close(s);
}

int SetNonBlocking(socket_t s, bool nonBlocking) {
    const int flags = ::fcntl(s, F_GETFL, 0);
    if (flags < 0) return -1;
    const int wanted = nonBlocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return wanted == flags ? 0 : ::fcntl(s, F_SETFL, wanted);
}

namespace {

// Calls on a closed handle fail as "not a socket", as Winsock reports them (poll() would
// otherwise ignore a negative descriptor and just wait).
bool NotASocket(socket_t s) {
    if (s != kInvalidSocket) return false;
    errno = ENOTSOCK;
    return true;
}

}  // namespace

long Send(socket_t s, const void* data, std::size_t size) {
    if (NotASocket(s)) return -1;
    return ::send(s, data, size, MSG_NOSIGNAL);
}

long Recv(socket_t s, void* data, std::size_t size) {
    if (NotASocket(s)) return -1;
    return ::recv(s, data, size, 0);
}

long BytesAvailable(socket_t s) {
    if (NotASocket(s)) return -1;
    int n = 0;
    if (::ioctl(s, FIONREAD, &n) != 0) return -1;
    return n;
}

namespace {

int Wait(socket_t s, short events, int timeoutMs) {
    // A signal (the close request) interrupts the wait; the caller sees EINTR and decides.
    if (NotASocket(s)) return -1;
    pollfd p{s, events, 0};
    const int r = ::poll(&p, 1, timeoutMs);
    return r > 0 ? 1 : r;
}

}  // namespace

int WaitReadable(socket_t s, int timeoutMs) {
    return Wait(s, POLLIN, timeoutMs);
}
int WaitWritable(socket_t s, int timeoutMs) {
    return Wait(s, POLLOUT, timeoutMs);
}

socket_t CreateTcpSocketIPv4() {
    return ::socket(AF_INET, SOCK_STREAM, 0);
}

int ResolveIPv4(const std::string& host, std::uint32_t& address) {
    in_addr dotted{};
    if (::inet_pton(AF_INET, host.c_str(), &dotted) == 1) {
        address = dotted.s_addr;
        return 0;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (rc != 0) return rc;
    address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(found);
    return 0;
}

int ConnectIPv4(socket_t s, std::uint32_t address, std::uint16_t port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = address;
    return ::connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

int SetNoDelay(socket_t s, bool on) {
    const int value = on ? 1 : 0;
    return ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &value, sizeof value);
}

int SetKeepAlive(socket_t s, bool on) {
    const int value = on ? 1 : 0;
    return ::setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, &value, sizeof value);
}

int ShutdownSend(socket_t s) {
    return ::shutdown(s, SHUT_WR);
}

int PendingError(socket_t s) {
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return errno;
    return error;
}

int SetTimeoutOption(socket_t s, bool receive, int timeoutMs) {
    timeval tv{};
    tv.tv_sec = timeoutMs / 1000;
    tv.tv_usec = (timeoutMs % 1000) * 1000;
    return ::setsockopt(s, SOL_SOCKET, receive ? SO_RCVTIMEO : SO_SNDTIMEO, &tv, sizeof tv);
}

// --- Addresses of either family ---

using namespace detail;

std::string NumericHost(const SocketAddress& address) {
    if (FamilyOf(address) == AddressFamily::None) return std::string();
    char host[NI_MAXHOST] = "";
    if (::getnameinfo(AsSockaddr(address), AddressLength(address), host, sizeof host, nullptr, 0,
                      NI_NUMERICHOST) != 0)
        return std::string();
    return host;
}

int ResolveAddress(const std::string& host, const std::string& port, AddressFamily family,
                   bool passive, SocketAddress& address) {
    address = SocketAddress{};
    addrinfo hints{};
    hints.ai_family = ToAf(family);
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    if (host.empty() && passive) hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    const int rc =
        ::getaddrinfo(host.empty() ? nullptr : host.c_str(), port.c_str(), &hints, &found);
    if (rc == 0 && found != nullptr)
        std::memcpy(address.storage, found->ai_addr,
                    std::min<std::size_t>(found->ai_addrlen, sizeof address.storage));
    if (found != nullptr) ::freeaddrinfo(found);
    return rc;
}

socket_t CreateTcpSocket(AddressFamily family) {
    return ::socket(ToAf(family), SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
}

int Bind(socket_t s, const SocketAddress& address) {
    return ::bind(s, AsSockaddr(address), AddressLength(address));
}

int Connect(socket_t s, const SocketAddress& address) {
    return ::connect(s, AsSockaddr(address), AddressLength(address));
}

int LocalAddress(socket_t s, SocketAddress& address) {
    address = SocketAddress{};
    socklen_t len = sizeof address.storage;
    return ::getsockname(s, AsSockaddr(address), &len);
}

int PeerAddress(socket_t s, SocketAddress& address) {
    address = SocketAddress{};
    socklen_t len = sizeof address.storage;
    return ::getpeername(s, AsSockaddr(address), &len);
}

int SetSocketOption(socket_t s, SocketOption option, bool ipv6, bool enabled, int value) {
    const auto [level, name] = OptionName(option, ipv6);
    if (option == SocketOption::Linger) {
        linger l{};
        l.l_onoff = enabled ? 1 : 0;
        l.l_linger = value;
        return ::setsockopt(s, level, name, &l, sizeof l);
    }
    const int v = IsFlagOption(option) ? (enabled ? 1 : 0) : value;
    return ::setsockopt(s, level, name, &v, sizeof v);
}

int GetSocketOption(socket_t s, SocketOption option, int& value) {
    const auto [level, name] = OptionName(option, false);
    socklen_t len = sizeof value;
    return ::getsockopt(s, level, name, &value, &len);
}

}  // namespace platform::net
