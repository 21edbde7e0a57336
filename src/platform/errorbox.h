// The modal error box of the default exception handler (error icon, caption, text).
#pragma once

#include <string>

namespace platform {

class Application;

// Shows `text` under `caption`. The headless POSIX backend writes the text to standard
// error and then closes the application with exit status 1, standing for the user who
// closes the agent after reading the error.
void ShowErrorBox(Application& app, const std::string& caption, const std::string& text);

}  // namespace platform
