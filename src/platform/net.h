// Socket portability: the socket operations the transports need, with the system's
// headers kept inside the backend. Error codes come in two
// forms: the platform's own (errno here), and the Winsock numbers (10035, 10060, 10061,
// ...) that the socket layers report.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform::net {

// The system's socket handle; the system headers stay inside the backend.
#if defined(_WIN32)
using socket_t = std::uintptr_t;
inline constexpr socket_t kInvalidSocket = ~socket_t{0};
#else
using socket_t = int;
inline constexpr socket_t kInvalidSocket = -1;
#endif

// Winsock error numbers used by the socket layers.
enum WinsockError : int {
    wsaEINTR = 10004,
    wsaEBADF = 10009,
    wsaEACCES = 10013,
    wsaEFAULT = 10014,
    wsaEINVAL = 10022,
    wsaEMFILE = 10024,
    wsaEWOULDBLOCK = 10035,
    wsaEINPROGRESS = 10036,
    wsaEALREADY = 10037,
    wsaENOTSOCK = 10038,
    wsaEDESTADDRREQ = 10039,
    wsaEMSGSIZE = 10040,
    wsaEPROTOTYPE = 10041,
    wsaENOPROTOOPT = 10042,
    wsaEPROTONOSUPPORT = 10043,
    wsaESOCKTNOSUPPORT = 10044,
    wsaEOPNOTSUPP = 10045,
    wsaEPFNOSUPPORT = 10046,
    wsaEAFNOSUPPORT = 10047,
    wsaEADDRINUSE = 10048,
    wsaEADDRNOTAVAIL = 10049,
    wsaENETDOWN = 10050,
    wsaENETUNREACH = 10051,
    wsaENETRESET = 10052,
    wsaECONNABORTED = 10053,
    wsaECONNRESET = 10054,
    wsaENOBUFS = 10055,
    wsaEISCONN = 10056,
    wsaENOTCONN = 10057,
    wsaESHUTDOWN = 10058,
    wsaETOOMANYREFS = 10059,
    wsaETIMEDOUT = 10060,
    wsaECONNREFUSED = 10061,
    wsaELOOP = 10062,
    wsaENAMETOOLONG = 10063,
    wsaEHOSTDOWN = 10064,
    wsaEHOSTUNREACH = 10065,
    wsaTYPE_NOT_FOUND = 10109,
    wsaHOST_NOT_FOUND = 11001,
    wsaTRY_AGAIN = 11002,
    wsaNO_RECOVERY = 11003,
    wsaNO_DATA = 11004,
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
// The platform's own codes for a wait that ran out and for what the platform lacks.
int TimedOutError();
int NotSupportedError();

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

// --- Addresses of either family, for the download client's socket ---

enum class AddressFamily { None, IPv4, IPv6 };

// A socket address in the system's own layout, opaque to portable code.
struct SocketAddress {
    alignas(8) unsigned char storage[128] = {};
};

AddressFamily FamilyOf(const SocketAddress& address);
// The numeric host ("127.0.0.1", "::1"); empty when the address has no family.
std::string NumericHost(const SocketAddress& address);
int PortOf(const SocketAddress& address);

// The first TCP address of `host` and `port` in `family`. An empty host gives the
// family's any-address when `passive` (for a bind), else its loopback address. 0 on
// success, else the resolver's own result code (see ResolveErrorToWinsock).
int ResolveAddress(const std::string& host, const std::string& port, AddressFamily family,
                   bool passive, SocketAddress& address);
// A TCP stream socket of the family; kInvalidSocket on failure (LastError() tells).
socket_t CreateTcpSocket(AddressFamily family);
// 0, or -1 with LastError().
int Bind(socket_t s, const SocketAddress& address);
int Connect(socket_t s, const SocketAddress& address);
// The socket's own and its peer's address; 0, or -1 with LastError().
int LocalAddress(socket_t s, SocketAddress& address);
int PeerAddress(socket_t s, SocketAddress& address);

enum class SocketOption {
    Linger,         // value: seconds, enabled: on or off
    RecvBuffer,     // value: bytes
    SendBuffer,     // value: bytes
    ReuseAddress,   // enabled
    Broadcast,      // enabled
    Ttl,            // value: hops (of the socket's family)
    MulticastTtl,   // value: hops
    MulticastLoop,  // enabled
};
// 0, or -1 with LastError().
int SetSocketOption(socket_t s, SocketOption option, bool ipv6, bool enabled, int value);
// An integer option (the buffer sizes); 0, or -1 with LastError().
int GetSocketOption(socket_t s, SocketOption option, int& value);

}  // namespace platform::net
