// Environment variables of the process.
#pragma once

#include <optional>
#include <string>

namespace platform {

// The variable's value, or nothing when it is not set.
std::optional<std::string> EnvironmentVariable(const std::string& name);

}  // namespace platform
