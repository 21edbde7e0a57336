// Headless forms: no window exists, so there is nothing to draw or raise.
#include "platform/form.h"

namespace platform {

namespace {

class HeadlessFormWindow final : public FormWindow {
  public:
    void SetVisible(bool) override {}
    void SetTaskbarButton(bool) override {}
    void BringToFront() override {}
    void Restore() override {}
    void Minimize() override {}
};

}  // namespace

std::unique_ptr<FormWindow> CreateFormWindow(Form&) {
    return std::make_unique<HeadlessFormWindow>();
}

}  // namespace platform
