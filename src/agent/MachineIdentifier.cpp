#include "agent/MachineIdentifier.h"

#include "agent/uTravikVersoes.h"

namespace agent {

std::string NodeTextOfSequentialUuids(const std::function<std::int32_t(platform::Uuid&)>& create) {
    platform::Uuid first;
    platform::Uuid second;
    if (create(first) != platform::kRpcSOk) return std::string();
    if (create(second) != platform::kRpcSOk) return std::string();
    for (int i = 2; i <= 7; ++i)
        if (first.Data4[i] != second.Data4[i]) return std::string();
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (int i = 2; i <= 7; ++i) {
        if (i > 2) text += '-';
        text += kHex[first.Data4[i] >> 4];
        text += kHex[first.Data4[i] & 15];
    }
    return text;
}

std::string TfTravikVersoes::ObterEnderecoMAC() {
    platform::SequentialUuidSource source;
    if (!source.Load()) return std::string();
    return NodeTextOfSequentialUuids([&](platform::Uuid& uuid) { return source.Create(uuid); });
}

}  // namespace agent
