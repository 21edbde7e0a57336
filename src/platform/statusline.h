// One status line on the console, redrawn in place: the headless stand-in for a progress
// window. It shows only while standard error is a terminal; otherwise nothing is written.
#pragma once

#include <string>

namespace platform::statusline {

// Whether the status line is shown at all (standard error is a terminal).
bool Enabled();
// Replaces the line's text (drawn over the previous one).
void Show(const std::string& text);
// Leaves the line as it stands and moves to a new one, so later output starts clean.
void Finish();

}  // namespace platform::statusline
