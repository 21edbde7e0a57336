// The client end of a named pipe (\\host\pipe\name), a Windows transport. Platforms
// without named pipes fail every open with NotSupportedError().
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform::pipe {

using pipe_t = std::intptr_t;
inline constexpr pipe_t kInvalidPipe = -1;

enum class OpenResult {
    Opened,
    WaitFailed,   // waiting for a busy pipe failed
    OpenFailed,   // the pipe could not be opened, or stayed busy
    StateFailed,  // the pipe's read mode could not be set
};

// Opens the pipe for reading and writing, in byte mode and blocking. While it is busy,
// waits up to `busyWaitMs` for it and tries again, `retries` times at most. `systemError`
// receives the system's code of a failure.
OpenResult Open(const std::string& host, const std::string& name, unsigned busyWaitMs, int retries,
                pipe_t& handle, unsigned long& systemError);
// Bytes read (0 at the end) or written, -1 on failure.
long Read(pipe_t handle, void* buffer, std::size_t size);
long Write(pipe_t handle, const void* buffer, std::size_t size);
void Close(pipe_t handle);

}  // namespace platform::pipe
