// Sequential UUIDs from rpcrt4.dll's UuidCreateSequential, loaded by name.
#include <windows.h>

#include "platform/dynlib.h"
#include "platform/uuid.h"

namespace platform {

namespace {

// The system's UUID record: the same 16 bytes as Uuid.
struct SystemUuid {
    unsigned long Data1;
    unsigned short Data2;
    unsigned short Data3;
    unsigned char Data4[8];
};
static_assert(sizeof(SystemUuid) == 16);

using CreateFunction = long(__stdcall*)(SystemUuid*);

}  // namespace

struct SequentialUuidSource::State {
    DynamicLibrary library;
    CreateFunction create = nullptr;
};

SequentialUuidSource::SequentialUuidSource() = default;
SequentialUuidSource::~SequentialUuidSource() = default;

bool SequentialUuidSource::Load() {
    if (state_ && state_->create != nullptr) return true;
    auto state = std::make_unique<State>();
    if (!state->library.Load("rpcrt4.dll")) return false;
    state->create = reinterpret_cast<CreateFunction>(state->library.Symbol("UuidCreateSequential"));
    if (state->create == nullptr) return false;
    state_ = std::move(state);
    return true;
}

std::int32_t SequentialUuidSource::Create(Uuid& uuid) {
    if (!Load()) return -1;
    SystemUuid raw{};
    const long status = state_->create(&raw);
    uuid.Data1 = static_cast<std::uint32_t>(raw.Data1);
    uuid.Data2 = raw.Data2;
    uuid.Data3 = raw.Data3;
    for (int i = 0; i < 8; ++i) uuid.Data4[i] = raw.Data4[i];
    return static_cast<std::int32_t>(status);
}

}  // namespace platform
