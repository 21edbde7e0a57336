// A set of members of a small enumeration (option sets of the components).
#pragma once

#include <cstdint>
#include <initializer_list>

namespace dbclient {

template <class E>
class TSet {
  public:
    constexpr TSet() = default;
    constexpr TSet(std::initializer_list<E> members) {
        for (E m : members) Include(m);
    }
    constexpr bool Contains(E m) const { return (FBits & Bit(m)) != 0; }
    constexpr void Include(E m) { FBits |= Bit(m); }
    constexpr void Exclude(E m) { FBits &= ~Bit(m); }
    constexpr bool Empty() const { return FBits == 0; }
    constexpr bool operator==(const TSet&) const = default;

  private:
    static constexpr std::uint32_t Bit(E m) { return std::uint32_t{1} << static_cast<unsigned>(m); }
    std::uint32_t FBits = 0;
};

}  // namespace dbclient
