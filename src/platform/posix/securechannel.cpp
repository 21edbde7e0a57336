// No TLS client belongs to the system here: the download client uses the run-time loaded
// OpenSSL instead.
#include "platform/securechannel.h"

namespace platform {

struct SecureChannel::Session {
    std::string text = "The system has no TLS client";
};

SecureChannel::SecureChannel() : session_(std::make_unique<Session>()) {}
SecureChannel::~SecureChannel() = default;

bool SecureChannel::Available() {
    return false;
}
std::string SecureChannel::Name() {
    return "none";
}

bool SecureChannel::Connect(net::socket_t, const std::string&, int) {
    return false;
}
bool SecureChannel::Send(const void*, std::size_t, int) {
    return false;
}
long SecureChannel::Recv(void*, std::size_t, int) {
    return -1;
}
std::size_t SecureChannel::Pending() {
    return 0;
}
void SecureChannel::Close() {}
int SecureChannel::LastError() const {
    return -1;
}
const std::string& SecureChannel::LastErrorText() const {
    return session_->text;
}

}  // namespace platform
