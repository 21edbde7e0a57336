#include "platform/netaddress.h"

namespace platform::net {

namespace detail {

static_assert(sizeof(SocketAddress::storage) >= sizeof(sockaddr_storage));

const sockaddr* AsSockaddr(const SocketAddress& address) {
    return reinterpret_cast<const sockaddr*>(address.storage);
}

sockaddr* AsSockaddr(SocketAddress& address) {
    return reinterpret_cast<sockaddr*>(address.storage);
}

int AddressLength(const SocketAddress& address) {
    return AsSockaddr(address)->sa_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

int ToAf(AddressFamily family) {
    return family == AddressFamily::IPv6 ? AF_INET6 : AF_INET;
}

OptionKey OptionName(SocketOption option, bool ipv6) {
    switch (option) {
        case SocketOption::Linger:
            return {SOL_SOCKET, SO_LINGER};
        case SocketOption::RecvBuffer:
            return {SOL_SOCKET, SO_RCVBUF};
        case SocketOption::SendBuffer:
            return {SOL_SOCKET, SO_SNDBUF};
        case SocketOption::ReuseAddress:
            return {SOL_SOCKET, SO_REUSEADDR};
        case SocketOption::Broadcast:
            return {SOL_SOCKET, SO_BROADCAST};
        case SocketOption::Ttl:
            return ipv6 ? OptionKey{IPPROTO_IPV6, IPV6_UNICAST_HOPS} : OptionKey{IPPROTO_IP, IP_TTL};
        case SocketOption::MulticastTtl:
            return ipv6 ? OptionKey{IPPROTO_IPV6, IPV6_MULTICAST_HOPS}
                        : OptionKey{IPPROTO_IP, IP_MULTICAST_TTL};
        case SocketOption::MulticastLoop:
            return ipv6 ? OptionKey{IPPROTO_IPV6, IPV6_MULTICAST_LOOP}
                        : OptionKey{IPPROTO_IP, IP_MULTICAST_LOOP};
    }
    return {SOL_SOCKET, 0};
}

bool IsFlagOption(SocketOption option) {
    return option == SocketOption::ReuseAddress || option == SocketOption::Broadcast ||
           option == SocketOption::MulticastLoop;
}

}  // namespace detail

AddressFamily FamilyOf(const SocketAddress& address) {
    switch (detail::AsSockaddr(address)->sa_family) {
        case AF_INET:
            return AddressFamily::IPv4;
        case AF_INET6:
            return AddressFamily::IPv6;
        default:
            return AddressFamily::None;
    }
}

int PortOf(const SocketAddress& address) {
    // The port in network byte order, read byte by byte on every platform.
    const unsigned char* port = nullptr;
    switch (FamilyOf(address)) {
        case AddressFamily::IPv4:
            port = reinterpret_cast<const unsigned char*>(
                &reinterpret_cast<const sockaddr_in*>(address.storage)->sin_port);
            break;
        case AddressFamily::IPv6:
            port = reinterpret_cast<const unsigned char*>(
                &reinterpret_cast<const sockaddr_in6*>(address.storage)->sin6_port);
            break;
        default:
            return 0;
    }
    return port[0] << 8 | port[1];
}

}  // namespace platform::net
