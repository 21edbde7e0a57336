// Time-based UUIDs (version 1) whose node is the hardware address of the first network
// adapter, in interface-index order, that is not a loopback and has a non-zero 6-byte
// address. Without one the node is random and the status says "local only".
#include "platform/uuid.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netpacket/packet.h>

#include <array>
#include <chrono>
#include <climits>
#include <optional>
#include <random>

namespace platform {

namespace {

using Node = std::array<std::uint8_t, 6>;

std::optional<Node> FirstAdapterAddress() {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return std::nullopt;
    std::optional<Node> best;
    int bestIndex = INT_MAX;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_PACKET) continue;
        if ((entry->ifa_flags & IFF_LOOPBACK) != 0) continue;
        const auto* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
        if (link->sll_halen != 6 || link->sll_ifindex >= bestIndex) continue;
        Node node;
        bool zero = true;
        for (std::size_t i = 0; i < node.size(); ++i) {
            node[i] = link->sll_addr[i];
            zero = zero && node[i] == 0;
        }
        if (zero) continue;
        best = node;
        bestIndex = link->sll_ifindex;
    }
    ::freeifaddrs(list);
    return best;
}

// 100-nanosecond intervals between 1582-10-15 and 1970-01-01.
constexpr std::uint64_t kGregorianOffset = 0x01B21DD213814000ULL;

}  // namespace

struct SequentialUuidSource::State {
    std::mt19937_64 random{std::random_device{}()};
    std::uint16_t clockSequence = 0;
    std::uint64_t lastTime = 0;
};

SequentialUuidSource::SequentialUuidSource() = default;
SequentialUuidSource::~SequentialUuidSource() = default;

bool SequentialUuidSource::Load() {
    if (!state_) {
        state_ = std::make_unique<State>();
        state_->clockSequence = static_cast<std::uint16_t>(state_->random() & 0x3FFF);
    }
    return true;
}

std::int32_t SequentialUuidSource::Create(Uuid& uuid) {
    Load();
    const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    std::uint64_t time =
        static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(sinceEpoch).count() / 100) +
        kGregorianOffset;
    if (time <= state_->lastTime) time = state_->lastTime + 1;  // strictly increasing
    state_->lastTime = time;

    uuid.Data1 = static_cast<std::uint32_t>(time);
    uuid.Data2 = static_cast<std::uint16_t>(time >> 32);
    uuid.Data3 = static_cast<std::uint16_t>(((time >> 48) & 0x0FFF) | 0x1000);
    uuid.Data4[0] = static_cast<std::uint8_t>(((state_->clockSequence >> 8) & 0x3F) | 0x80);
    uuid.Data4[1] = static_cast<std::uint8_t>(state_->clockSequence);

    std::int32_t status = kRpcSOk;
    auto node = FirstAdapterAddress();
    if (!node) {
        node.emplace();
        for (auto& byte : *node) byte = static_cast<std::uint8_t>(state_->random());
        (*node)[0] |= 0x01;  // a multicast address never belongs to an adapter
        status = kRpcSUuidLocalOnly;
    }
    for (std::size_t i = 0; i < 6; ++i) uuid.Data4[2 + i] = (*node)[i];
    return status;
}

}  // namespace platform
