// travik-publish: the release manager's tool. Parses the command line, runs the command
// and gives the exit status: 0 done, 1 refused or failed (with what to do), 2 bad usage.
#pragma once

#include <string>
#include <vector>

namespace admin {

// `args` without the program's name.
int RunPublishTool(const std::vector<std::string>& args);

}  // namespace admin
