#include "fade/gain_steps.h"

#include <limits>

gain_stepper::gain_stepper(std::int32_t start_gain, std::int32_t end_gain, std::int64_t length)
    : gain_(start_gain),
      length_(length),
      half_(length / 2),
      delta_(std::int64_t{end_gain} - start_gain) {}

namespace {

std::int64_t divide_rounding_up(std::int64_t numerator, std::int64_t denominator) {
    return numerator <= 0 ? 0 : (numerator - 1) / denominator + 1;
}

}  // namespace

// After a change the error sum lies in [-half, length - half) for a rising
// gain (mirrored for a falling one), so a sum on the wrong side of zero can
// never reach the threshold; the next change comes on the first frame whose
// sum crosses length - half in the direction of travel.
std::int64_t gain_stepper::frames_at_current_gain() const {
    std::int64_t distance;
    if (delta_ > 0) {
        distance = divide_rounding_up(length_ - half_ - error_sum_, delta_);
    } else if (delta_ < 0) {
        distance = divide_rounding_up(length_ - half_ + error_sum_, -delta_);
    } else {
        return std::numeric_limits<std::int64_t>::max();
    }
    return distance < 1 ? 1 : distance;
}

void gain_stepper::advance(std::int64_t count) {
    error_sum_ += count * delta_;
    const std::int64_t magnitude = error_sum_ < 0 ? -error_sum_ : error_sum_;
    if (magnitude + half_ < length_) {
        return;
    }
    const std::int64_t change =
        error_sum_ > 0 ? (error_sum_ + half_) / length_ : (error_sum_ - half_) / length_;
    gain_ += static_cast<std::int32_t>(change);
    error_sum_ -= length_ * change;
}
