// The system's source of sequential (time-based) UUIDs, whose node field is the
// hardware address of a network adapter.
#pragma once

#include <cstdint>
#include <memory>

namespace platform {

// A UUID as the system hands it out: the node is Data4[2] to Data4[7].
struct Uuid {
    std::uint32_t Data1 = 0;
    std::uint16_t Data2 = 0;
    std::uint16_t Data3 = 0;
    std::uint8_t Data4[8] = {};
};

inline constexpr std::int32_t kRpcSOk = 0;
// The UUID is unique to this computer only: no network address was available.
inline constexpr std::int32_t kRpcSUuidLocalOnly = 1824;

class SequentialUuidSource {
  public:
    SequentialUuidSource();
    ~SequentialUuidSource();
    SequentialUuidSource(const SequentialUuidSource&) = delete;
    SequentialUuidSource& operator=(const SequentialUuidSource&) = delete;

    // Finds the system's generator; false when there is none.
    bool Load();
    // Fills `uuid`; returns kRpcSOk, kRpcSUuidLocalOnly or another failure status.
    std::int32_t Create(Uuid& uuid);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace platform
