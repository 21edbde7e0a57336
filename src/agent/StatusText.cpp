#include "agent/StatusText.h"

#include <cstdio>

namespace agent {

std::string RemainingTimeText(std::uint16_t sec) {
    const int s = sec;
    char clock[16];
    std::snprintf(clock, sizeof clock, "%.2d:%.2d:%.2d", s / 3600, (s / 60) % 60, s % 60);
    return std::string("Tempo Restante: ") + clock;
}

std::string ProgressLineText(std::int32_t percent, const std::string& status) {
    char head[16];
    std::snprintf(head, sizeof head, "%3d%%", static_cast<int>(percent));
    return status.empty() ? std::string(head) : std::string(head) + " " + status;
}

}  // namespace agent
