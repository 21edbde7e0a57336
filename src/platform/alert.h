// Alert windows: a small window with a caption, a text and a picture in a corner of the
// screen, closed after a display time. The backend shows it.
#pragma once

#include <optional>
#include <string>

#include "platform/controls.h"

namespace platform {

enum class ScreenCorner { TopLeft, TopRight, BottomLeft, BottomRight };
enum class TaskbarEdge { Left, Top, Right, Bottom };
enum class AlertAnimation { None, Fade, Slide };

struct AlertWindowSettings {
    std::string Caption;
    std::string Text;
    int ImageIndex = 0;
    ScreenCorner Corner = ScreenCorner::BottomRight;
    unsigned DisplayTime = 7000;  // ms; paused while the mouse is over the window
    AlertAnimation ShowingAnimation = AlertAnimation::Fade;
    unsigned ShowingAnimationTime = 100;
    AlertAnimation HidingAnimation = AlertAnimation::Fade;
    unsigned HidingAnimationTime = 1000;
    int Opacity = 190;
    int HotOpacity = 250;
    bool CloseOnRightClick = true;
    bool ShowButtons = true;
    bool SnapToEdges = true;
    int SnapDistance = 20;
    bool AutoWidth = false;
    bool AutoHeight = false;
    std::string SkinName;
    Font CaptionFont;
    Font TextFont;
    Font NavigationPanelFont;
};

// The edge of the screen where the taskbar is, when it can be found.
std::optional<TaskbarEdge> QueryTaskbarEdge();
// Shows the alert. The headless backend prints "caption: text" on standard output.
void ShowAlertWindow(const AlertWindowSettings& settings);
// Handles the system's messages until every alert shown has gone (timed out or closed),
// so that the last thing the program says is seen. The headless backend has none open.
void WaitForAlertWindows();

}  // namespace platform
