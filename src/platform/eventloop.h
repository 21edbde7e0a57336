// The operating-system side of the message loop: waiting for something to happen and
// the "close" command that the system delivers from outside (a signal on POSIX, the
// end of the session on Windows). Implemented by each backend.
#pragma once

namespace platform::eventloop {

// Routes the system's close requests to TakeCloseRequest (idempotent).
void InstallCloseHandler();
// True once for each close request that arrived since the previous call.
bool TakeCloseRequest();
// Blocks until `timeoutMs` has passed (-1: no limit) or a close request arrives.
void Wait(int timeoutMs);

}  // namespace platform::eventloop
