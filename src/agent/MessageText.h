// Untrusted text (arguments, database values) shown inside an error message.
#pragma once

#include <string>

namespace agent {

// `text` between double quotes, with control characters shown as "?" and anything past
// 60 characters cut off and marked with "...", so that a hostile value cannot garble or
// flood the message.
std::string QuotedForMessage(const std::string& text);

}  // namespace agent
