// The progress bar `pb` of the main form, as the agent drives it: a count of parts, the
// parts complete, and the percentage that is drawn.
#pragma once

#include <cstdint>

#include "platform/controls.h"

namespace agent {

class TProgressBar : public platform::ProgressBar {
  public:
    int BorderWidth = 0;
    int InteriorOffset = 0;
    // The drawn state (TotalParts, PartsComplete or Percent) changed; a backend redraws.
    platform::NotifyEvent OnChange;

    std::int32_t TotalParts() const { return fTotalParts; }
    // A different value also resets PartsComplete and Percent to 0.
    void SetTotalParts(std::int32_t value);

    std::int32_t PartsComplete() const { return fPartsComplete; }
    // A different value is stored, lowered to TotalParts when larger (compared as unsigned
    // numbers); with TotalParts not 0, Percent becomes PartsComplete * 100 / TotalParts
    // rounded to the nearest integer, a half to the even neighbour.
    void SetPartsComplete(std::int32_t value);

    int Percent() const override { return fPercent; }

  private:
    std::int32_t fTotalParts = 0;
    std::int32_t fPartsComplete = 0;
    std::int32_t fPercent = 0;
};

// numerator / denominator rounded to the nearest integer, a half to the even neighbour
// (denominator not 0).
std::int64_t RoundHalfToEven(std::int64_t numerator, std::int64_t denominator);

}  // namespace agent
