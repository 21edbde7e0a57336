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

    platform::AlertWindowSpec spec;
    spec.Caption = Caption;
    spec.Text = Text;
    spec.ImageIndex = ImageIndex;
    spec.Corner = CornerOf(window->Position);
    spec.DisplayTime = DisplayTime;
    spec.ShowingAnimation = AnimationOf(ShowingAnimation);
    spec.ShowingAnimationTime = ShowingAnimationTime;
    spec.HidingAnimation = AnimationOf(HidingAnimation);
    spec.HidingAnimationTime = HidingAnimationTime;
    spec.Opacity = Opacity;
    spec.HotOpacity = HotOpacity;
    spec.CloseOnRightClick = CloseOnRightClick;
    spec.ShowButtons = ShowButtons;
    spec.SnapToEdges = SnapToScreenEdges;
    spec.SnapDistance = SnapDistance;
    spec.AutoWidth = AutoWidth;
    spec.AutoHeight = AutoHeight;
    spec.SkinName = SkinName;
    spec.CaptionFont = CaptionFont;
    spec.TextFont = TextFont;
    spec.NavigationPanelFont = NavigationPanelFont;
    platform::ShowAlertWindow(spec);

    windows_.push_back(std::move(window));
    return *windows_.back();
}

}  // namespace support
