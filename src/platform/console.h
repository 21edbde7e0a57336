// The console of the command-line tools: a secret asked on the terminal without echo,
// and UTF-8 output that a console shows as the text it is.
#pragma once

#include <optional>
#include <string>

namespace platform::console {

// Shows `prompt` on the process's terminal and reads one line from it without echo (the
// line end is not part of the result). Nothing when the process has no terminal to ask
// on (a service, a scheduled task, a test run without one).
std::optional<std::string> ReadSecret(const std::string& prompt);

enum class Stream { Output, Error };

// Writes UTF-8 text to standard output or standard error. A Windows console gets it as
// characters, whatever its code page; a file, a pipe or a POSIX terminal gets the bytes.
void Write(Stream stream, const std::string& utf8);

}  // namespace platform::console
