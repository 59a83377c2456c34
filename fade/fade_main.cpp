#include "fade/fade_main.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>

#include "common/exit.h"
#include "common/interrupt.h"
#include "common/program_name.h"
#include "fade/fade_engine.h"
#include "fade/offsets.h"

namespace {

constexpr int percent_silence = 0;
constexpr int percent_full = 100;

// Which end of the fade is silent decides the direction; the fade always runs
// from the lower frame to the higher one.
struct fade_plan {
    std::int64_t start_frame;
    std::int64_t end_frame;
    int start_percent;
    int end_percent;
    std::int32_t start_gain;
    std::int32_t end_gain;
};

fade_plan plan_fade(std::int64_t silent_offset, std::int64_t full_offset) {
    if (silent_offset < full_offset) {
        return {silent_offset, full_offset, percent_silence, percent_full, 0, fade_unity_gain};
    }
    return {full_offset, silent_offset, percent_full, percent_silence, fade_unity_gain, 0};
}

[[noreturn]] void fail(const char* message) {
    std::fprintf(stderr, "%s: %s\n", program_name, message);
    throw exit_request{1};
}

std::int64_t parse_offset_or_exit(const char* text, std::int64_t size_frames) {
    const std::int64_t offset = parse_offset(text, size_frames);
    if (offset < 0) {
        fail("Offset specification invalid or out of range.");
    }
    return offset;
}

void print_report(const char* path, std::int64_t size_frames, const fade_plan& plan) {
    std::printf("File:  %s\n", path);
    std::printf("Size (in samples):  %8" PRId64 " / %s\n", size_frames,
                format_play_time(size_frames).c_str());
    std::printf("Fading from %3d%% at %8" PRId64 " / %s\n", plan.start_percent, plan.start_frame,
                format_play_time(plan.start_frame).c_str());
    std::printf("         to %3d%% at %8" PRId64 " / %s\n", plan.end_percent, plan.end_frame,
                format_play_time(plan.end_frame).c_str());
    const std::int64_t duration = plan.end_frame - plan.start_frame;
    std::printf("Duration of fade:   %8" PRId64 " / %s\n", duration,
                format_play_time(duration).c_str());
    // The report comes before the work, also when stdout is a pipe.  A
    // report that cannot be written ends the run with the file untouched:
    // a fade reported as failed must not have happened, or running the
    // command again would fade the audio twice.  The same holds for the
    // warning on standard error; its loss would fail the run at the end.
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        exit_with_errno("write()");
    }
    if (std::ferror(stderr) != 0) {
        throw exit_request{1};  // nowhere left to say why
    }
}

}  // namespace

void print_fade_usage() {
    std::fprintf(stderr, "Usage:  %s <0%% offset> <100%% offset> <PCM file>\n", program_name);
    std::fputs(
        "The following formats can be used for offsets:\n"
        "   [-][<minutes>]:<seconds>\n"
        "   [-]<samples>\n"
        "<minutes> is an integer value, default is 0.\n"
        "<seconds> is an integer OR floating point value (can be >= 60).\n"
        "<samples> is an integer value (1 sample = 4 bytes).\n"
        "Negative values are relative to the end of the file.\n"
        "if <0% offset>  <  <100% offset>, a fade-in is created.\n"
        "if <0% offset>  >  <100% offset>, a fade-out is created.\n"
        "Note: the samples are assumed to be 44.1 kHz signed 16 bit stereo:\n"
        "      1 second = 44100 samples = 176400 bytes.\n"
        "WARNING: the <PCM file> is modified in place, so make a backup copy!\n",
        stderr);
    throw exit_request{0};
}

int fade_main(int argc, char** argv) {
    // A program started with an empty argument vector still names itself.
    set_program_name(argc > 0 ? argv[0] : "vorkfade");
    if (argc != 4) {
        print_fade_usage();
    }
    const char* const path = argv[3];
    // run_main has reserved the standard descriptors, so the file never
    // lands on a closed standard output and receives the report.
    const int fd = ::open(path, O_RDWR);
    if (fd < 0) {
        exit_with_errno(path);
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        exit_with_errno(path);
    }
    const std::int64_t size_bytes = status.st_size;
    if (size_bytes % frame_bytes != 0) {
        std::fprintf(stderr, "%s: Warning: file size is not a multiple of 4.\n", program_name);
    }
    const std::int64_t size_frames = size_bytes / frame_bytes;

    const std::int64_t silent_offset = parse_offset_or_exit(argv[1], size_frames);
    const std::int64_t full_offset = parse_offset_or_exit(argv[2], size_frames);
    if (silent_offset == full_offset) {
        ::close(fd);
        fail("start offset and end offset must be different.");
    }
    const fade_plan plan = plan_fade(silent_offset, full_offset);
    print_report(path, size_frames, plan);
    // From here a signal ends the run between two blocks (fade_region).
    catch_interrupts(quit_signal::noted);

    fade_region(fd, fade_unity_gain, plan.start_frame, plan.start_gain, plan.end_frame,
                plan.end_gain);
    // On some file systems the last write's failure shows only here.
    if (::close(fd) != 0) {
        exit_with_errno("close()");
    }
    return 0;
}
