#include "download/SecureLayerSystem.h"

namespace download {

bool TSecureLayerSystem::Failed() {
    FLastError = FChannel.LastError();
    FLastErrorDesc = FChannel.LastErrorText();
    return false;
}

bool TSecureLayerSystem::Connect(platform::net::socket_t socket) {
    FLastError = 0;
    FLastErrorDesc.clear();
    FSSLEnabled = FChannel.Connect(socket, FSNIHost, FTimeout);
    return FSSLEnabled || Failed();
}

bool TSecureLayerSystem::Accept(platform::net::socket_t) {
    FLastError = -1;
    FLastErrorDesc = "TLS server side is not supported";
    return false;
}

bool TSecureLayerSystem::Shutdown() {
    FLastError = 0;
    FLastErrorDesc.clear();
    FChannel.Close();
    FSSLEnabled = false;
    return true;
}

long TSecureLayerSystem::SendBuffer(const void* buffer, long len) {
    FLastError = 0;
    FLastErrorDesc.clear();
    if (len <= 0) return 0;
    if (!FChannel.Send(buffer, static_cast<std::size_t>(len), FTimeout)) return Failed() ? 0 : -1;
    return len;
}

long TSecureLayerSystem::RecvBuffer(void* buffer, long len) {
    FLastError = 0;
    FLastErrorDesc.clear();
    const long r = FChannel.Recv(buffer, len > 0 ? static_cast<std::size_t>(len) : 0, FTimeout);
    if (r < 0) Failed();
    return r;
}

long TSecureLayerSystem::WaitingData() {
    return static_cast<long>(FChannel.Pending());
}

}  // namespace download
