// The system registry's text values, where the platform has one (Windows).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform::registry {

enum class Root { ClassesRoot, CurrentUser, LocalMachine, Users, CurrentConfig };

// Access rights asked for when a key is opened, as the system's bit mask.
using Access = std::uint32_t;
inline constexpr Access kQueryValue = 0x0001;
inline constexpr Access kSetValue = 0x0002;
inline constexpr Access kCreateSubKey = 0x0004;
inline constexpr Access kEnumerateSubKeys = 0x0008;
inline constexpr Access kNotify = 0x0010;
inline constexpr Access kCreateLink = 0x0020;
inline constexpr Access kRead = 0x20019;
inline constexpr Access kWrite = 0x20006;
inline constexpr Access kExecute = 0x20019;
inline constexpr Access kAllAccess = 0xF003F;

// Whether this platform has a registry; without one every operation raises.
bool Available();
// The text value `name` of `key` (created when missing), or nothing when it is not set.
// Failures raise platform::Exception with the system's text.
std::optional<std::string> ReadString(Root root, const std::string& key, const std::string& name,
                                      Access access);
void WriteString(Root root, const std::string& key, const std::string& name,
                 const std::string& value, Access access);
void DeleteValue(Root root, const std::string& key, const std::string& name, Access access);
// Deletes the key with its values and subkeys; a missing key is no failure.
void DeleteKey(Root root, const std::string& key);

}  // namespace platform::registry
