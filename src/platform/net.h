// Socket portability: the BSD socket calls under their usual names, plus the few
// operations whose spelling differs between Winsock and POSIX. Error codes come in two
// forms: the platform's own (errno here), and the Winsock numbers (10035, 10060, 10061,
// ...) that the socket layers report.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/types.h>
#endif

namespace platform::net {

#if defined(_WIN32)
using socket_t = SOCKET;
inline constexpr socket_t kInvalidSocket = INVALID_SOCKET;
#else
using socket_t = int;
inline constexpr socket_t kInvalidSocket = -1;
#endif

// Winsock error numbers used by the socket layers.
enum WinsockError : int {
    WSAEINTR = 10004,
    WSAEBADF = 10009,
    WSAEACCES = 10013,
    WSAEFAULT = 10014,
    WSAEINVAL = 10022,
    WSAEMFILE = 10024,
    WSAEWOULDBLOCK = 10035,
    WSAEINPROGRESS = 10036,
    WSAEALREADY = 10037,
    WSAENOTSOCK = 10038,
    WSAEDESTADDRREQ = 10039,
    WSAEMSGSIZE = 10040,
    WSAEPROTOTYPE = 10041,
    WSAENOPROTOOPT = 10042,
    WSAEPROTONOSUPPORT = 10043,
    WSAESOCKTNOSUPPORT = 10044,
    WSAEOPNOTSUPP = 10045,
    WSAEPFNOSUPPORT = 10046,
    WSAEAFNOSUPPORT = 10047,
    WSAEADDRINUSE = 10048,
    WSAEADDRNOTAVAIL = 10049,
    WSAENETDOWN = 10050,
    WSAENETUNREACH = 10051,
    WSAENETRESET = 10052,
    WSAECONNABORTED = 10053,
    WSAECONNRESET = 10054,
    WSAENOBUFS = 10055,
    WSAEISCONN = 10056,
    WSAENOTCONN = 10057,
    WSAESHUTDOWN = 10058,
    WSAETOOMANYREFS = 10059,
    WSAETIMEDOUT = 10060,
    WSAECONNREFUSED = 10061,
    WSAELOOP = 10062,
    WSAENAMETOOLONG = 10063,
    WSAEHOSTDOWN = 10064,
    WSAEHOSTUNREACH = 10065,
    WSATYPE_NOT_FOUND = 10109,
    WSAHOST_NOT_FOUND = 11001,
    WSATRY_AGAIN = 11002,
    WSANO_RECOVERY = 11003,
    WSANO_DATA = 11004,
};

// Process-wide start of the socket library (idempotent, thread-safe). On POSIX it makes
// a closed peer an error of send() rather than a signal.
bool Startup();

// The platform's own code of the last socket failure of this thread.
int LastError();
// Sets the thread's last socket error (used to report a failure found without a call).
void SetLastError(int platformError);
// The Winsock number for a platform code (identity on Windows).
int ToWinsockError(int platformError);
// The Winsock number for a getaddrinfo() result code.
int ResolveErrorToWinsock(int gaiError);
// The platform's text for its own code.
std::string ErrorText(int platformError);

int CloseSocket(socket_t s);
// Switches non-blocking mode; 0 on success.
int SetNonBlocking(socket_t s, bool nonBlocking);
// send() that never raises a signal; returns bytes sent or -1.
long Send(socket_t s, const void* data, std::size_t size);
// recv(); returns bytes received, 0 at the end of the stream, -1 on failure.
long Recv(socket_t s, void* data, std::size_t size);
// Bytes that can be read without blocking, -1 on failure.
long BytesAvailable(socket_t s);
// Waits at most `timeoutMs` (-1 = no limit) for the socket to become readable or
// writable: 1 ready, 0 time-out, -1 failure (LastError() tells).
int WaitReadable(socket_t s, int timeoutMs);
int WaitWritable(socket_t s, int timeoutMs);

// An IPv4 stream socket; kInvalidSocket on failure (LastError() tells).
socket_t CreateTcpSocketIPv4();
// IPv4 address (network byte order) of `host`: a dotted address is taken as is, else the
// first address of a name lookup. 0 on success, else the resolver's own result code.
int ResolveIPv4(const std::string& host, std::uint32_t& address);
// connect() to an IPv4 address (network byte order) and port; 0, or -1 with LastError().
int ConnectIPv4(socket_t s, std::uint32_t address, std::uint16_t port);
// TCP_NODELAY and SO_KEEPALIVE; 0 on success.
int SetNoDelay(socket_t s, bool on);
int SetKeepAlive(socket_t s, bool on);
// Ends the sending direction (the peer reads the end of the stream).
int ShutdownSend(socket_t s);
// The failure pending on a socket (SO_ERROR), e.g. of a connect that went on in the
// background; 0 when none.
int PendingError(socket_t s);
// The system's receive or send time-out in milliseconds (0 = none); 0 on success.
int SetTimeoutOption(socket_t s, bool receive, int timeoutMs);

}  // namespace platform::net
