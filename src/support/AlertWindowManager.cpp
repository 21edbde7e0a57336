#include "support/AlertWindowManager.h"

namespace support {

namespace {

platform::AlertAnimation AnimationOf(TAlertWindowAnimation animation) {
    switch (animation) {
        case TAlertWindowAnimation::awaNone:
            return platform::AlertAnimation::None;
        case TAlertWindowAnimation::awaFade:
            return platform::AlertAnimation::Fade;
        case TAlertWindowAnimation::awaSlide:
            return platform::AlertAnimation::Slide;
    }
    return platform::AlertAnimation::None;
}

platform::ScreenCorner CornerOf(TAlertWindowPosition position) {
    switch (position) {
        case TAlertWindowPosition::awpTopLeft:
            return platform::ScreenCorner::TopLeft;
        case TAlertWindowPosition::awpTopRight:
            return platform::ScreenCorner::TopRight;
        case TAlertWindowPosition::awpBottomLeft:
            return platform::ScreenCorner::BottomLeft;
        default:
            return platform::ScreenCorner::BottomRight;
    }
}

}  // namespace

TAlertWindowPosition AutoPosition(std::optional<platform::TaskbarEdge> taskbar) {
    if (taskbar == platform::TaskbarEdge::Left) return TAlertWindowPosition::awpBottomLeft;
    if (taskbar == platform::TaskbarEdge::Top) return TAlertWindowPosition::awpTopRight;
    return TAlertWindowPosition::awpBottomRight;
}

TAlertWindow& TAlertWindowManager::Show(const std::string& Caption, const std::string& Text,
                                        int ImageIndex) {
    auto window = std::make_unique<TAlertWindow>();
    window->Caption = Caption;
    window->Text = Text;
    window->ImageIndex = ImageIndex;
    window->Position = WindowPosition == TAlertWindowPosition::awpAuto
                           ? AutoPosition(platform::QueryTaskbarEdge())
                           : WindowPosition;

    platform::AlertWindowSettings settings;
    settings.Caption = Caption;
    settings.Text = Text;
    settings.ImageIndex = ImageIndex;
    settings.Corner = CornerOf(window->Position);
    settings.DisplayTime = DisplayTime;
    settings.ShowingAnimation = AnimationOf(ShowingAnimation);
    settings.ShowingAnimationTime = ShowingAnimationTime;
    settings.HidingAnimation = AnimationOf(HidingAnimation);
    settings.HidingAnimationTime = HidingAnimationTime;
    settings.Opacity = Opacity;
    settings.HotOpacity = HotOpacity;
    settings.CloseOnRightClick = CloseOnRightClick;
    settings.ShowButtons = ShowButtons;
    settings.SnapToEdges = SnapToScreenEdges;
    settings.SnapDistance = SnapDistance;
    settings.AutoWidth = AutoWidth;
    settings.AutoHeight = AutoHeight;
    settings.SkinName = SkinName;
    settings.CaptionFont = CaptionFont;
    settings.TextFont = TextFont;
    settings.NavigationPanelFont = NavigationPanelFont;
    platform::ShowAlertWindow(settings);

    windows_.push_back(std::move(window));
    return *windows_.back();
}

}  // namespace support
