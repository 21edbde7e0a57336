// The command-line rules of the agent.
#pragma once

#include <string>

namespace agent {

// The argument without leading and trailing characters whose code is 32 or less
// (spaces and control characters).
std::string TrimArgument(const std::string& argument);

// The argument as a decimal 32-bit signed integer (leading spaces allowed, an optional
// sign, digits); 0 when it is not one or lies out of range.
int ArgumentToInt(const std::string& argument);

}  // namespace agent
