// The operating-system side of the message loop: waiting for something to happen and
// the "close" command that the system delivers from outside (a signal on POSIX, the
// end of the session on Windows). Implemented by each backend.
#pragma once

#include <string>
#include <vector>

namespace platform::eventloop {

// Routes the system's close requests to TakeCloseRequest (idempotent).
void InstallCloseHandler();
// True once for each close request that arrived since the previous call.
bool TakeCloseRequest();
// Blocks until `timeoutMs` has passed (-1: no limit), a close request arrives, or (with
// windows) a system message is waiting.
void Wait(int timeoutMs);
// Handles one message of the system's windows; false when none was waiting.
bool DispatchSystemMessage();
// The program's arguments as the system gives them, in UTF-8 (argv[0] first).
std::vector<std::string> CommandLineArguments(int argc, const char* const* argv);

}  // namespace platform::eventloop
