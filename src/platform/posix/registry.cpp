// No registry here.
#include "platform/exception.h"
#include "platform/registry.h"

namespace platform::registry {

namespace {

[[noreturn]] void Unavailable() {
    throw Exception("Registry settings are not available on this platform");
}

}  // namespace

bool Available() {
    return false;
}
std::optional<std::string> ReadString(Root, const std::string&, const std::string&, Access) {
    Unavailable();
}
void WriteString(Root, const std::string&, const std::string&, const std::string&, Access) {
    Unavailable();
}
void DeleteValue(Root, const std::string&, const std::string&, Access) {
    Unavailable();
}
void DeleteKey(Root, const std::string&) {
    Unavailable();
}

}  // namespace platform::registry
