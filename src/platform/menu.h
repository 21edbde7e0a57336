// Popup menus and their items. Items belong to the form; the menu lists them.
#pragma once

#include <string>
#include <vector>

#include "platform/component.h"

namespace platform {

class MenuItem : public Component {
  public:
    std::string Caption;  // "-" is a separator
    NotifyEvent OnClick;
    bool IsSeparator() const { return Caption == "-"; }
    void Click() {
        if (OnClick) OnClick(this);
    }
};

struct Point {
    int X = 0;
    int Y = 0;
};

class PopupMenu : public Component {
  public:
    std::vector<MenuItem*> Items;

    // Shows the menu at the screen position until the user chooses or dismisses it,
    // then clicks the chosen item.
    void Popup(int x, int y);
    bool PoppedUp() const { return poppedUp_; }

  private:
    bool poppedUp_ = false;
};

// Backend: runs the menu modally; the index of the chosen item in Items, or -1.
int TrackPopupMenu(const PopupMenu& menu, int x, int y);
// Backend: the mouse position on the screen.
Point CursorPos();

}  // namespace platform
