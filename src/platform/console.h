// The console of the command-line tools: a secret asked on the terminal without echo,
// and output that the console shows as UTF-8 text.
#pragma once

#include <optional>
#include <string>

namespace platform::console {

// Shows `prompt` on the process's terminal and reads one line from it without echo (the
// line end is not part of the result). Nothing when the process has no terminal to ask
// on (a service, a scheduled task, a test run without one).
std::optional<std::string> ReadSecret(const std::string& prompt);

// Makes the console show the program's UTF-8 output as text (Windows consoles default
// to an older code page); nothing to do elsewhere.
void UseUtf8Output();

}  // namespace platform::console
