// POSIX sockets behind the portable socket interface.
#include "platform/net.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
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
            return WSAEINTR;
        case EBADF:
            return WSAEBADF;
        case EACCES:
            return WSAEACCES;
        case EFAULT:
            return WSAEFAULT;
        case EINVAL:
            return WSAEINVAL;
        case EMFILE:
            return WSAEMFILE;
#if EAGAIN != EWOULDBLOCK
        case EAGAIN:
#endif
        case EWOULDBLOCK:
            return WSAEWOULDBLOCK;
        case EINPROGRESS:
            return WSAEINPROGRESS;
        case EALREADY:
            return WSAEALREADY;
        case ENOTSOCK:
            return WSAENOTSOCK;
        case EDESTADDRREQ:
            return WSAEDESTADDRREQ;
        case EMSGSIZE:
            return WSAEMSGSIZE;
        case EPROTOTYPE:
            return WSAEPROTOTYPE;
        case ENOPROTOOPT:
            return WSAENOPROTOOPT;
        case EPROTONOSUPPORT:
            return WSAEPROTONOSUPPORT;
        case ESOCKTNOSUPPORT:
            return WSAESOCKTNOSUPPORT;
        case EOPNOTSUPP:
            return WSAEOPNOTSUPP;
        case EPFNOSUPPORT:
            return WSAEPFNOSUPPORT;
        case EAFNOSUPPORT:
            return WSAEAFNOSUPPORT;
        case EADDRINUSE:
            return WSAEADDRINUSE;
        case EADDRNOTAVAIL:
            return WSAEADDRNOTAVAIL;
        case ENETDOWN:
            return WSAENETDOWN;
        case ENETUNREACH:
            return WSAENETUNREACH;
        case ENETRESET:
            return WSAENETRESET;
        case ECONNABORTED:
            return WSAECONNABORTED;
        case EPIPE:
        case ECONNRESET:
            return WSAECONNRESET;
        case ENOBUFS:
        case ENOMEM:
            return WSAENOBUFS;
        case EISCONN:
            return WSAEISCONN;
        case ENOTCONN:
            return WSAENOTCONN;
        case ESHUTDOWN:
            return WSAESHUTDOWN;
        case ETOOMANYREFS:
            return WSAETOOMANYREFS;
        case ETIMEDOUT:
            return WSAETIMEDOUT;
        case ECONNREFUSED:
            return WSAECONNREFUSED;
        case ELOOP:
            return WSAELOOP;
        case ENAMETOOLONG:
            return WSAENAMETOOLONG;
        case EHOSTDOWN:
            return WSAEHOSTDOWN;
        case EHOSTUNREACH:
            return WSAEHOSTUNREACH;
        default:
            return e;
    }
}

int ResolveErrorToWinsock(int gaiError) {
    switch (gaiError) {
        case 0:
            return 0;
        case EAI_AGAIN:
            return WSATRY_AGAIN;
        case EAI_FAIL:
            return WSANO_RECOVERY;
        case EAI_FAMILY:
            return WSAEAFNOSUPPORT;
        case EAI_MEMORY:
            return WSAENOBUFS;
        case EAI_SERVICE:
            return WSATYPE_NOT_FOUND;
        case EAI_SOCKTYPE:
            return WSAESOCKTNOSUPPORT;
        case EAI_SYSTEM:
            return ToWinsockError(errno);
        case EAI_NONAME:
        default:
            return WSAHOST_NOT_FOUND;
    }
}

std::string ErrorText(int platformError) {
    return std::strerror(platformError);
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

}  // namespace platform::net
