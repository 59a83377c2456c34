#include "fade/offsets.h"

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

constexpr std::int64_t invalid_offset = -1;
constexpr std::int64_t frames_per_minute = 60 * frames_per_second;

const char* skip_blanks(const char* text) {
    while (*text == ' ' || *text == '\t' || *text == '\r' || *text == '\n') {
        ++text;
    }
    return text;
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// The number parsers of the C library take their own blanks and sign; here
// the sign has already been read, so a number must begin with a digit (a
// second sign would otherwise wrap round to a huge or even a small value).
bool read_unsigned(const char*& text, int base, std::uint64_t& value) {
    if (!is_digit(*text)) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const unsigned long long number = std::strtoull(text, &end, base);
    if (errno == ERANGE) {
        return false;
    }
    text = end;
    value = number;
    return true;
}

// Minutes and seconds to the nearest frame (an exact half upward).  Returns
// -1 for a time that is no frame count at all.
std::int64_t time_to_frames(std::uint64_t minutes, double seconds) {
    // Any time this long lies far beyond the end of every possible file.
    if (minutes > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max() / 60)) {
        return invalid_offset;
    }
    const double whole_seconds = static_cast<double>(static_cast<std::int64_t>(minutes) * 60);
    const double frames = (whole_seconds + seconds) * 44100.0 + 0.5;
    // 2^63 is the first value that a 64-bit signed count cannot hold.
    constexpr double limit = 9223372036854775808.0;
    if (!std::isfinite(frames) || frames >= limit || frames <= -limit) {
        return invalid_offset;
    }
    const auto count = static_cast<std::int64_t>(frames);
    return count < 0 ? invalid_offset : count;
}

// [<minutes>]:[<seconds>] with blanks around the parts; `text` holds a colon.
std::int64_t parse_time(const char* text) {
    std::uint64_t minutes = 0;
    if (*text != ':') {
        if (!read_unsigned(text, 10, minutes)) {
            return invalid_offset;
        }
        text = skip_blanks(text);
        if (*text != ':') {
            return invalid_offset;
        }
    }
    text = skip_blanks(text + 1);
    double seconds = 0.0;
    if (*text != '\0') {
        char* end = nullptr;
        seconds = std::strtod(text, &end);
        if (end == text) {
            return invalid_offset;
        }
        text = skip_blanks(end);
        if (*text != '\0') {
            return invalid_offset;
        }
    }
    return time_to_frames(minutes, seconds);
}

std::int64_t parse_frame_count(const char* text) {
    std::uint64_t count = 0;
    if (!read_unsigned(text, 0, count)) {
        return invalid_offset;
    }
    if (*skip_blanks(text) != '\0' ||
        count > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return invalid_offset;
    }
    return static_cast<std::int64_t>(count);
}

}  // namespace

std::int64_t parse_offset(const char* text, std::int64_t size_frames) {
    text = skip_blanks(text);
    bool from_end = false;
    if (*text == '+' || *text == '-') {
        from_end = *text == '-';
        text = skip_blanks(text + 1);
    }
    if (*text == '\0') {
        return invalid_offset;
    }
    const std::int64_t count =
        std::strchr(text, ':') != nullptr ? parse_time(text) : parse_frame_count(text);
    if (count < 0 || count >= size_frames || (from_end && count == 0)) {
        return invalid_offset;
    }
    return from_end ? size_frames - count : count;
}

std::string format_play_time(std::int64_t frames) {
    const std::int64_t minutes = frames / frames_per_minute;
    const std::int64_t seconds = frames / frames_per_second - 60 * minutes;
    const std::int64_t fraction = (frames % frames_per_second * 2000 + 441) / 882;
    char text[64];
    std::snprintf(text, sizeof text, "%2" PRId64 ":%02" PRId64 ".%05" PRId64, minutes, seconds,
                  fraction);
    return text;
}
