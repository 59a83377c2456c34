#include "sum/audio_file.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/byte_order.h"
#include "common/program_name.h"
#include "sum/input_file.h"

namespace {

constexpr std::uint32_t cd_rate = 44100;
constexpr std::uint32_t cd_channels = 2;
constexpr std::uint32_t cd_bits = 16;
constexpr std::size_t head_bytes = 65536;  // where a header's audio must begin

bool is_tag(const std::uint8_t* p, const char* tag) {
    return std::memcmp(p, tag, 4) == 0;
}

// The audio runs from `offset` for the declared size, or to the end of the
// file where that comes first (a truncated file then shows as too short).
// On a pipe the declared size holds unless it is the marker of a size left
// open (`open_size`), when the end of the stream tells.
void settle_size(audio_placement& placement, std::uint64_t declared, std::uint64_t file_size,
                 std::uint64_t open_size) {
    if (file_size == unknown_file_size) {
        placement.bytes = declared == open_size ? 0 : declared;
        placement.length_known = declared != open_size;
        return;
    }
    const std::uint64_t rest = file_size > placement.offset ? file_size - placement.offset : 0;
    placement.bytes = std::min(declared, rest);
}

// What a WAV or AIFF writer that cannot go back to its header (a pipe)
// gives as the size: the largest it can.
constexpr std::uint64_t open_chunk_size = 0xffffffff;

std::string not_cd_audio(const std::string& detail) {
    return "not CD audio (44100 Hz, 16-bit, stereo PCM): " + detail;
}

bool check_shape(std::uint32_t channels, std::uint32_t bits, std::uint32_t rate,
                 std::string& error) {
    if (channels != cd_channels) {
        error = not_cd_audio(std::to_string(channels) + " channels");
    } else if (bits != cd_bits) {
        error = not_cd_audio(std::to_string(bits) + "-bit samples");
    } else if (rate != cd_rate) {
        error = not_cd_audio(std::to_string(rate) + " Hz");
    } else {
        return true;
    }
    return false;
}

bool place_wav(const std::uint8_t* head, std::size_t size, std::uint64_t file_size,
               audio_placement& placement, std::string& error) {
    bool have_format = false;
    for (std::size_t at = 12; at + 8 <= size;) {
        const std::uint8_t* chunk = head + at;
        const std::uint64_t chunk_size = le32(chunk + 4);
        if (is_tag(chunk, "fmt ")) {
            if (chunk_size < 16 || at + 8 + 16 > size) {
                error = "damaged WAV header: the format chunk is too short";
                return false;
            }
            const std::uint8_t* f = chunk + 8;
            if (le16(f) != 1) {
                error = not_cd_audio("WAV format " + std::to_string(le16(f)));
                return false;
            }
            if (!check_shape(le16(f + 2), le16(f + 14), le32(f + 4), error)) {
                return false;
            }
            have_format = true;
        } else if (is_tag(chunk, "data")) {
            if (!have_format) {
                error = "damaged WAV header: no format chunk before the audio";
                return false;
            }
            placement.offset = at + 8;
            settle_size(placement, chunk_size, file_size, open_chunk_size);
            return true;
        }
        at += 8 + chunk_size + (chunk_size & 1);  // chunks are padded to even sizes
    }
    error = "damaged WAV header: no data chunk";
    return false;
}

// 44100 as the 80-bit extended number of the COMM chunk: the exponent and
// the top 32 bits of the mantissa; no CD rate has more.
bool is_cd_rate_80(const std::uint8_t* p) {
    const std::uint32_t exponent = be16(p);
    const std::uint32_t mantissa = be32(p + 2);
    return exponent == 0x400e && mantissa == 0xac440000 && be32(p + 6) == 0;
}

bool place_aiff(const std::uint8_t* head, std::size_t size, std::uint64_t file_size,
                audio_placement& placement, std::string& error) {
    bool have_format = false;
    for (std::size_t at = 12; at + 8 <= size;) {
        const std::uint8_t* chunk = head + at;
        const std::uint64_t chunk_size = be32(chunk + 4);
        if (is_tag(chunk, "COMM")) {
            if (chunk_size < 18 || at + 8 + 18 > size) {
                error = "damaged AIFF header: the COMM chunk is too short";
                return false;
            }
            const std::uint8_t* c = chunk + 8;
            const std::uint32_t rate = is_cd_rate_80(c + 8) ? cd_rate : 0;
            if (!check_shape(be16(c), be16(c + 6), rate, error)) {
                if (rate == 0 && be16(c) == cd_channels && be16(c + 6) == cd_bits) {
                    error = not_cd_audio("a sample rate other than 44100 Hz");
                }
                return false;
            }
            have_format = true;
        } else if (is_tag(chunk, "SSND")) {
            if (!have_format) {
                error = "damaged AIFF header: no COMM chunk before the audio";
                return false;
            }
            if (chunk_size < 8 || at + 16 > size) {
                error = "damaged AIFF header: the SSND chunk is too short";
                return false;
            }
            const std::uint64_t skip = be32(chunk + 8);  // the chunk's offset field
            placement.offset = at + 16 + skip;
            settle_size(placement, chunk_size >= 8 + skip ? chunk_size - 8 - skip : 0, file_size,
                        open_chunk_size - 8 - skip);
            return true;
        }
        at += 8 + chunk_size + (chunk_size & 1);
    }
    error = "damaged AIFF header: no SSND chunk";
    return false;
}

bool place_au(const std::uint8_t* head, std::size_t size, std::uint64_t file_size,
              audio_placement& placement, std::string& error) {
    constexpr std::uint32_t au_fixed_header = 24;
    constexpr std::uint32_t au_linear_16 = 3;
    constexpr std::uint32_t au_unknown_size = 0xffffffff;
    if (size < au_fixed_header) {
        error = "damaged AU header: too short";
        return false;
    }
    const std::uint32_t offset = be32(head + 4);
    const std::uint32_t declared = be32(head + 8);
    const std::uint32_t encoding = be32(head + 12);
    if (offset < au_fixed_header) {
        error = "damaged AU header: the audio would begin inside the header";
        return false;
    }
    if (encoding != au_linear_16) {
        error = not_cd_audio("AU encoding " + std::to_string(encoding));
        return false;
    }
    if (!check_shape(be32(head + 20), cd_bits, be32(head + 16), error)) {
        return false;
    }
    placement.offset = offset;
    const bool to_the_end = declared == au_unknown_size && file_size != unknown_file_size;
    settle_size(placement, to_the_end ? file_size : declared, file_size, au_unknown_size);
    return true;
}

std::optional<audio_format> header_format(const std::uint8_t* head, std::size_t size) {
    if (size >= 12 && is_tag(head, "RIFF") && is_tag(head + 8, "WAVE")) {
        return audio_format::wav;
    }
    if (size >= 12 && is_tag(head, "FORM") && is_tag(head + 8, "AIFF")) {
        return audio_format::aiff;
    }
    if (size >= 4 && is_tag(head, ".snd")) {
        return audio_format::au;
    }
    if (flac_reader::is_flac(head, size)) {
        return audio_format::flac;
    }
    return std::nullopt;
}

const char* format_name(audio_format format) {
    switch (format) {
        case audio_format::wav:
            return "WAV";
        case audio_format::aiff:
            return "AIFF";
        case audio_format::au:
            return "AU";
        case audio_format::flac:
            return "FLAC";
        case audio_format::pcm:
        case audio_format::mcp:
            break;
    }
    return "raw PCM";
}

void print_failure(const std::string& path, const std::string& reason) {
    std::fprintf(stderr, "%s: %s: %s\n", program_name, path.c_str(), reason.c_str());
}

// A 16-bit sample's two bytes exchanged, in every sample of the block.
void swap_sample_bytes(std::uint8_t* data, std::size_t size) {
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        std::swap(data[i], data[i + 1]);
    }
}

}  // namespace

std::optional<audio_format> audio_format_named(const char* name) {
    static constexpr struct {
        const char* name;
        audio_format format;
    } names[] = {{"pcm", audio_format::pcm}, {"mcp", audio_format::mcp},
                 {"wav", audio_format::wav}, {"aiff", audio_format::aiff},
                 {"au", audio_format::au},   {"flac", audio_format::flac}};
    for (const auto& entry : names) {
        if (::strcasecmp(entry.name, name) == 0) {
            return entry.format;
        }
    }
    return std::nullopt;
}

bool place_audio(const std::uint8_t* head, std::size_t head_size, std::uint64_t file_size,
                 std::optional<audio_format> forced, audio_placement& placement,
                 std::string& error) {
    placement = audio_placement{};
    if (forced == audio_format::pcm || forced == audio_format::mcp) {
        placement.format = *forced;
        placement.big_endian = *forced == audio_format::mcp;
        placement.length_known = file_size != unknown_file_size;
        placement.bytes = placement.length_known ? file_size : 0;
    } else {
        const std::optional<audio_format> found = header_format(head, head_size);
        if (!found && head_size == 0) {
            error = file_size == unknown_file_size ? "nothing came through the pipe"
                                                   : "the file is empty";
            return false;
        }
        if (!found) {
            error = forced ? std::string("no ") + format_name(*forced) + " header"
                           : "not a WAV, AIFF, AU or FLAC file (give -f pcm or -f mcp for raw PCM)";
            return false;
        }
        if (forced && *forced != *found) {
            error = std::string("a ") + format_name(*found) + " file, not " + format_name(*forced);
            return false;
        }
        placement.format = *found;
        if (*found == audio_format::flac) {
            return true;  // its decoder finds the audio
        }
        placement.big_endian = *found != audio_format::wav;
        const bool placed = *found == audio_format::wav
                                ? place_wav(head, head_size, file_size, placement, error)
                            : *found == audio_format::aiff
                                ? place_aiff(head, head_size, file_size, placement, error)
                                : place_au(head, head_size, file_size, placement, error);
        if (!placed) {
            return false;
        }
    }
    if (placement.length_known && placement.bytes % frame_bytes != 0) {
        error = "the audio ends inside a sample frame (" + std::to_string(placement.bytes) +
                " bytes, not a multiple of 4)";
        return false;
    }
    return true;
}

namespace {

// The first bytes of a regular file, where a header must show.
bool read_file_start(int fd, std::vector<std::uint8_t>& head, std::string& error) {
    head.resize(head_bytes);
    ssize_t got;
    do {
        got = ::pread(fd, head.data(), head.size(), 0);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        error = std::strerror(errno);
        return false;
    }
    head.resize(static_cast<std::size_t>(got));
    // A FLAC file may carry a tag with a picture before its marker; the
    // marker is all the head needs to show.
    const std::uint64_t tag = flac_reader::id3v2_bytes(head.data(), head.size());
    std::uint8_t marker[4];
    if (tag + 4 > head.size() &&
        ::pread(fd, marker, sizeof marker, static_cast<off_t>(tag)) == sizeof marker &&
        std::memcmp(marker, "fLaC", 4) == 0) {
        head.assign({'f', 'L', 'a', 'C'});
    }
    return true;
}

}  // namespace

std::unique_ptr<audio_file> audio_file::open(const std::string& path,
                                             std::optional<audio_format> forced) {
    std::string error;
    input_kind kind = input_kind::file;
    const int fd = open_input(path, kind, error);
    if (fd < 0) {
        print_failure(path, error);
        return nullptr;
    }
    std::unique_ptr<audio_file> file(new audio_file(path, fd, kind));
    struct stat status {};
    std::vector<std::uint8_t> head;
    const bool started = kind == input_kind::pipe    ? read_pipe_start(fd, head_bytes, head, error)
                         : ::fstat(fd, &status) == 0 ? read_file_start(fd, head, error)
                                                     : (error = std::strerror(errno), false);
    const std::uint64_t size =
        kind == input_kind::pipe ? unknown_file_size : static_cast<std::uint64_t>(status.st_size);
    if (!started || !place_audio(head.data(), head.size(), size, forced, file->placement_, error)) {
        print_failure(path, error);
        return nullptr;
    }
    if (file->placement_.format == audio_format::flac) {
        // The decoder takes the descriptor, and a pipe's first bytes with it.
        file->fd_ = -1;
        file->flac_ = flac_reader::adopt(
            fd, kind == input_kind::pipe ? std::move(head) : std::vector<std::uint8_t>{}, error);
        if (file->flac_ == nullptr) {
            print_failure(path, error);
            return nullptr;
        }
    } else if (kind == input_kind::pipe) {
        file->head_ = std::move(head);
    }
    return file;
}

audio_file::~audio_file() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

std::uint64_t audio_file::frames() const {
    if (flac_ != nullptr) {
        return flac_->frames();
    }
    return placement_.length_known ? placement_.bytes / frame_bytes : expected_frames_;
}

bool audio_file::fail(const std::string& reason) const {
    print_failure(path_, reason);
    return false;
}

bool audio_file::read(std::int64_t first, std::size_t count, std::uint8_t* out) {
    const auto total = static_cast<std::int64_t>(frames());
    const auto wanted = static_cast<std::int64_t>(count);
    const std::int64_t from = std::clamp<std::int64_t>(first, 0, total);
    const std::int64_t to = std::clamp<std::int64_t>(first + wanted, 0, total);
    // Silence before and after the file.
    const auto before = static_cast<std::size_t>(std::clamp<std::int64_t>(from - first, 0, wanted));
    const auto inside = static_cast<std::size_t>(to > from ? to - from : 0);
    std::memset(out, 0, before * frame_bytes);
    if (inside > 0 &&
        !read_audio(static_cast<std::uint64_t>(from), inside, out + before * frame_bytes)) {
        return false;
    }
    std::memset(out + (before + inside) * frame_bytes, 0, (count - before - inside) * frame_bytes);
    return true;
}

bool audio_file::read_audio(std::uint64_t from, std::size_t count, std::uint8_t* out) {
    if (flac_ != nullptr) {
        std::string error;
        return flac_->read(from, count, out, error) || fail(error);
    }
    const std::size_t size = count * frame_bytes;
    const std::uint64_t position = placement_.offset + from * frame_bytes;
    if (is_pipe()) {
        const ssize_t got = read_stream(position, out, size);
        if (got < 0) {
            return false;
        }
        if (static_cast<std::size_t>(got) < size) {
            return fail("the stream ends after " +
                        std::to_string((consumed_ - placement_.offset) / frame_bytes) + " of " +
                        std::to_string(frames()) + " samples");
        }
    } else {
        for (std::size_t done = 0; done < size;) {
            const ssize_t got =
                ::pread(fd_, out + done, size - done, static_cast<off_t>(position + done));
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                return fail(got < 0 ? std::strerror(errno) : "the file became shorter");
            }
            done += static_cast<std::size_t>(got);
        }
    }
    if (placement_.big_endian) {
        swap_sample_bytes(out, size);
    }
    return true;
}

ssize_t audio_file::read_stream(std::uint64_t position, std::uint8_t* to, std::size_t size) {
    if (position < consumed_) {
        fail("a pipe is read once, in order: byte " + std::to_string(position) + " has gone by");
        return -1;
    }
    std::size_t done = 0;
    std::uint8_t skipped[4096];
    while (done < size) {
        // Bytes before `position` (what lies between a header and its
        // audio) are passed over.
        const bool skipping = consumed_ < position;
        std::uint8_t* into = skipping ? skipped : to + done;
        std::size_t want = skipping ? static_cast<std::size_t>(std::min<std::uint64_t>(
                                          sizeof skipped, position - consumed_))
                                    : size - done;
        ssize_t got;
        if (consumed_ < head_.size()) {
            want =
                static_cast<std::size_t>(std::min<std::uint64_t>(want, head_.size() - consumed_));
            std::memcpy(into, head_.data() + consumed_, want);
            got = static_cast<ssize_t>(want);
        } else {
            got = ::read(fd_, into, want);
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            fail(std::strerror(errno));
            return -1;
        }
        if (got == 0) {
            break;
        }
        consumed_ += static_cast<std::uint64_t>(got);
        done += skipping ? 0 : static_cast<std::size_t>(got);
    }
    return static_cast<ssize_t>(done);
}

bool audio_file::finish() {
    if (flac_ != nullptr) {
        flac_reader::md5_verdict verdict{};
        std::string error;
        if (!flac_->finish(verdict, error)) {
            return fail(error);
        }
        return verdict != flac_reader::md5_verdict::differs ||
               fail("the decoded audio does not match the MD5 signature in the file's STREAMINFO");
    }
    if (!is_pipe() || placement_.length_known) {
        return true;
    }
    std::uint8_t more[frame_bytes];
    const ssize_t got = read_stream(placement_.offset + frames() * frame_bytes, more, sizeof more);
    if (got < 0) {
        return false;
    }
    return got == 0 || fail("the stream goes on after " + std::to_string(frames()) + " samples");
}
