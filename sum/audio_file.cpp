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

#include "common/program_name.h"

namespace {

constexpr std::uint32_t cd_rate = 44100;
constexpr std::uint32_t cd_channels = 2;
constexpr std::uint32_t cd_bits = 16;
constexpr std::size_t head_bytes = 65536;  // where a header's audio must begin

std::uint32_t le16(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0] | p[1] << 8);
}
std::uint32_t le32(const std::uint8_t* p) {
    return le16(p) | le16(p + 2) << 16;
}
std::uint32_t be16(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0] << 8 | p[1]);
}
std::uint32_t be32(const std::uint8_t* p) {
    return be16(p) << 16 | be16(p + 2);
}

bool is_tag(const std::uint8_t* p, const char* tag) {
    return std::memcmp(p, tag, 4) == 0;
}

// The audio runs from `offset` for the declared size, or to the end of the
// file where that comes first (a truncated file then shows as too short).
void settle_size(audio_placement& placement, std::uint64_t declared, std::uint64_t file_size) {
    const std::uint64_t rest = file_size > placement.offset ? file_size - placement.offset : 0;
    placement.bytes = std::min(declared, rest);
}

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
            settle_size(placement, chunk_size, file_size);
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
            settle_size(placement, chunk_size >= 8 + skip ? chunk_size - 8 - skip : 0, file_size);
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
    settle_size(placement, declared == au_unknown_size ? file_size : declared, file_size);
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
    } names[] = {{"pcm", audio_format::pcm},
                 {"mcp", audio_format::mcp},
                 {"wav", audio_format::wav},
                 {"aiff", audio_format::aiff},
                 {"au", audio_format::au}};
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
        placement.bytes = file_size;
    } else {
        const std::optional<audio_format> found = header_format(head, head_size);
        if (!found) {
            error = forced ? std::string("no ") + format_name(*forced) + " header"
                           : "not a WAV, AIFF or AU file (give -f pcm or -f mcp for raw PCM)";
            return false;
        }
        if (forced && *forced != *found) {
            error = std::string("a ") + format_name(*found) + " file, not " + format_name(*forced);
            return false;
        }
        placement.format = *found;
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
    if (placement.bytes % frame_bytes != 0) {
        error = "the audio ends inside a sample frame (" + std::to_string(placement.bytes) +
                " bytes, not a multiple of 4)";
        return false;
    }
    return true;
}

std::unique_ptr<audio_file> audio_file::open(const std::string& path,
                                             std::optional<audio_format> forced) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat status {};
    if (fd < 0 || ::fstat(fd, &status) != 0) {
        print_failure(path, std::strerror(errno));
        if (fd >= 0) {
            ::close(fd);
        }
        return nullptr;
    }
    if (!S_ISREG(status.st_mode)) {
        print_failure(path, "not a regular file");
        ::close(fd);
        return nullptr;
    }
    std::vector<std::uint8_t> head(head_bytes);
    ssize_t got;
    do {
        got = ::pread(fd, head.data(), head.size(), 0);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        print_failure(path, std::strerror(errno));
        ::close(fd);
        return nullptr;
    }
    audio_placement placement;
    std::string error;
    if (!place_audio(head.data(), static_cast<std::size_t>(got),
                     static_cast<std::uint64_t>(status.st_size), forced, placement, error)) {
        print_failure(path, error);
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<audio_file>(new audio_file(path, fd, placement));
}

audio_file::~audio_file() {
    ::close(fd_);
}

bool audio_file::read(std::int64_t first, std::size_t count, std::uint8_t* out) const {
    const auto total = static_cast<std::int64_t>(frames());
    const auto wanted = static_cast<std::int64_t>(count);
    const std::int64_t from = std::clamp<std::int64_t>(first, 0, total);
    const std::int64_t to = std::clamp<std::int64_t>(first + wanted, 0, total);
    // Silence before and after the file.
    std::size_t before =
        static_cast<std::size_t>(std::clamp<std::int64_t>(from - first, 0, wanted));
    std::memset(out, 0, before * frame_bytes);
    std::uint8_t* at = out + before * frame_bytes;
    std::size_t left = static_cast<std::size_t>(to > from ? to - from : 0) * frame_bytes;
    std::uint64_t position = placement_.offset + static_cast<std::uint64_t>(from) * frame_bytes;
    std::uint8_t* const audio = at;
    const std::size_t audio_bytes = left;
    while (left > 0) {
        const ssize_t got = ::pread(fd_, at, left, static_cast<off_t>(position));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            print_failure(path_, got < 0 ? std::strerror(errno) : "the file became shorter");
            return false;
        }
        at += got;
        left -= static_cast<std::size_t>(got);
        position += static_cast<std::uint64_t>(got);
    }
    if (placement_.big_endian) {
        swap_sample_bytes(audio, audio_bytes);
    }
    const std::size_t after = count - before - audio_bytes / frame_bytes;
    std::memset(at, 0, after * frame_bytes);
    return true;
}
