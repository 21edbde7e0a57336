#include "platform/menu.h"

namespace platform {

void PopupMenu::Popup(int x, int y) {
    poppedUp_ = true;
    int chosen = -1;
    try {
        chosen = TrackPopupMenu(*this, x, y);
    } catch (...) {
        poppedUp_ = false;
        throw;
    }
    poppedUp_ = false;
    if (chosen >= 0 && chosen < static_cast<int>(Items.size()) && !Items[chosen]->IsSeparator())
        Items[chosen]->Click();
}

}  // namespace platform
