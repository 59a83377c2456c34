#pragma once

#include <cstdint>

// Moves the gain from a start gain to an end gain over `length` frame steps
// with an integer line-drawing rule: after every frame the total change is
// added to an error sum, and whenever the sum reaches half a step the gain
// moves by as many whole units as the sum holds.  Frame k of the fade (k from
// 0 to length) gets start + k * (end - start) / length rounded to the nearest
// integer, an exact half away from zero.
//
// The error sum is 64 bits wide, so fades of any length a file can hold step
// exactly as short ones do.  Besides stepping frame by frame, the stepper
// tells how many frames in a row keep the current gain, so that the engine
// can scale whole runs at once: on a long fade the gain changes only every
// few thousand frames.
class gain_stepper {
  public:
    // length is the number of steps, end frame - start frame, at least 1.
    gain_stepper(std::int32_t start_gain, std::int32_t end_gain, std::int64_t length);

    std::int32_t gain() const { return gain_; }

    // How many frames, the current one included, are scaled with the
    // current gain before it changes.  At least 1.
    std::int64_t frames_at_current_gain() const;

    // Steps past `count` frames, at most frames_at_current_gain().
    void advance(std::int64_t count);

    // Steps past one frame exactly as the rule reads.
    void step() { advance(1); }

  private:
    std::int32_t gain_;
    std::int64_t error_sum_ = 0;
    std::int64_t length_;
    std::int64_t half_;
    std::int64_t delta_;
};
