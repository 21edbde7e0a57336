// Headless shell: no notification area, no menus on screen, no taskbar. Alerts become a
// line on standard output.
#include <cstdio>

#include "platform/alert.h"
#include "platform/menu.h"
#include "platform/notifyicon.h"

namespace platform {

namespace {

class HeadlessNotifyIcon final : public NotifyIcon {
  public:
    void Add(const std::string&, const std::string&) override { added_ = true; }
    void Remove() override { added_ = false; }
    bool Added() const override { return added_; }

  private:
    bool added_ = false;
};

}  // namespace

std::unique_ptr<NotifyIcon> CreateNotifyIcon() {
    return std::make_unique<HeadlessNotifyIcon>();
}

int TrackPopupMenu(const PopupMenu&, int, int) {
    return -1;
}

Point CursorPos() {
    return Point{};
}

std::optional<TaskbarEdge> QueryTaskbarEdge() {
    return std::nullopt;
}

void ShowAlertWindow(const AlertWindowSettings& settings) {
    const std::string line = settings.Caption + ": " + settings.Text + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

void WaitForAlertWindows() {}

}  // namespace platform
