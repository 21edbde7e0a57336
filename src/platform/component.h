// Base of the components that forms own, and the plain notification event.
#pragma once

#include <functional>
#include <string>

namespace platform {

class Component {
  public:
    Component() = default;
    explicit Component(std::string name) : Name(std::move(name)) {}
    virtual ~Component() = default;
    Component(const Component&) = delete;
    Component& operator=(const Component&) = delete;

    std::string Name;
};

// An event carrying only the object that raised it.
using NotifyEvent = std::function<void(Component* Sender)>;

}  // namespace platform
