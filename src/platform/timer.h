// A timer of the message loop: OnTimer runs every Interval milliseconds while Enabled.
#pragma once

#include <chrono>

#include "platform/application.h"
#include "platform/component.h"

namespace platform {

class Timer : public Component {
  public:
    explicit Timer(Application& app = Application::Instance());
    ~Timer() override;

    unsigned Interval() const { return interval_; }
    // Restarts the count when the timer runs.
    void SetInterval(unsigned milliseconds);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);

    NotifyEvent OnTimer;

  private:
    friend class Application;
    using Clock = std::chrono::steady_clock;

    bool Running() const { return enabled_ && interval_ > 0 && OnTimer != nullptr; }
    void Restart();
    void Fire();

    Application& app_;
    unsigned interval_ = 1000;
    bool enabled_ = true;
    bool firing_ = false;
    Clock::time_point due_{};
};

}  // namespace platform
