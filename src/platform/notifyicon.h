// An icon in the notification area, supplied by the backend. Mouse actions on it and
// the system's notices arrive through the events.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace platform {

enum class MouseAction { LeftDown, LeftUp, LeftDblClick, RightDown, RightUp, RightDblClick };

class NotifyIcon {
  public:
    virtual ~NotifyIcon() = default;
    // Adds the icon (or changes it when present).
    virtual void Add(const std::string& picture, const std::string& hint) = 0;
    virtual void Remove() = 0;
    virtual bool Added() const = 0;

    std::function<void(MouseAction)> OnMouse;
    std::function<void()> OnTaskbarCreated;  // the notification area was rebuilt
    std::function<void()> OnEndSession;      // the user logs off or the system shuts down
};

std::unique_ptr<NotifyIcon> CreateNotifyIcon();

}  // namespace platform
