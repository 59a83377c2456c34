#include "output/listing.h"

#include <cinttypes>
#include <cstdio>
#include <string>

namespace {

constexpr std::int64_t sectors_per_minute = 4500;
constexpr std::int64_t sectors_per_second = 75;
constexpr std::int64_t bytes_per_sector = 2352;

// Held in 128 bits: an absurd -k value times a huge range must not overflow.
using wide = __int128;

std::string wide_text(wide value) {
    const bool negative = value < 0;
    std::string digits;
    do {
        const int digit = static_cast<int>(value % 10);
        digits.insert(digits.begin(), static_cast<char>('0' + (negative ? -digit : digit)));
        value /= 10;
    } while (value != 0);
    return negative ? "-" + digits : digits;
}

void print_playing_time(std::int64_t sectors) {
    if (sectors < 1) {
        std::fputs("        -", stderr);
        return;
    }
    const std::int64_t minutes = sectors / sectors_per_minute;
    const std::int64_t rest = sectors % sectors_per_minute;
    std::fprintf(stderr, "%3" PRId64 ":%02" PRId64 "'%02" PRId64, minutes,
                 rest / sectors_per_second, rest % sectors_per_second);
}

// The mp3 estimate: the audio at the bit rate, plus an allowance per track,
// and the number of 1152-sample frames that base * 588 samples fill.
void print_mp3_estimate(std::int64_t base, int kbps, int track_count) {
    if (base < 1) {
        std::fputs("         -       -", stderr);
        return;
    }
    const wide size = wide{base} * kbps * 5 / 3 + wide{kbps} * track_count * 320 / 49;
    const wide frames = (wide{base} * 49 + 95) / 96;
    std::fprintf(stderr, " %9s %7s", wide_text(size).c_str(), wide_text(frames).c_str());
}

}  // namespace

void print_listing_header(int kbps) {
    std::fputs("\n", stderr);
    std::fputs(" track   playing  start    end     raw size  mp3 size   # of   track\n", stderr);
    std::fprintf(stderr, " number   time    sector  sector   in bytes  %3d kbps  frames  type\n",
                 kbps);
    std::fputs(listing_separator, stderr);
}

void print_listing_row(listing_sums& sums, int kbps, int track_number, int track_count,
                       std::int64_t start, std::int64_t end, int kind) {
    const bool totals = track_number <= listing_totals_row;
    if (track_number >= 1 && track_count == 1) {
        std::fprintf(stderr, "  %3d  ", track_number);
    }
    const std::int64_t sectors = end - start;
    // A row whose end lies before its start (a drive listing its tracks out
    // of order) covers nothing, so the totals row gets nothing from it.
    const std::int64_t covered = sectors > 0 ? sectors : 0;

    print_playing_time(totals ? sums.listed_playing_sectors : (kind >= 0 ? sectors : 0));
    if (totals) {
        std::fprintf(stderr, " %7" PRId64 " sectors", sectors);
    } else {
        std::fprintf(stderr, " %7" PRId64 " %7" PRId64, start, end - 1);
    }
    std::fprintf(stderr, " %10s", wide_text(wide{sectors} * bytes_per_sector).c_str());

    const std::int64_t base = totals ? sums.listed_audio_sectors : (kind > 0 ? sectors : 0);
    if (!totals) {
        sums.listed_audio_sectors += kind > 0 ? covered : 0;
    }
    print_mp3_estimate(base, kbps, track_count);

    if (totals) {
        std::fputs("\n", stderr);
    } else if (kind < 0) {
        std::fputs("  data\n", stderr);
    } else {
        std::fprintf(stderr, "  %s\n", kind != 0 ? "audio" : "video");
        sums.listed_playing_sectors += covered;
    }
}
