#include "agent/ProgressBar.h"

namespace agent {

std::int64_t RoundHalfToEven(std::int64_t numerator, std::int64_t denominator) {
    if (denominator < 0) {
        numerator = -numerator;
        denominator = -denominator;
    }
    std::int64_t quotient = numerator / denominator;
    std::int64_t remainder = numerator % denominator;
    if (remainder < 0) {  // floor division, so 0 <= remainder < denominator
        --quotient;
        remainder += denominator;
    }
    const std::int64_t twice = 2 * remainder;
    if (twice > denominator || (twice == denominator && quotient % 2 != 0)) ++quotient;
    return quotient;
}

void TProgressBar::SetTotalParts(std::int32_t value) {
    if (value == fTotalParts) return;
    fTotalParts = value;
    fPartsComplete = 0;
    fPercent = 0;
    Changed();
    if (OnChange) OnChange(this);
}

void TProgressBar::SetPartsComplete(std::int32_t value) {
    if (value == fPartsComplete) return;
    if (static_cast<std::uint32_t>(value) > static_cast<std::uint32_t>(fTotalParts))
        value = fTotalParts;
    fPartsComplete = value;
    if (fTotalParts != 0)
        fPercent = static_cast<std::int32_t>(
            RoundHalfToEven(static_cast<std::int64_t>(fPartsComplete) * 100, fTotalParts));
    Changed();
    if (OnChange) OnChange(this);
}

}  // namespace agent
