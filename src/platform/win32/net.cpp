// Windows Sockets, loaded by name from ws2_32.dll at the first start-up (with the
// address-information functions from wship6.dll when ws2_32.dll lacks them), and started
// for version 2.2. Error codes are the Winsock numbers themselves.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>
#include <mutex>

#include "platform/dynlib.h"
#include "platform/net.h"
#include "platform/netaddress.h"
#include "platform/text.h"
#include "platform/win32/wide.h"

namespace platform::net {

namespace {

struct Winsock {
    DynamicLibrary library;
    DynamicLibrary ipv6Library;
    decltype(&::WSAStartup) WSAStartup = nullptr;
    decltype(&::WSAGetLastError) WSAGetLastError = nullptr;
    decltype(&::WSASetLastError) WSASetLastError = nullptr;
    decltype(&::socket) socket = nullptr;
    decltype(&::closesocket) closesocket = nullptr;
    decltype(&::ioctlsocket) ioctlsocket = nullptr;
    decltype(&::send) send = nullptr;
    decltype(&::recv) recv = nullptr;
    decltype(&::select) select = nullptr;
    decltype(&::connect) connect = nullptr;
    decltype(&::bind) bind = nullptr;
    decltype(&::getsockname) getsockname = nullptr;
    decltype(&::getpeername) getpeername = nullptr;
    decltype(&::setsockopt) setsockopt = nullptr;
    decltype(&::getsockopt) getsockopt = nullptr;
    decltype(&::shutdown) shutdown = nullptr;
    decltype(&::inet_addr) inet_addr = nullptr;
    decltype(&::gethostbyname) gethostbyname = nullptr;
    decltype(&::getaddrinfo) getaddrinfo = nullptr;
    decltype(&::freeaddrinfo) freeaddrinfo = nullptr;
    decltype(&::getnameinfo) getnameinfo = nullptr;
    bool started = false;
};

Winsock& Api() {
    static Winsock winsock;
    return winsock;
}

bool LoadWinsock(Winsock& w) {
    if (!w.library.Load("ws2_32.dll")) return false;
    const DynamicLibrary& l = w.library;
    const bool all = l.Find(w.WSAStartup, "WSAStartup") &&
                     l.Find(w.WSAGetLastError, "WSAGetLastError") &&
                     l.Find(w.WSASetLastError, "WSASetLastError") && l.Find(w.socket, "socket") &&
                     l.Find(w.closesocket, "closesocket") && l.Find(w.ioctlsocket, "ioctlsocket") &&
                     l.Find(w.send, "send") && l.Find(w.recv, "recv") &&
                     l.Find(w.select, "select") && l.Find(w.connect, "connect") &&
                     l.Find(w.bind, "bind") && l.Find(w.getsockname, "getsockname") &&
                     l.Find(w.getpeername, "getpeername") && l.Find(w.setsockopt, "setsockopt") &&
                     l.Find(w.getsockopt, "getsockopt") && l.Find(w.shutdown, "shutdown") &&
                     l.Find(w.inet_addr, "inet_addr") && l.Find(w.gethostbyname, "gethostbyname");
    if (!all) return false;
    // Without the address-information functions, lookups are IPv4 only.
    const auto lookups = [&](const DynamicLibrary& from) {
        return from.Find(w.getaddrinfo, "getaddrinfo") &&
               from.Find(w.freeaddrinfo, "freeaddrinfo") && from.Find(w.getnameinfo, "getnameinfo");
    };
    if (!lookups(w.library) && !(w.ipv6Library.Load("wship6.dll") && lookups(w.ipv6Library))) {
        w.getaddrinfo = nullptr;
        w.freeaddrinfo = nullptr;
        w.getnameinfo = nullptr;
    }
    WSADATA data{};
    w.started = w.WSAStartup(MAKEWORD(2, 2), &data) == 0;
    return w.started;
}

SOCKET Sock(socket_t s) {
    return static_cast<SOCKET>(s);
}

// A port between host and network byte order (the same swap both ways).
u_short SwapBytes(u_short port) {
    return static_cast<u_short>((port >> 8) | (port << 8));
}

// The resolver's functions take host names in the ANSI code page. A name the page cannot
// hold has no such form and is not looked up.
bool AnsiHostName(const std::string& host, std::string& ansi) {
    try {
        ansi = text::Utf8ToAnsi(host);
        return true;
    } catch (const text::EAnsiConversionError&) {
        return false;
    }
}

}  // namespace

bool Startup() {
    static std::mutex lock;
    static bool loaded = false;
    std::lock_guard<std::mutex> guard(lock);
    if (!loaded) loaded = LoadWinsock(Api());
    return loaded;
}

int LastError() {
    return Api().WSAGetLastError != nullptr ? Api().WSAGetLastError() : WSANOTINITIALISED;
}

void SetLastError(int platformError) {
    if (Api().WSASetLastError != nullptr) Api().WSASetLastError(platformError);
}

int ToWinsockError(int platformError) {
    return platformError;
}

int ResolveErrorToWinsock(int gaiError) {
    return gaiError;
}

std::string ErrorText(int platformError) {
    return win32::SystemErrorText(static_cast<unsigned long>(platformError));
}

int TimedOutError() {
    return WSAETIMEDOUT;
}

int NotSupportedError() {
    return WSAEOPNOTSUPP;
}

int CloseSocket(socket_t s) {
    return Api().closesocket(Sock(s));
}

int SetNonBlocking(socket_t s, bool nonBlocking) {
    u_long mode = nonBlocking ? 1 : 0;
    return Api().ioctlsocket(Sock(s), FIONBIO, &mode);
}

long Send(socket_t s, const void* data, std::size_t size) {
    const int n = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(size);
    return Api().send(Sock(s), static_cast<const char*>(data), n, 0);
}

long Recv(socket_t s, void* data, std::size_t size) {
    const int n = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(size);
    return Api().recv(Sock(s), static_cast<char*>(data), n, 0);
}

long BytesAvailable(socket_t s) {
    u_long n = 0;
    if (Api().ioctlsocket(Sock(s), FIONREAD, &n) != 0) return -1;
    return static_cast<long>(n);
}

namespace {

int Wait(socket_t s, bool writable, int timeoutMs) {
    if (s == kInvalidSocket) {
        SetLastError(WSAENOTSOCK);
        return -1;
    }
    fd_set set;
    FD_ZERO(&set);
    FD_SET(Sock(s), &set);
    fd_set failed;
    FD_ZERO(&failed);
    FD_SET(Sock(s), &failed);
    timeval tv{};
    tv.tv_sec = timeoutMs / 1000;
    tv.tv_usec = (timeoutMs % 1000) * 1000;
    // A failed background connect shows in the except set only, not as readable or
    // writable: it ends the wait too, and the socket's pending error tells.
    const int r = Api().select(0, writable ? nullptr : &set, writable ? &set : nullptr, &failed,
                               timeoutMs < 0 ? nullptr : &tv);
    return r > 0 ? 1 : r;
}

}  // namespace

int WaitReadable(socket_t s, int timeoutMs) {
    return Wait(s, false, timeoutMs);
}
int WaitWritable(socket_t s, int timeoutMs) {
    return Wait(s, true, timeoutMs);
}

socket_t CreateTcpSocketIPv4() {
    return static_cast<socket_t>(Api().socket(AF_INET, SOCK_STREAM, 0));
}

int ResolveIPv4(const std::string& utf8Host, std::uint32_t& address) {
    std::string host;
    if (!AnsiHostName(utf8Host, host)) return WSAHOST_NOT_FOUND;
    const unsigned long dotted = Api().inet_addr(host.c_str());
    if (dotted != INADDR_NONE || host == "255.255.255.255") {
        address = dotted;
        return 0;
    }
    const hostent* entry = Api().gethostbyname(host.c_str());
    if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_addr_list[0] == nullptr)
        return LastError() != 0 ? LastError() : WSAHOST_NOT_FOUND;
    std::memcpy(&address, entry->h_addr_list[0], sizeof address);
    return 0;
}

int ConnectIPv4(socket_t s, std::uint32_t address, std::uint16_t port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = SwapBytes(port);
    to.sin_addr.s_addr = address;
    return Api().connect(Sock(s), reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

int SetNoDelay(socket_t s, bool on) {
    const BOOL value = on ? TRUE : FALSE;
    return Api().setsockopt(Sock(s), IPPROTO_TCP, TCP_NODELAY,
                            reinterpret_cast<const char*>(&value), sizeof value);
}

int SetKeepAlive(socket_t s, bool on) {
    const BOOL value = on ? TRUE : FALSE;
    return Api().setsockopt(Sock(s), SOL_SOCKET, SO_KEEPALIVE,
                            reinterpret_cast<const char*>(&value), sizeof value);
}

int ShutdownSend(socket_t s) {
    return Api().shutdown(Sock(s), SD_SEND);
}

int PendingError(socket_t s) {
    int error = 0;
    int size = sizeof error;
    if (Api().getsockopt(Sock(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) !=
        0)
        return LastError();
    return error;
}

int SetTimeoutOption(socket_t s, bool receive, int timeoutMs) {
    const DWORD value = static_cast<DWORD>(timeoutMs);
    return Api().setsockopt(Sock(s), SOL_SOCKET, receive ? SO_RCVTIMEO : SO_SNDTIMEO,
                            reinterpret_cast<const char*>(&value), sizeof value);
}

// --- Addresses of either family ---

using namespace detail;

std::string NumericHost(const SocketAddress& address) {
    const AddressFamily family = FamilyOf(address);
    if (family == AddressFamily::None) return std::string();
    if (Api().getnameinfo == nullptr) {
        if (family != AddressFamily::IPv4) return std::string();
        const auto* in = reinterpret_cast<const sockaddr_in*>(address.storage);
        const auto* b = reinterpret_cast<const unsigned char*>(&in->sin_addr);
        return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) +
               "." + std::to_string(b[3]);
    }
    char host[NI_MAXHOST] = "";
    if (Api().getnameinfo(AsSockaddr(address), AddressLength(address), host, sizeof host, nullptr,
                          0, NI_NUMERICHOST) != 0)
        return std::string();
    return host;
}

int ResolveAddress(const std::string& host, const std::string& port, AddressFamily family,
                   bool passive, SocketAddress& address) {
    address = SocketAddress{};
    if (Api().getaddrinfo == nullptr) {
        // IPv4 only, through the old resolver.
        if (family != AddressFamily::IPv4) return WSAEAFNOSUPPORT;
        auto* in = reinterpret_cast<sockaddr_in*>(address.storage);
        in->sin_family = AF_INET;
        const unsigned long number = std::strtoul(port.c_str(), nullptr, 10);
        in->sin_port = SwapBytes(static_cast<u_short>(number));
        std::uint32_t ip = passive ? INADDR_ANY : 0x0100007F;  // 127.0.0.1 in network order
        if (!host.empty()) {
            if (const int rc = ResolveIPv4(host, ip); rc != 0) {
                address = SocketAddress{};
                return rc;
            }
        }
        in->sin_addr.s_addr = ip;
        return 0;
    }
    addrinfo hints{};
    hints.ai_family = ToAf(family);
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    if (host.empty() && passive) hints.ai_flags = AI_PASSIVE;
    std::string ansiHost;
    if (!AnsiHostName(host, ansiHost)) return WSAHOST_NOT_FOUND;
    addrinfo* found = nullptr;
    const int rc = Api().getaddrinfo(ansiHost.empty() ? nullptr : ansiHost.c_str(), port.c_str(),
                                     &hints, &found);
    if (rc == 0 && found != nullptr) {
        const std::size_t n =
            found->ai_addrlen < sizeof address.storage ? found->ai_addrlen : sizeof address.storage;
        std::memcpy(address.storage, found->ai_addr, n);
    }
    if (found != nullptr) Api().freeaddrinfo(found);
    return rc;
}

socket_t CreateTcpSocket(AddressFamily family) {
    return static_cast<socket_t>(Api().socket(ToAf(family), SOCK_STREAM, IPPROTO_TCP));
}

int Bind(socket_t s, const SocketAddress& address) {
    return Api().bind(Sock(s), AsSockaddr(address), AddressLength(address));
}

int Connect(socket_t s, const SocketAddress& address) {
    return Api().connect(Sock(s), AsSockaddr(address), AddressLength(address));
}

int LocalAddress(socket_t s, SocketAddress& address) {
    address = SocketAddress{};
    int len = sizeof address.storage;
    return Api().getsockname(Sock(s), AsSockaddr(address), &len);
}

int PeerAddress(socket_t s, SocketAddress& address) {
    address = SocketAddress{};
    int len = sizeof address.storage;
    return Api().getpeername(Sock(s), AsSockaddr(address), &len);
}

int SetSocketOption(socket_t s, SocketOption option, bool ipv6, bool enabled, int value) {
    const OptionKey key = OptionName(option, ipv6);
    if (option == SocketOption::Linger) {
        linger l{};
        l.l_onoff = enabled ? 1 : 0;
        l.l_linger = static_cast<u_short>(value);
        return Api().setsockopt(Sock(s), key.level, key.name, reinterpret_cast<const char*>(&l),
                                sizeof l);
    }
    const int v = IsFlagOption(option) ? (enabled ? 1 : 0) : value;
    return Api().setsockopt(Sock(s), key.level, key.name, reinterpret_cast<const char*>(&v),
                            sizeof v);
}

int GetSocketOption(socket_t s, SocketOption option, int& value) {
    const OptionKey key = OptionName(option, false);
    int len = sizeof value;
    return Api().getsockopt(Sock(s), key.level, key.name, reinterpret_cast<char*>(&value), &len);
}

}  // namespace platform::net
