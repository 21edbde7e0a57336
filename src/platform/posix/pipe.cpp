// No named pipes here: every open fails as a pipe that cannot be opened.
#include "platform/pipe.h"

#include "platform/net.h"

namespace platform::pipe {

OpenResult Open(const std::string&, const std::string&, unsigned, int, pipe_t& handle,
                unsigned long& systemError) {
    handle = kInvalidPipe;
    systemError = static_cast<unsigned long>(net::NotSupportedError());
    return OpenResult::OpenFailed;
}

long Read(pipe_t, void*, std::size_t) {
    return -1;
}

long Write(pipe_t, const void*, std::size_t) {
    return -1;
}

void Close(pipe_t) {}

}  // namespace platform::pipe
