#include "download/BlockingSocket.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "download/NetUtil.h"

namespace download {

namespace net = platform::net;
using Clock = std::chrono::steady_clock;

namespace {

std::string SinIP(const net::SocketAddress& sin) {
    const std::string host = net::NumericHost(sin);
    return host.empty() ? "0.0.0.0" : host;
}

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// The most a close drains from the connection before it lets go (a server that keeps
// sending must not hold the close).
constexpr std::size_t kMaxPurgeBytes = 256 * 1024;

}  // namespace

// ---------------------------------------------------------------------------------------
// TBlockingSocket

TBlockingSocket::TBlockingSocket() {
    if (!net::Startup()) {
        throw ESocketError(0, "", "Error loading Socket interface (ws2_32.dll)!");
    }
}

TBlockingSocket::~TBlockingSocket() {
    if (FSocket != net::kInvalidSocket) net::CloseSocket(FSocket);
}

void TBlockingSocket::DoStatus(TSocketHookReason reason, const std::string& value) {
    if (OnStatus) OnStatus(*this, reason, value);
}

void TBlockingSocket::DoMonitor(bool writing, const void* buffer, std::int32_t len) {
    if (OnMonitor) OnMonitor(*this, writing, buffer, len);
}

void TBlockingSocket::SetLastError(int code) {
    FLastError = code;
}

void TBlockingSocket::ResetLastError() {
    FLastError = 0;
    FLastErrorDesc.clear();
}

int TBlockingSocket::SockCheck(long result) {
    ResetLastError();
    if (result == -1) {
        FLastError = net::ToWinsockError(net::LastError());
        FLastErrorDesc = GetErrorDescEx();
    }
    return FLastError;
}

std::string TBlockingSocket::GetErrorDescEx() {
    return GetErrorDesc(FLastError);
}

void TBlockingSocket::ExceptCheck() {
    FLastErrorDesc = GetErrorDescEx();
    if (FLastError == 0 || FLastError == net::wsaEWOULDBLOCK || FLastError == net::wsaEINPROGRESS)
        return;
    DoStatus(hrError, std::to_string(FLastError) + "," + FLastErrorDesc);
    if (FRaiseExcept) {
        throw ESocketError(
            FLastError, FLastErrorDesc,
            "TCP/IP Socket error " + std::to_string(FLastError) + ": " + FLastErrorDesc);
    }
}

bool TBlockingSocket::TestStopFlag() {
    if (FHeartbeatRate != 0 && OnHeartbeat) OnHeartbeat(*this);
    if (!FStopFlag.exchange(false)) return true;
    FLastError = net::wsaECONNABORTED;
    ExceptCheck();
    return false;
}

// --- Resolving and creating -------------------------------------------------------------

bool TBlockingSocket::SetSin(net::SocketAddress& address, const std::string& ip,
                             const std::string& port) {
    DoStatus(hrResolvingBegin, ip + ":" + port);
    ResetLastError();
    address = net::SocketAddress{};

    TSocketFamily family = FFamily;
    if (FSocket != net::kInvalidSocket) {
        // An open socket can only reach addresses of its own family.
        family = FIP6used ? famIP6 : famIP4;
    } else if (family == famAny) {
        if (IsIP4(ip))
            family = famIP4;
        else if (IsIP6(ip))
            family = famIP6;
    }

    const auto lookup = [&](net::AddressFamily af) {
        // The any-address is a passive (bind) address of the family; the loopback
        // addresses are the family's own, without a lookup.
        const bool any = ip == "0.0.0.0" || ip == "::0";
        const bool loopback = ip == "127.0.0.1" || ip == "::1";
        return net::ResolveAddress(any || loopback ? std::string() : ip, port, af, any, address);
    };

    int rc = 0;
    if (family == famIP4) {
        rc = lookup(net::AddressFamily::IPv4);
    } else if (family == famIP6) {
        rc = lookup(net::AddressFamily::IPv6);
    } else {
        const auto first = FPreferIP4 ? net::AddressFamily::IPv4 : net::AddressFamily::IPv6;
        rc = lookup(first);
        if (rc != 0)
            rc = lookup(first == net::AddressFamily::IPv4 ? net::AddressFamily::IPv6
                                                          : net::AddressFamily::IPv4);
    }
    FLastError = net::ResolveErrorToWinsock(rc);
    DoStatus(hrResolvingEnd, SinIP(address) + ":" + std::to_string(net::PortOf(address)));
    return FLastError == 0;
}

void TBlockingSocket::CreateSocketByAddress(const net::SocketAddress& address) {
    FStopFlag = false;
    FRecvCounter = 0;
    FSendCounter = 0;
    ResetLastError();
    if (FSocket != net::kInvalidSocket) return;
    FBuffer.clear();
    FBinded = false;
    FIP6used = net::FamilyOf(address) == net::AddressFamily::IPv6;
    FSocket = net::CreateTcpSocket(FIP6used ? net::AddressFamily::IPv6 : net::AddressFamily::IPv4);
    if (FSocket == net::kInvalidSocket) FLastError = net::ToWinsockError(net::LastError());
    ExceptCheck();
    DoStatus(hrSocketCreate, FIP6used ? "IPv6" : "IPv4");
    if (FSocket == net::kInvalidSocket) return;
    // Oldest first: the list holds the newest at its front.
    std::vector<TSocketOption> pending;
    pending.swap(FDelayedOptions);
    for (auto it = pending.rbegin(); it != pending.rend(); ++it) ApplyOption(*it);
    ResetLastError();  // an option the system refuses does not stop the connection
    if (OnCreateSocket) OnCreateSocket(*this);
}

// --- Options ------------------------------------------------------------------------------

void TBlockingSocket::SetDelayedOption(const TSocketOption& option) {
    if (FSocket == net::kInvalidSocket) {
        FDelayedOptions.insert(FDelayedOptions.begin(), option);
    } else {
        ApplyOption(option);
    }
}

void TBlockingSocket::ApplyOption(const TSocketOption& option) {
    const auto set = [&](net::SocketOption name) {
        SockCheck(net::SetSocketOption(FSocket, name, FIP6used, option.Enabled, option.Value));
    };
    switch (option.Option) {
        case sotLinger:
            SockCheck(net::SetSocketOption(FSocket, net::SocketOption::Linger, FIP6used,
                                           option.Enabled, option.Value / 1000));
            break;
        case sotRecvBuff:
            set(net::SocketOption::RecvBuffer);
            break;
        case sotSendBuff:
            set(net::SocketOption::SendBuffer);
            break;
        case sotNonBlock:
            FNonBlockMode = option.Enabled;
            SockCheck(net::SetNonBlocking(FSocket, option.Enabled) == 0 ? 0 : -1);
            break;
        case sotRecvTimeout:
            SockCheck(net::SetTimeoutOption(FSocket, true, option.Value) == 0 ? 0 : -1);
            break;
        case sotSendTimeout:
            SockCheck(net::SetTimeoutOption(FSocket, false, option.Value) == 0 ? 0 : -1);
            break;
        case sotReuse:
            set(net::SocketOption::ReuseAddress);
            break;
        case sotBroadcast:
            set(net::SocketOption::Broadcast);
            break;
        case sotTTL:
            set(net::SocketOption::Ttl);
            break;
        case sotMulticastTTL:
            set(net::SocketOption::MulticastTtl);
            break;
        case sotMulticastLoop:
            set(net::SocketOption::MulticastLoop);
            break;
    }
    ExceptCheck();
}

std::int32_t TBlockingSocket::SizeRecvBuffer() const {
    int value = 0;
    if (net::GetSocketOption(FSocket, net::SocketOption::RecvBuffer, value) != 0) return 1024;
    return value;
}

void TBlockingSocket::SetSizeRecvBuffer(std::int32_t size) {
    SetDelayedOption({sotRecvBuff, false, size});
}

std::int32_t TBlockingSocket::SizeSendBuffer() const {
    int value = 0;
    if (net::GetSocketOption(FSocket, net::SocketOption::SendBuffer, value) != 0) return 1024;
    return value;
}

void TBlockingSocket::SetSizeSendBuffer(std::int32_t size) {
    SetDelayedOption({sotSendBuff, false, size});
}

void TBlockingSocket::SetNonBlockMode(bool value) {
    SetDelayedOption({sotNonBlock, value, 0});
}

void TBlockingSocket::SetTimeout(std::int32_t ms) {
    SetDelayedOption({sotRecvTimeout, false, ms});
    SetDelayedOption({sotSendTimeout, false, ms});
}

void TBlockingSocket::SetLinger(bool enable, std::int32_t ms) {
    SetDelayedOption({sotLinger, enable, ms});
}

void TBlockingSocket::SetTTL(std::int32_t ttl) {
    SetDelayedOption({sotTTL, false, ttl});
}

void TBlockingSocket::SetReuse(bool enable) {
    SetDelayedOption({sotReuse, enable, 0});
}

void TBlockingSocket::SetFamily(TSocketFamily family) {
    FFamily = family;
    FFamilySave = family;
}

// --- Bind, connect, close -------------------------------------------------------------------

void TBlockingSocket::ReadAddresses() {
    net::LocalAddress(FSocket, FLocalSin);
    net::PeerAddress(FSocket, FRemoteSin);
}

void TBlockingSocket::Bind(const std::string& ip, const std::string& port) {
    if (FSocket == net::kInvalidSocket && FFamily == famAny && ip == "0.0.0.0" && port == "0")
        return;
    net::SocketAddress sin;
    if (SetSin(sin, ip, port)) {
        if (FSocket == net::kInvalidSocket) CreateSocketByAddress(sin);
        if (FLastError == 0) {
            SockCheck(net::Bind(FSocket, sin));
            net::LocalAddress(FSocket, FLocalSin);
            FBuffer.clear();
            FBinded = true;
        }
    }
    ExceptCheck();
    DoStatus(hrBind, ip + ":" + port);
}

void TBlockingSocket::Connect(const std::string& ip, const std::string& port) {
    ConnectPlain(ip, port);
}

void TBlockingSocket::ConnectPlain(const std::string& ip, const std::string& port) {
    net::SocketAddress sin;
    if (SetSin(sin, ip, port)) {
        if (FSocket == net::kInvalidSocket) CreateSocketByAddress(sin);
        if (FLastError == 0) {
            const auto connectTo = [&] { return SockCheck(net::Connect(FSocket, sin)); };
            if (FConnectionTimeout <= 0) {
                connectTo();
            } else {
                const bool wasNonBlocking = FNonBlockMode;
                net::SetNonBlocking(FSocket, true);
                const int rc = connectTo();
                if (rc == net::wsaEWOULDBLOCK || rc == net::wsaEINPROGRESS) {
                    if (!CanWrite(FConnectionTimeout)) {
                        if (FLastError == 0) FLastError = net::wsaETIMEDOUT;
                    } else {
                        // Writable also after a failed attempt: the socket's pending error tells.
                        FLastError = net::ToWinsockError(net::PendingError(FSocket));
                    }
                }
                net::SetNonBlocking(FSocket, wasNonBlocking);
            }
            if (FLastError == 0) ReadAddresses();
        }
    }
    FBuffer.clear();
    FLastCR = false;
    FLastLF = false;
    ExceptCheck();
    DoStatus(hrConnect, ip + ":" + port);
}

void TBlockingSocket::CloseSocket() {
    AbortSocket();
}

void TBlockingSocket::AbortSocket() {
    if (FSocket != net::kInvalidSocket) net::CloseSocket(FSocket);
    FSocket = net::kInvalidSocket;
    FDelayedOptions.clear();
    FFamily = FFamilySave;
    DoStatus(hrSocketClose, "");
}

// --- Sending ------------------------------------------------------------------------------

void TBlockingSocket::LimitBandwidth(std::int32_t length, std::uint32_t limit,
                                     Clock::time_point& next) {
    if (FStopFlag || limit == 0) return;
    const auto now = Clock::now();
    if (now < next) {
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count();
        DoStatus(hrWait, std::to_string(wait));
        std::this_thread::sleep_for(std::chrono::milliseconds(wait % 250));
        for (wait -= wait % 250; wait > 0 && !FStopFlag; wait -= 250)
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    const double ms = static_cast<double>(length) / limit * 1000.0;
    next = Clock::now() + std::chrono::milliseconds(static_cast<std::int64_t>(ms + 0.5));
}

std::int32_t TBlockingSocket::SendBuffer(const void* buffer, std::int32_t length) {
    ResetLastError();
    if (!TestStopFlag()) return 0;
    DoMonitor(true, buffer, length);
    const auto* bytes = static_cast<const char*>(buffer);
    std::int32_t sent = 0;
    while (sent < length) {
        const std::int32_t piece = std::min(length - sent, FSendMaxChunk);
        LimitBandwidth(piece, FMaxSendBandwidth, FNextSend);
        long r = net::Send(FSocket, bytes + sent, static_cast<std::size_t>(piece));
        SockCheck(r);
        if (FLastError == net::wsaEWOULDBLOCK) {
            if (CanWrite(static_cast<int>(FNonblockSendTimeout))) {
                r = net::Send(FSocket, bytes + sent, static_cast<std::size_t>(piece));
                SockCheck(r);
            } else if (FLastError == 0) {
                FLastError = net::wsaETIMEDOUT;
            }
        }
        if (FLastError != 0 || r <= 0) break;
        sent += static_cast<std::int32_t>(r);
        FSendCounter += r;
        DoStatus(hrWriteCount, std::to_string(r));
    }
    ExceptCheck();
    return sent;
}

void TBlockingSocket::SendString(const std::string& data) {
    SendBuffer(data.data(), static_cast<std::int32_t>(data.size()));
}

// --- Receiving ----------------------------------------------------------------------------

std::int32_t TBlockingSocket::RecvBuffer(void* buffer, std::int32_t length) {
    ResetLastError();
    if (!TestStopFlag()) return 0;
    LimitBandwidth(length, FMaxRecvBandwidth, FNextRecv);
    const long r = net::Recv(FSocket, buffer, static_cast<std::size_t>(length));
    if (r == 0) {
        FLastError = net::wsaECONNRESET;  // the peer closed
    } else {
        SockCheck(r);
    }
    ExceptCheck();
    if (r <= 0) return 0;
    auto n = static_cast<std::int32_t>(r);
    FRecvCounter += n;
    DoStatus(hrReadCount, std::to_string(n));
    DoMonitor(false, buffer, n);
    if (OnReadFilter) {
        std::string value(static_cast<const char*>(buffer), static_cast<std::size_t>(n));
        OnReadFilter(*this, value);
        n = static_cast<std::int32_t>(
            std::min<std::size_t>(value.size(), static_cast<std::size_t>(n)));
        std::memcpy(buffer, value.data(), static_cast<std::size_t>(n));
    }
    return n;
}

std::int32_t TBlockingSocket::WaitingData() {
    const long n = net::BytesAvailable(FSocket);
    if (n < 0) return 0;
    return static_cast<std::int32_t>(std::min<long>(n, 65536));
}

bool TBlockingSocket::WaitReadable(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        const int r = net::WaitReadable(FSocket, timeoutMs);
        if (r > 0) return true;
        if (r == 0) return false;
        // A signal interrupted the wait: wait on for the rest of the time.
        if (net::ToWinsockError(net::LastError()) == net::wsaEINTR && !FStopFlag) {
            if (timeoutMs >= 0) timeoutMs = MillisecondsLeft(deadline);
            continue;
        }
        SockCheck(-1);
        return false;
    }
}

bool TBlockingSocket::CanRead(int timeoutMs) {
    ResetLastError();
    bool ready = false;
    if (FHeartbeatRate != 0 && timeoutMs != -1) {
        const int rate = static_cast<int>(FHeartbeatRate);
        ready = WaitReadable(timeoutMs % rate);
        for (int n = 0; !ready && FLastError == 0 && n <= timeoutMs / rate; ++n) {
            if (OnHeartbeat) OnHeartbeat(*this);
            if (FStopFlag.exchange(false)) break;
            ready = WaitReadable(rate);
        }
    } else {
        ready = WaitReadable(timeoutMs);
        if (!ready && FLastError == 0) ready = WaitReadable(0);
    }
    ExceptCheck();
    if (ready) DoStatus(hrCanRead, "");
    return ready;
}

bool TBlockingSocket::CanWrite(int timeoutMs) {
    ResetLastError();
    const int r = net::WaitWritable(FSocket, timeoutMs);
    if (r < 0) SockCheck(-1);
    ExceptCheck();
    if (r > 0) DoStatus(hrCanWrite, "");
    return r > 0;
}

std::int32_t TBlockingSocket::AwaitData(int timeoutMs) {
    std::this_thread::yield();
    std::int32_t waiting = WaitingData();
    if (waiting > 0) return waiting;
    if (CanRead(timeoutMs)) {
        waiting = WaitingData();
        if (waiting == 0) FLastError = net::wsaECONNRESET;  // readable but empty: closed
    } else if (FLastError == 0) {
        FLastError = net::wsaETIMEDOUT;
    }
    return waiting;
}

std::int32_t TBlockingSocket::DropLineEndPartner(char* data, std::int32_t count) {
    if (!FConvertLineEnd || count == 0) return count;
    if ((FLastCR && data[0] == '\n') || (FLastLF && data[0] == '\r')) {
        std::memmove(data, data + 1, static_cast<std::size_t>(count - 1));
        --count;
    }
    FLastCR = false;
    FLastLF = false;
    return count;
}

std::string TBlockingSocket::RecvPacket(int timeoutMs) {
    ResetLastError();
    std::string result;
    do {
        if (!FBuffer.empty()) {
            result.swap(FBuffer);
        } else if (const std::int32_t waiting = AwaitData(timeoutMs); waiting > 0) {
            result.resize(static_cast<std::size_t>(waiting));
            result.resize(static_cast<std::size_t>(RecvBuffer(result.data(), waiting)));
        }
        if (!result.empty()) {
            result.resize(static_cast<std::size_t>(
                DropLineEndPartner(result.data(), static_cast<std::int32_t>(result.size()))));
        }
    } while (result.empty() && FLastError == 0);
    ExceptCheck();
    return result;
}

std::int32_t TBlockingSocket::RecvBufferEx(void* buffer, std::int32_t length, int timeoutMs) {
    ResetLastError();
    auto* out = static_cast<char*>(buffer);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::int32_t placed = 0;
    while (placed < length) {
        int wait = timeoutMs;
        if (!FInterPacketTimeout && timeoutMs >= 0) {
            wait = MillisecondsLeft(deadline);
            if (wait == 0) {
                FLastError = net::wsaETIMEDOUT;
                ExceptCheck();
                break;
            }
        }
        if (FBuffer.empty()) {
            // Straight from the system into the caller's buffer: a packet as RecvPacket
            // would take it, cut to what is missing (the rest stays in the system).
            ResetLastError();
            const std::int32_t waiting = AwaitData(wait);
            std::int32_t n = 0;
            if (waiting > 0) {
                n = RecvBuffer(out + placed, std::min(waiting, length - placed));
                n = DropLineEndPartner(out + placed, n);
            }
            ExceptCheck();
            if (FLastError != 0) break;
            placed += n;
            continue;
        }
        std::string packet = RecvPacket(wait);
        if (FLastError != 0) break;
        const auto n = static_cast<std::int32_t>(
            std::min<std::size_t>(packet.size(), static_cast<std::size_t>(length - placed)));
        std::memcpy(out + placed, packet.data(), static_cast<std::size_t>(n));
        placed += n;
        if (static_cast<std::size_t>(n) < packet.size())
            FBuffer = packet.substr(static_cast<std::size_t>(n)) + FBuffer;
    }
    return placed;
}

std::string TBlockingSocket::RecvBufferStr(std::int32_t length, int timeoutMs) {
    if (length <= 0) return {};
    std::string result(static_cast<std::size_t>(length), '\0');
    const std::int32_t n = RecvBufferEx(result.data(), length, timeoutMs);
    if (FLastError != 0) return {};
    result.resize(static_cast<std::size_t>(n));
    return result;
}

void TBlockingSocket::RecvStreamSize(platform::MemoryStream& stream, int timeoutMs,
                                     std::int64_t size) {
    ResetLastError();
    if (size <= 0) return;
    const std::int64_t units = size / FSendMaxChunk;
    const auto rest = static_cast<std::int32_t>(size % FSendMaxChunk);
    const auto append = [&](std::int32_t count) {
        const std::string unit = RecvBufferStr(count, timeoutMs);
        if (FLastError != 0) return false;
        stream.Seek(0, platform::fs::SeekOrigin::End);
        stream.Write(unit);
        return true;
    };
    for (std::int64_t i = 0; i < units; ++i)
        if (!append(FSendMaxChunk)) return;
    if (rest > 0) append(rest);
}

std::string TBlockingSocket::RecvTerminated(int timeoutMs, const std::string& terminator) {
    ResetLastError();
    if (terminator.empty()) return {};
    const bool anyLineEnd = FConvertLineEnd && terminator == "\r\n";
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string work;
    std::size_t searchFrom = 0;
    for (;;) {
        int wait = timeoutMs;
        if (!FInterPacketTimeout && timeoutMs >= 0) {
            wait = MillisecondsLeft(deadline);
            if (wait == 0) {
                FLastError = net::wsaETIMEDOUT;
                break;
            }
        }
        work += RecvPacket(wait);
        if (FLastError != 0) break;

        std::size_t end = std::string::npos;
        std::size_t next = 0;
        if (anyLineEnd) {
            end = work.find_first_of("\r\n", searchFrom);
            if (end != std::string::npos) {
                next = end + 1;
                if (next < work.size()) {
                    const char partner = work[end] == '\r' ? '\n' : '\r';
                    if (work[next] == partner) ++next;
                } else {
                    // The partner may open the next packet; RecvPacket drops it there.
                    (work[end] == '\r' ? FLastCR : FLastLF) = true;
                }
            }
        } else {
            end = work.find(terminator, searchFrom);
            next = end + terminator.size();
        }
        if (end != std::string::npos) {
            FBuffer = work.substr(next) + FBuffer;
            work.resize(end);
            ExceptCheck();
            return work;
        }
        if (FMaxLineLength != 0 && work.size() > static_cast<std::size_t>(FMaxLineLength)) {
            FLastError = net::wsaENOBUFS;
            break;
        }
        searchFrom =
            anyLineEnd ? work.size() : work.size() - std::min(work.size(), terminator.size() - 1);
    }
    ExceptCheck();
    return {};
}

std::string TBlockingSocket::RecvString(int timeoutMs) {
    std::string line = RecvTerminated(timeoutMs, "\r\n");
    if (FLastError != 0) line.clear();
    return line;
}

void TBlockingSocket::Purge() {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::size_t drained = 0;
    try {
        while (drained < kMaxPurgeBytes && !FPurgeStop) {
            if (FBuffer.empty() && WaitingData() == 0) break;
            drained += RecvPacket(0).size();
            if (FLastError != 0) break;
        }
    } catch (...) {
        // Draining is best effort; a failing hook ends it.
    }
    ResetLastError();
}

// --- Addresses ----------------------------------------------------------------------------

std::string TBlockingSocket::GetLocalSinIP() const {
    return SinIP(FLocalSin);
}
std::string TBlockingSocket::GetRemoteSinIP() const {
    return SinIP(FRemoteSin);
}
int TBlockingSocket::GetLocalSinPort() const {
    return net::PortOf(FLocalSin);
}
int TBlockingSocket::GetRemoteSinPort() const {
    return net::PortOf(FRemoteSin);
}

// --- Error texts --------------------------------------------------------------------------

std::string TBlockingSocket::GetErrorDesc(int errorCode) {
    switch (errorCode) {
        case 0:
            return "";
        case 10004:
            return "Interrupted system call";
        case 10009:
            return "Bad file number";
        case 10013:
            return "Permission denied";
        case 10014:
            return "Bad address";
        case 10022:
            return "Invalid argument";
        case 10024:
            return "Too many open files";
        case 10035:
            return "Operation would block";
        case 10036:
            return "Operation now in progress";
        case 10037:
            return "Operation already in progress";
        case 10038:
            return "Socket operation on nonsocket";
        case 10039:
            return "Destination address required";
        case 10040:
            return "Message too long";
        case 10041:
            return "Protocol wrong type for socket";
        case 10042:
            return "Protocol not available";
        case 10043:
            return "Protocol not supported";
        case 10044:
            return "Socket type not supported";
        case 10045:
            return "Operation not supported on socket";
        case 10046:
            return "Protocol family not supported";
        case 10047:
            return "Address family not supported";
        case 10048:
            return "Address already in use";
        case 10049:
            return "Can't assign requested address";
        case 10050:
            return "Network is down";
        case 10051:
            return "Network is unreachable";
        case 10052:
            return "Network dropped connection on reset";
        case 10053:
            return "Software caused connection abort";
        case 10054:
            return "Connection reset by peer";
        case 10055:
            return "No Buffer space available";
        case 10056:
            return "Socket is already connected";
        case 10057:
            return "Socket is not connected";
        case 10058:
            return "Can't send after socket shutdown";
        case 10059:
            return "Too many references: can't splice";
        case 10060:
            return "Connection timed out";
        case 10061:
            return "Connection refused";
        case 10062:
            return "Too many levels of symbolic links";
        case 10063:
            return "File name is too long";
        case 10064:
            return "Host is down";
        case 10065:
            return "No route to host";
        case 10066:
            return "Directory is not empty";
        case 10067:
            return "Too many processes";
        case 10068:
            return "Too many users";
        case 10069:
            return "Disk quota exceeded";
        case 10070:
            return "Stale NFS file handle";
        case 10071:
            return "Too many levels of remote in path";
        case 10091:
            return "Network subsystem is unusable";
        case 10092:
            return "Winsock DLL cannot support this application";
        case 10093:
            return "Winsock not initialized";
        case 10101:
            return "Disconnect";
        case 11001:
            return "Host not found";
        case 11002:
            return "Non authoritative - host not found";
        case 11003:
            return "Non recoverable error";
        case 11004:
            return "Valid name, no data record of requested type";
        default:
            return "Other Winsock error (" + std::to_string(errorCode) + ")";
    }
}

// ---------------------------------------------------------------------------------------
// TTCPBlockingSocket

TTCPBlockingSocket::TTCPBlockingSocket() : FSSL(NewSecureLayer()) {}

int TTCPBlockingSocket::SecureLayerError() const {
    // A failure of the connection under the session keeps its own code (time-out,
    // reset); everything else of the layer is 10091 with the layer's text.
    const int code = FSSL->LastError();
    return code >= net::wsaEINTR ? code : wsaSYSNOTREADY;
}

TTCPBlockingSocket::~TTCPBlockingSocket() = default;

void TTCPBlockingSocket::Connect(const std::string& ip, const std::string& port) {
    FProxyRefusal.clear();
    FHTTPTunnel = false;
    if (!FSocksIP.empty()) {
        // The SOCKS negotiation is not part of this program; going around a configured
        // proxy would be wrong, so the connect fails.
        ResetLastError();
        FLastError = net::wsaEOPNOTSUPP;
        ExceptCheck();
        DoStatus(hrConnect, ip + ":" + port);
        return;
    }
    struct ProxyContext {
        bool& flag;
        ~ProxyContext() { flag = false; }
    } context{FConnectingToProxy};
    if (!FHTTPTunnelIP.empty()) {
        ConnectTunnel(ip, port);
    } else {
        FConnectingToProxy = !FProxyName.empty();
        ConnectPlain(ip, port);
    }
    FConnectingToProxy = false;
    if (FLastError == 0 && OnAfterConnect) OnAfterConnect(*this);
}

void TTCPBlockingSocket::ConnectTunnel(const std::string& ip, const std::string& port) {
    const auto bracketed = [](const std::string& host) {
        return IsIP6(host) ? "[" + host + "]" : host;
    };
    FProxyName = bracketed(FHTTPTunnelIP) + ":" + FHTTPTunnelPort;
    FConnectingToProxy = true;
    ConnectPlain(FHTTPTunnelIP, FHTTPTunnelPort);
    if (FLastError != 0) return;
    const std::string target = bracketed(ip) + ":" + port;
    std::string request = "CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n";
    if (!FHTTPTunnelUser.empty()) {
        request += "Proxy-Authorization: Basic " +
                   EncodeBase64(FHTTPTunnelUser + ":" + FHTTPTunnelPass) + "\r\n";
    }
    SendString(request + "\r\n");
    if (FLastError == 0) ReadTunnelAnswer();
    if (FLastError != 0) return;
    FHTTPTunnel = true;
    FHTTPTunnelRemoteIP = ip;
    FHTTPTunnelRemotePort = port;
}

void TTCPBlockingSocket::ReadTunnelAnswer() {
    // The answer is a status line and header lines, no body: a few kilobytes at most.
    constexpr std::size_t kMaxAnswer = 16384;
    constexpr int kMaxLines = 100;
    const bool interPacket = InterPacketTimeout();
    const std::int32_t maxLine = MaxLineLength();
    SetInterPacketTimeout(false);  // the time bounds the whole answer
    SetMaxLineLength(static_cast<std::int32_t>(kMaxAnswer));
    const auto deadline = Clock::now() + std::chrono::milliseconds(FHTTPTunnelTimeout);
    std::string status;
    std::size_t size = 0;
    for (int lines = 0;; ++lines) {
        const int left = MillisecondsLeft(deadline);
        if (left == 0) {
            FLastError = net::wsaETIMEDOUT;
            ExceptCheck();
            break;
        }
        const std::string line = RecvString(left);
        if (FLastError != 0) break;
        size += line.size() + 2;
        if (lines == 0) {
            status = line;
        } else if (line.empty()) {
            break;
        }
        if (size > kMaxAnswer || lines >= kMaxLines) {
            FLastError = net::wsaENOBUFS;
            ExceptCheck();
            break;
        }
    }
    SetInterPacketTimeout(interPacket);
    SetMaxLineLength(maxLine);
    if (FLastError != 0) return;

    const std::string shown = Trim(TextAfter(status, " "));
    if (!StartsWith(UpperCase(status), "HTTP/")) {
        ProxyRefused("tunnel", "no HTTP answer");
        return;
    }
    const auto code = ParseDecimal(Trim(TextBefore(shown, " ")));
    if (!code || *code < 200 || *code > 299) {
        ProxyRefused("tunnel", shown);
        return;
    }
    // The TLS client speaks first in the tunnel: bytes already here are not the server's.
    if (!FBuffer.empty()) ProxyRefused("tunnel", shown + " followed by unexpected data");
}

void TTCPBlockingSocket::ProxyRefused(const std::string& what, const std::string& status) {
    // The proxy's status ("407 Proxy Authentication Required") goes into a text a person
    // reads: kept short, without control characters.
    std::string shown = status.substr(0, 120);
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 32 || c == 127) c = '?';
    FProxyRefusal = "Proxy refused the " + what + ": " + shown + " (" + FProxyName + ")";
    FLastError = net::wsaECONNREFUSED;
    ExceptCheck();
}

void TTCPBlockingSocket::CloseSocket() {
    if (FClosing) {
        // Re-entered from a hook while the close drains the connection: end the drain;
        // the close in progress finishes the job.
        FPurgeStop = true;
        return;
    }
    FClosing = true;
    FPurgeStop = false;
    try {
        if (FSSL->Connection()) FSSL->Shutdown();
        if (FSocket != net::kInvalidSocket && FLastError == 0) {
            net::ShutdownSend(FSocket);
            Purge();
        }
    } catch (...) {
        FClosing = false;
        throw;
    }
    FClosing = false;
    AbortSocket();
}

std::int32_t TTCPBlockingSocket::SendBuffer(const void* buffer, std::int32_t length) {
    if (!FSSL->Connection()) return TSocksBlockingSocket::SendBuffer(buffer, length);
    ResetLastError();
    if (!TestStopFlag()) return 0;
    DoMonitor(true, buffer, length);
    const long r = FSSL->SendBuffer(buffer, length);
    if (r <= 0) {
        FLastError = SecureLayerError();
    } else {
        FSendCounter += r;
        DoStatus(hrWriteCount, std::to_string(r));
    }
    ExceptCheck();
    return r > 0 ? static_cast<std::int32_t>(r) : 0;
}

std::int32_t TTCPBlockingSocket::RecvBuffer(void* buffer, std::int32_t length) {
    if (!FSSL->Connection()) return TSocksBlockingSocket::RecvBuffer(buffer, length);
    ResetLastError();
    if (!TestStopFlag()) return 0;
    const long r = FSSL->RecvBuffer(buffer, length);
    if (r <= 0) FLastError = r == 0 ? net::wsaECONNRESET : SecureLayerError();
    ExceptCheck();
    if (r <= 0) return 0;
    FRecvCounter += r;
    DoStatus(hrReadCount, std::to_string(r));
    DoMonitor(false, buffer, static_cast<std::int32_t>(r));
    return static_cast<std::int32_t>(r);
}

std::int32_t TTCPBlockingSocket::WaitingData() {
    if (!FSSL->Connection()) return TSocksBlockingSocket::WaitingData();
    const long n = FSSL->WaitingData();
    if (n > 0) return static_cast<std::int32_t>(std::min<long>(n, 65536));
    if (const std::int32_t raw = TSocksBlockingSocket::WaitingData(); raw > 0) return raw;
    // Readable with nothing to read is the end of the connection: the session must see
    // it, to tell a close announced by the server from a connection cut short.
    return net::WaitReadable(FSocket, 0) == 1 ? 1 : 0;
}

void TTCPBlockingSocket::SSLDoConnect() {
    ResetLastError();
    if (!FSSL->Connect(FSocket)) FLastError = SecureLayerError();
    ExceptCheck();
}

std::string TTCPBlockingSocket::GetErrorDescEx() {
    if (!FProxyRefusal.empty() && FLastError == net::wsaECONNREFUSED) return FProxyRefusal;
    if (FConnectingToProxy && FLastError != 0) {
        return "Can't connect to proxy " + FProxyName + " (" +
               TSocksBlockingSocket::GetErrorDescEx() + ")";
    }
    if (FSSL->LastError() != 0 && (FLastError == wsaSYSNOTREADY || FLastError == FSSL->LastError()))
        return FSSL->LastErrorDesc();
    return TSocksBlockingSocket::GetErrorDescEx();
}

}  // namespace download
