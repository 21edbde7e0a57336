// A GUI program has no console: the progress window is the status display there.
#include "platform/statusline.h"

namespace platform::statusline {

bool Enabled() {
    return false;
}
void Show(const std::string&) {}
void Finish() {}

}  // namespace platform::statusline
