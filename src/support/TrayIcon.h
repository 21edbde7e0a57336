// The tray icon component: the application's icon in the notification area, which
// restores the main form and opens a popup menu on the configured mouse actions.
#pragma once

#include <memory>
#include <string>

#include "platform/component.h"
#include "platform/form.h"
#include "platform/imagelist.h"
#include "platform/menu.h"
#include "platform/notifyicon.h"

namespace support {

enum class TTrayIconClicks {
    ticNone,
    ticLeftClick,
    ticLeftDblClick,
    ticLeftClickUp,
    ticRightClick,
    ticRightDblClick,
    ticRightClickUp,
};

class TTrayIcon : public platform::Component {
  public:
    explicit TTrayIcon(platform::Form& owner);
    ~TTrayIcon() override;  // removes the icon

    bool HideOnStartup = false;
    bool HideOnMinimize = true;
    TTrayIconClicks RestoreOn = TTrayIconClicks::ticLeftDblClick;
    TTrayIconClicks PopupMenuOn = TTrayIconClicks::ticRightClickUp;
    platform::PopupMenu* PopupMenu = nullptr;
    platform::ImageList* Icons = nullptr;
    int IconIndex = 0;
    bool Enabled = true;
    std::string Hint;

    // Called once the owner's components are set up: adds the icon and, with
    // HideOnStartup, keeps the main form hidden.
    void Loaded();
    bool IconShown() const { return icon_->Added(); }

    // The reactions to the notification area and the application.
    void MouseAction(platform::MouseAction action);
    void ApplicationMinimized();

  private:
    void AddIcon();
    void Restore();
    void ShowPopup();

    platform::Form& owner_;
    std::unique_ptr<platform::NotifyIcon> icon_;
};

}  // namespace support
