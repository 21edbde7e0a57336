// The alert window manager: shows small notification windows in a corner of the screen,
// each taking over the manager's settings.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/alert.h"
#include "platform/component.h"
#include "platform/controls.h"

namespace support {

enum class TAlertWindowPosition { awpAuto, awpTopLeft, awpTopRight, awpBottomLeft, awpBottomRight };
enum class TAlertWindowAnimation { awaNone, awaFade, awaSlide };

// One alert with its message.
class TAlertWindow {
  public:
    std::string Caption;
    std::string Text;
    int ImageIndex = 0;
    TAlertWindowPosition Position = TAlertWindowPosition::awpBottomRight;  // the corner it is in
};

// The corner for awpAuto: taskbar on the left gives bottom left, at the top top right,
// on the right, at the bottom or unknown bottom right.
TAlertWindowPosition AutoPosition(std::optional<platform::TaskbarEdge> taskbar);

class TAlertWindowManager : public platform::Component {
  public:
    unsigned DisplayTime = 7000;
    bool CloseOnRightClick = true;
    bool SnapToScreenEdges = true;
    int SnapDistance = 20;
    TAlertWindowAnimation ShowingAnimation = TAlertWindowAnimation::awaFade;
    unsigned ShowingAnimationTime = 100;
    TAlertWindowAnimation HidingAnimation = TAlertWindowAnimation::awaFade;
    unsigned HidingAnimationTime = 1000;
    int Opacity = 190;
    int HotOpacity = 250;
    TAlertWindowPosition WindowPosition = TAlertWindowPosition::awpAuto;
    std::string SkinName;
    bool ShowButtons = true;
    bool AutoWidth = false;
    bool AutoHeight = false;
    platform::Font CaptionFont{"Tahoma", -11, true, 0};
    platform::Font TextFont;
    platform::Font NavigationPanelFont;

    // Opens a new alert window with the message.
    TAlertWindow& Show(const std::string& Caption, const std::string& Text, int ImageIndex);
    const std::vector<std::unique_ptr<TAlertWindow>>& Windows() const { return windows_; }

  private:
    std::vector<std::unique_ptr<TAlertWindow>> windows_;
};

}  // namespace support
