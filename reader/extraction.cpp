#include "reader/extraction.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/exit.h"
#include "common/interrupt.h"
#include "common/program_name.h"
#include "output/format.h"
#include "output/listing.h"
#include "output/track_name.h"
#include "reader/file_tags.h"
#include "reader/output_guard.h"
#include "scsi/read_mode.h"
#include "scsi/toc.h"

namespace {

constexpr int standard_output = 1;
constexpr mode_t output_permissions = 0644;
constexpr std::uint64_t frames_per_sector = 588;

// Where the audio goes.
struct output_target {
    int fd = standard_output;
    bool per_track = false;
    // The stream is a file this run opened.  Its descriptor may be 1 when
    // the program was started with standard output closed, so the number
    // alone does not tell.
    bool file_opened = false;
};

// A run that ends early, by a failure or an interrupt, after switching the
// drive away from its data defaults puts them back on its way out: the
// kernel's own 2048-byte reads of the drive would fail until then.
class data_defaults_guard {
  public:
    data_defaults_guard(scsi_device& device, read_mode_state& state)
        : device_(device), state_(state) {}
    ~data_defaults_guard() { restore_data_mode_quietly(device_, state_); }
    data_defaults_guard(const data_defaults_guard&) = delete;
    data_defaults_guard& operator=(const data_defaults_guard&) = delete;

  private:
    scsi_device& device_;
    read_mode_state& state_;
};

// Everything the run keeps while it goes.
struct run_state {
    const extraction_run& run;
    reader_settings& settings;
    const format_entry& format;
    track_table table;
    read_mode_state mode;
    transfer_progress progress;
    listing_sums sums;
    output_target output;
    std::string output_name;
    // A drive with a read offset: the correction, and the samples of the
    // audio area's edges that it filled with silence.
    std::optional<offset_correction> correction;
    std::int64_t filled_samples = 0;
    // An encoded format: the tags every file gets, and the encoder of the
    // single stream.
    std::vector<std::string> disc_tags;
    std::unique_ptr<audio_encoder> stream_encoder;
    data_defaults_guard restore_on_early_end{run.device, mode};

    explicit run_state(const extraction_run& r)
        : run(r), settings(r.settings), format(*r.settings.selected_format) {
        progress.clock = r.clock;
        if (settings.read_offset != 0) {
            correction.emplace(settings.read_offset);
        }
    }
    bool quiet() const { return settings.quiet != 0; }
    bool index_only() const { return settings.index_only != 0; }
    bool sector_range() const { return settings.start_sector >= 0; }
    bool rows_shown() const { return !quiet() || index_only(); }
    bool encodes() const { return format.start_encoder != nullptr; }
};

// An encoded format carries audio only: a data track is listed but neither
// read nor written.
bool left_out(const run_state& s, int kind) {
    return s.encodes() && kind != track_kind_audio;
}

// The track (1-based) that holds the sector, counted as track_kind_at does.
int track_number_at(const track_table& table, std::int64_t sector) {
    int t = 0;
    while (t + 1 < table.track_count && sector >= table.track_start[t + 1]) {
        ++t;
    }
    return t + 1;
}

void say_left_out(const run_state& s, int track_number) {
    if (!s.quiet()) {
        std::fprintf(stderr, "%s: Track %d is a data track; not written as FLAC.\n", program_name,
                     track_number);
    }
}

// A drive may list its tracks out of order.  A track that ends before it
// starts is read as empty: it adds nothing to the plan, so that the stream's
// header, the progress line and the statistics describe what is written.
std::int64_t sectors_read(std::int64_t first, std::int64_t end) {
    return end > first ? end - first : 0;
}

std::uint64_t payload_bytes(std::int64_t sectors) {
    return sectors > 0 ? static_cast<std::uint64_t>(sectors) * sector_bytes : 0;
}

int open_output_file(const std::string& name) {
    int fd;
    do {
        // Opening a FIFO waits for its reader; an interrupt ends that wait.
        fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, output_permissions);
        if (fd < 0 && errno == EINTR) {
            stop_if_interrupted();
        }
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        exit_with_errno("open(output file)");
    }
    return fd;
}

// A file system may report a lost write only when the file is closed.
void close_output_file(int fd) {
    if (::close(fd) != 0) {
        exit_with_errno("close(output file)");
    }
}

// What the run reads: the data tracks an encoded format leaves out do not
// count, so that the progress line and the statistics describe what is
// written.
std::int64_t planned_sectors(const run_state& s) {
    const bool skips = !s.index_only();
    if (s.sector_range()) {
        if (skips && left_out(s, track_kind_at(s.table, s.settings.start_sector))) {
            return 0;
        }
        return s.settings.end_sector - s.settings.start_sector;
    }
    std::int64_t total = 0;
    for (int i = 0; i < s.run.selection.count; ++i) {
        const int t = s.run.selection.indexes[i];
        if (t < s.table.track_count && !(skips && left_out(s, track_kind(s.table, t)))) {
            total += sectors_read(s.table.track_start[t], track_end(s.table, t));
        }
    }
    return total;
}

// Every file the run will open for writing: the single file, or the file of
// each selected track on the disc.
std::vector<std::string> output_files(const run_state& s) {
    if (s.index_only() || s.output_name == "-") {
        return {};
    }
    if (!writes_file_per_track(s.settings, s.output_name)) {
        return {s.output_name};
    }
    std::vector<std::string> names;
    for (int i = 0; i < s.run.selection.count; ++i) {
        const int t = s.run.selection.indexes[i];
        if (t < s.table.track_count) {
            names.push_back(format_track_name(s.output_name, t + 1));
        }
    }
    return names;
}

void choose_output(run_state& s) {
    if (s.index_only()) {
        s.output.per_track = true;
    } else if (writes_file_per_track(s.settings, s.output_name)) {
        s.output.per_track = true;
    } else if (s.output_name == "-") {
    } else {
        if (!s.quiet()) {
            std::fprintf(stderr, "Output file: %s\n", s.output_name.c_str());
        }
        s.output.fd = open_output_file(s.output_name);
        s.output.file_opened = true;
    }
}

void switch_mode_for(run_state& s, int kind) {
    set_read_mode(s.run.device, s.mode, {s.run.entry, s.format.byte_swap == 1},
                  kind == track_kind_audio ? audio_mode : data_mode);
}

// The encoder of the single stream, in place of its header.
void start_stream_encoder(run_state& s, std::uint64_t sectors) {
    encoded_stream stream;
    stream.fd = s.output.fd;
    stream.name = s.output.file_opened ? s.output_name : "standard output";
    stream.own_file = s.output.file_opened;
    stream.sample_frames = sectors * frames_per_sector;
    stream.tags = s.disc_tags;
    s.stream_encoder = s.format.start_encoder(stream);
}

std::unique_ptr<audio_encoder> start_track_encoder(const run_state& s, int fd,
                                                   const std::string& name, int track_number,
                                                   std::uint64_t sectors) {
    encoded_stream stream;
    stream.fd = fd;
    stream.name = name;
    stream.own_file = true;
    stream.sample_frames = sectors * frames_per_sector;
    stream.tags = track_file_tags(s.table, track_number, s.disc_tags);
    return s.format.start_encoder(stream);
}

// Audio from a drive with a read offset is read corrected; everything else
// as the drive gives it.
offset_correction* correction_for(run_state& s, std::int64_t first, std::int64_t end, int kind) {
    if (!s.correction) {
        return nullptr;
    }
    if (kind != track_kind_audio) {
        s.correction->forget();
        return nullptr;
    }
    const sector_span area = audio_area(s.table, first);
    s.correction->set_area(area.first, area.end, first, end);
    s.filled_samples += s.correction->samples_outside_area(first, end);
    return &*s.correction;
}

extraction chunking(run_state& s, std::int64_t first, std::int64_t end, int kind) {
    extraction run{s.run.device,         s.mode,
                   s.progress,           s.settings.read_size,
                   s.settings.verbosity, s.run.selection.count};
    run.correction = correction_for(s, first, end, kind);
    return run;
}

void extract(run_state& s, std::int64_t first, std::int64_t end, int kind, int fd) {
    extract_range(chunking(s, first, end, kind), first, end, fd);
}

void extract(run_state& s, std::int64_t first, std::int64_t end, int kind, audio_encoder& encoder) {
    extract_range(
        chunking(s, first, end, kind), first, end,
        [&encoder](const std::uint8_t* data, std::size_t bytes) { encoder.write(data, bytes); });
}

// Reads the sectors into the single stream: its encoder, or its descriptor.
void extract_into_stream(run_state& s, std::int64_t first, std::int64_t end, int kind) {
    if (s.stream_encoder != nullptr) {
        extract(s, first, end, kind, *s.stream_encoder);
    } else {
        extract(s, first, end, kind, s.output.fd);
    }
}

void start_stream(run_state& s) {
    const std::uint64_t payload = payload_bytes(s.progress.planned_sectors);
    if (s.encodes()) {
        start_stream_encoder(s, payload / sector_bytes);
    } else {
        s.format.write_header(payload, s.output.fd);
    }
}

void extract_sector_range(run_state& s) {
    const std::int64_t first = s.settings.start_sector;
    const std::int64_t end = s.settings.end_sector;
    const int kind = track_kind_at(s.table, first);
    if (s.rows_shown()) {
        std::fputs(listing_range_prefix, stderr);
        print_listing_row(s.sums, s.settings.kbps, listing_range_row, 1, first, end, kind);
    }
    if (s.index_only()) {
        return;
    }
    if (!s.quiet()) {
        std::fputs("  Reading ...\r", stderr);
    }
    start_stream(s);
    if (left_out(s, kind)) {
        say_left_out(s, track_number_at(s.table, first));
        return;
    }
    switch_mode_for(s, kind);
    extract_into_stream(s, first, end, kind);
    restore_data_mode(s.run.device, s.mode);
}

int open_track_file(const run_state& s, const std::string& name) {
    if (!s.quiet()) {
        if (s.settings.verbosity >= 2) {
            std::fprintf(stderr, "  (output file: %s)\n", name.c_str());
        } else {
            std::fprintf(stderr, "  Reading to %s ...\r", name.c_str());
        }
    }
    return open_output_file(name);
}

void extract_track(run_state& s, int t) {
    const std::int64_t first = s.table.track_start[t];
    const std::int64_t end = track_end(s.table, t);
    const int kind = track_kind(s.table, t);
    if (s.rows_shown()) {
        print_listing_row(s.sums, s.settings.kbps, t + 1, 1, first, end, kind);
    }
    if (s.index_only()) {
        return;
    }
    if (left_out(s, kind)) {
        say_left_out(s, t + 1);
        return;
    }
    if (!s.output.per_track) {
        if (!s.quiet()) {
            std::fputs("  Reading ...\r", stderr);
        }
        switch_mode_for(s, kind);
        extract_into_stream(s, first, end, kind);
        return;
    }
    const std::string name = format_track_name(s.output_name, t + 1);
    const int fd = open_track_file(s, name);
    std::unique_ptr<audio_encoder> encoder;
    if (s.encodes()) {
        encoder = start_track_encoder(s, fd, name, t + 1, sectors_read(first, end));
    } else {
        s.format.write_header(payload_bytes(end - first), fd);
    }
    switch_mode_for(s, kind);
    if (encoder != nullptr) {
        extract(s, first, end, kind, *encoder);
        encoder->finish();
    } else {
        extract(s, first, end, kind, fd);
    }
    close_output_file(fd);
}

void print_totals(run_state& s) {
    const int count = s.run.selection.count;
    if (s.quiet() || count < 2) {
        return;
    }
    std::fputs(listing_separator, stderr);
    std::fputs(listing_totals_prefix, stderr);
    print_listing_row(s.sums, s.settings.kbps, listing_totals_row, count, 0,
                      s.progress.planned_sectors, track_kind_audio);
}

void extract_tracks(run_state& s) {
    if (!s.output.per_track && !s.index_only()) {
        start_stream(s);
    }
    for (int i = 0; i < s.run.selection.count; ++i) {
        const int t = s.run.selection.indexes[i];
        if (t < s.table.track_count) {
            extract_track(s, t);
        }
    }
    restore_data_mode(s.run.device, s.mode);
    print_totals(s);
}

void print_statistics(const run_state& s, std::int64_t end_us) {
    if (s.index_only() || (s.quiet() && s.settings.verbosity < 1)) {
        return;
    }
    if (!s.quiet()) {
        std::fprintf(stderr, "%62s\n", "");
    }
    if (s.correction && s.settings.verbosity >= 1) {
        std::fprintf(stderr,
                     "Read offset correction: %" PRId64
                     " samples outside the audio area filled with silence.\n",
                     s.filled_samples);
    }
    const std::string line =
        transfer_statistics(s.progress.planned_sectors, s.progress.run_start_us, end_us);
    std::fputs(line.c_str(), stderr);
}

}  // namespace

std::string transfer_statistics(std::int64_t planned_sectors, std::int64_t start_us,
                                std::int64_t end_us) {
    const std::int64_t elapsed_us = end_us > start_us ? end_us - start_us : 1;
    const std::int64_t ms = (elapsed_us + 500) / 1000;
    // 2352 bytes are 147/64 kilobytes.
    const auto byte_units = static_cast<std::uint64_t>(planned_sectors * 147);
    const float kb = static_cast<float>(byte_units) * 0.015625f;
    const float mb = kb * 0.0009765625f;
    const float seconds = static_cast<float>(ms) / 1000.0f;
    const auto divisor = static_cast<float>(ms >= 4 ? (ms + 4) / 8 : 1);
    const float rate = 128.0f * kb / divisor;
    const auto speed = static_cast<float>(static_cast<double>(rate) / 176.4);
    char line[160];
    std::snprintf(line, sizeof line,
                  "Transferred %.3f Mb in %.1f seconds, %.1f kb/s, speed: %.1f.\n",
                  static_cast<double>(mb), static_cast<double>(seconds), static_cast<double>(rate),
                  static_cast<double>(speed));
    return line;
}

void run_extraction(const extraction_run& run) {
    run_state s(run);
    load_track_table(run.device, s.mode, s.table);
    s.progress.planned_sectors = planned_sectors(s);
    if (s.encodes() && !s.index_only()) {
        s.disc_tags = disc_tags(s.table);
    }
    s.output_name = expand_output_name(s.settings.output_name, s.format);
    s.settings.output_name = s.output_name;
    refuse_output_over_sources(output_files(s), run.sources);
    choose_output(s);
    if (!s.quiet()) {
        print_listing_header(s.settings.kbps);
    }
    s.progress.run_start_us = s.progress.clock();
    if (s.sector_range()) {
        extract_sector_range(s);
    } else {
        extract_tracks(s);
    }
    if (s.stream_encoder != nullptr) {
        s.stream_encoder->finish();
    }
    if (s.output.file_opened && !s.index_only()) {
        close_output_file(s.output.fd);
    }
    print_statistics(s, s.progress.clock());
    scsi_close(run.device);
}
