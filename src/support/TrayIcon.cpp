#include "support/TrayIcon.h"

namespace support {

namespace {

TTrayIconClicks ClickOf(platform::MouseAction action) {
    switch (action) {
        case platform::MouseAction::LeftDown:
            return TTrayIconClicks::ticLeftClick;
        case platform::MouseAction::LeftUp:
            return TTrayIconClicks::ticLeftClickUp;
        case platform::MouseAction::LeftDblClick:
            return TTrayIconClicks::ticLeftDblClick;
        case platform::MouseAction::RightDown:
            return TTrayIconClicks::ticRightClick;
        case platform::MouseAction::RightUp:
            return TTrayIconClicks::ticRightClickUp;
        case platform::MouseAction::RightDblClick:
            return TTrayIconClicks::ticRightDblClick;
    }
    return TTrayIconClicks::ticNone;
}

}  // namespace

TTrayIcon::TTrayIcon(platform::Form& owner) : owner_(owner), icon_(platform::CreateNotifyIcon()) {
    icon_->OnMouse = [this](platform::MouseAction action) { MouseAction(action); };
    icon_->OnTaskbarCreated = [this] { AddIcon(); };
    icon_->OnEndSession = [this] { icon_->Remove(); };
}

TTrayIcon::~TTrayIcon() {
    icon_->Remove();
    owner_.App().OnMinimize = nullptr;
}

void TTrayIcon::Loaded() {
    owner_.App().OnMinimize = [this] { ApplicationMinimized(); };
    AddIcon();
    if (HideOnStartup) {
        owner_.App().ShowMainForm = false;
        if (platform::Form* main = owner_.App().MainForm()) main->Hide();
    }
}

void TTrayIcon::AddIcon() {
    std::string picture = "MAINICON";  // the application's icon
    if (Icons != nullptr && IconIndex >= 0 && IconIndex < Icons->Count())
        picture = Icons->Images[IconIndex];
    icon_->Add(picture, Hint.empty() ? owner_.App().Title() : Hint);
}

void TTrayIcon::MouseAction(platform::MouseAction action) {
    if (!Enabled) return;
    const TTrayIconClicks click = ClickOf(action);
    if (click == RestoreOn) Restore();
    if (click == PopupMenuOn && PopupMenu != nullptr) ShowPopup();
}

void TTrayIcon::Restore() {
    if (PopupMenu != nullptr && PopupMenu->PoppedUp()) return;
    platform::Application& app = owner_.App();
    platform::Form* main = app.MainForm();
    if (main == nullptr) return;
    main->Restore();
    main->BringToFront();
    if (!app.ShowMainForm) {
        app.ShowMainForm = true;
        main->SetVisible(true);
    }
}

void TTrayIcon::ShowPopup() {
    owner_.BringToFront();
    const platform::Point at = platform::CursorPos();
    PopupMenu->Popup(at.X, at.Y);
    owner_.App().Post([] {});  // wakes the loop once the menu has closed
}

void TTrayIcon::ApplicationMinimized() {
    platform::Form* main = owner_.App().MainForm();
    if (main == nullptr) return;
    main->Minimize();
    if (HideOnMinimize) main->Hide();
}

}  // namespace support
