// For the socket backends only (portable code uses net.h): the layout of SocketAddress
// and the socket options' names, the same BSD structures under POSIX and Winsock.
#pragma once

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include "platform/net.h"

namespace platform::net::detail {

const sockaddr* AsSockaddr(const SocketAddress& address);
sockaddr* AsSockaddr(SocketAddress& address);
// The size of the address of its family.
int AddressLength(const SocketAddress& address);
int ToAf(AddressFamily family);

struct OptionKey {
    int level;
    int name;
};
// The level and name of an option for the socket's family.
OptionKey OptionName(SocketOption option, bool ipv6);
// The options that take on or off rather than a number.
bool IsFlagOption(SocketOption option);

}  // namespace platform::net::detail
