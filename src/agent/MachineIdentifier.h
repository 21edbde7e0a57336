// The machine identifier: the node field of two sequential UUIDs, as six upper-case
// hexadecimal byte pairs separated by "-" (00-1A-2B-3C-4D-5E), or empty.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/uuid.h"

namespace agent {

// Calls `create` twice; empty when a call fails or the two nodes differ.
std::string NodeTextOfSequentialUuids(const std::function<std::int32_t(platform::Uuid&)>& create);

}  // namespace agent
