#include "platform/timer.h"

namespace platform {

Timer::Timer(Application& app) : app_(app) {
    app_.RegisterTimer(this);
    Restart();
}

Timer::~Timer() {
    app_.UnregisterTimer(this);
}

void Timer::SetInterval(unsigned milliseconds) {
    if (interval_ == milliseconds) return;
    interval_ = milliseconds;
    Restart();
}

void Timer::SetEnabled(bool enabled) {
    if (enabled_ == enabled) return;
    enabled_ = enabled;
    Restart();
}

void Timer::Restart() {
    due_ = Clock::now() + std::chrono::milliseconds(interval_);
}

void Timer::Fire() {
    // The next tick counts from now; a handler that pumps messages is not re-entered.
    Restart();
    firing_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{firing_};
    OnTimer(this);
}

}  // namespace platform
