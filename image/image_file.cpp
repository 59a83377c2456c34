#include "image/image_file.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

#include "common/byte_order.h"
#include "image/file_finder.h"

namespace {

constexpr std::uint32_t cd_rate = 44100;
constexpr std::uint32_t cd_bits = 16;
constexpr std::uint32_t cd_channels = 2;
constexpr std::uint64_t frame_bytes = 4;

bool tagged(const std::uint8_t* p, const char* tag) {
    return std::memcmp(p, tag, 4) == 0;
}

// Where the audio of a WAVE or AIFF file lies, and its shape.
struct pcm_layout {
    std::uint64_t offset = 0;
    std::uint64_t bytes = 0;
    bool big_endian = false;
    std::uint32_t rate = 0;
    std::uint32_t bits = 0;
    std::uint32_t channels = 0;
};

// Reads exactly `length` bytes at `offset` of the file, or fewer where the
// file ends; false on a failed read.
bool read_at(int fd, std::uint8_t* out, std::size_t length, std::uint64_t offset,
             std::size_t& got) {
    got = 0;
    while (got < length) {
        const ssize_t n = ::pread(fd, out + got, length - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    return true;
}

// The audio runs for its declared size, or to the end of the file where that
// comes first: a writer that could not go back to fill in the size (or a
// cut-off download) leaves a size past the end.
void settle(pcm_layout& layout, std::uint64_t declared, std::uint64_t file_size) {
    const std::uint64_t rest = file_size > layout.offset ? file_size - layout.offset : 0;
    layout.bytes = std::min(declared, rest);
}

// Walks the chunks of a RIFF or IFF file after its 12-byte header; `visit`
// gets each chunk's tag, position and size and returns true to stop.
template <typename visitor>
bool walk_chunks(int fd, std::uint64_t file_size, bool big_endian, visitor visit,
                 std::string& problem) {
    for (std::uint64_t at = 12; at + 8 <= file_size;) {
        std::uint8_t head[8];
        std::size_t got = 0;
        if (!read_at(fd, head, sizeof head, at, got)) {
            problem = std::string("chunks that cannot be read (") + std::strerror(errno) + ")";
            return false;
        }
        if (got < sizeof head) {
            problem = "chunks cut short";
            return false;
        }
        const std::uint64_t size = big_endian ? be32(head + 4) : le32(head + 4);
        if (visit(head, at, size)) {
            return true;
        }
        if (!problem.empty()) {
            return false;
        }
        at += 8 + size + (size & 1);  // chunks are padded to even sizes
    }
    return false;
}

bool read_wave(int fd, std::uint64_t file_size, pcm_layout& layout, std::string& problem) {
    bool have_format = false;
    const auto visit = [&](const std::uint8_t* head, std::uint64_t at, std::uint64_t size) {
        std::uint8_t format[40] = {};
        std::size_t got = 0;
        if (tagged(head, "fmt ")) {
            if (size < 16 || !read_at(fd, format, std::min<std::uint64_t>(size, 40), at + 8, got) ||
                got < 16) {
                problem = "a damaged WAVE header (the format chunk is too short)";
                return false;
            }
            const std::uint32_t tag = le16(format);
            constexpr std::uint32_t pcm = 1;
            constexpr std::uint32_t extensible = 0xfffe;
            const bool pcm_inside = tag == extensible && got >= 26 && le16(format + 24) == pcm;
            if (tag != pcm && !pcm_inside) {
                problem = "WAVE audio that is not PCM (format " + std::to_string(tag) + ")";
                return false;
            }
            layout.channels = le16(format + 2);
            layout.rate = le32(format + 4);
            layout.bits = le16(format + 14);
            have_format = true;
            return false;
        }
        if (tagged(head, "data")) {
            if (!have_format) {
                problem = "a damaged WAVE header (no format chunk before the audio)";
                return false;
            }
            layout.offset = at + 8;
            settle(layout, size, file_size);
            return true;
        }
        return false;
    };
    if (walk_chunks(fd, file_size, false, visit, problem)) {
        return true;
    }
    if (problem.empty()) {
        problem = "a damaged WAVE file (no data chunk)";
    }
    return false;
}

// The sample rate of an AIFF COMM chunk, an 80-bit extended number; 0 when
// it is no whole number a file could use.
std::uint32_t extended_rate(const std::uint8_t* p) {
    const int exponent = static_cast<int>(be16(p) & 0x7fff) - 16383;
    const std::uint64_t mantissa = std::uint64_t{be32(p + 2)} << 32 | be32(p + 6);
    if ((be16(p) & 0x8000) != 0 || exponent < 0 || exponent > 31) {
        return 0;
    }
    return static_cast<std::uint32_t>(mantissa >> (63 - exponent));
}

bool read_aiff(int fd, std::uint64_t file_size, bool compressed_form, pcm_layout& layout,
               std::string& problem) {
    bool have_format = false;
    layout.big_endian = true;
    const auto visit = [&](const std::uint8_t* head, std::uint64_t at, std::uint64_t size) {
        std::uint8_t common[22] = {};
        std::size_t got = 0;
        if (tagged(head, "COMM")) {
            const std::size_t needed = compressed_form ? 22 : 18;
            if (size < needed || !read_at(fd, common, needed, at + 8, got) || got < needed) {
                problem = "a damaged AIFF header (the COMM chunk is too short)";
                return false;
            }
            layout.channels = be16(common);
            layout.bits = be16(common + 6);
            layout.rate = extended_rate(common + 8);
            // AIFF-C: uncompressed audio in either byte order.
            if (compressed_form && tagged(common + 18, "sowt")) {
                layout.big_endian = false;
            } else if (compressed_form && !tagged(common + 18, "NONE")) {
                problem = "compressed AIFF-C audio";
                return false;
            }
            have_format = true;
            return false;
        }
        if (tagged(head, "SSND")) {
            std::uint8_t sound[8];
            if (!have_format) {
                problem = "a damaged AIFF header (no COMM chunk before the audio)";
                return false;
            }
            if (size < 8 || !read_at(fd, sound, sizeof sound, at + 8, got) || got < sizeof sound) {
                problem = "a damaged AIFF header (the SSND chunk is too short)";
                return false;
            }
            const std::uint64_t skip = be32(sound);
            layout.offset = at + 16 + skip;
            settle(layout, size >= 8 + skip ? size - 8 - skip : 0, file_size);
            return true;
        }
        return false;
    };
    if (walk_chunks(fd, file_size, true, visit, problem)) {
        return true;
    }
    if (problem.empty()) {
        problem = "a damaged AIFF file (no SSND chunk)";
    }
    return false;
}

std::string shape(const pcm_layout& layout) {
    const std::string channels = layout.channels == 1 ? "mono"
                                 : layout.channels == 2
                                     ? "stereo"
                                     : std::to_string(layout.channels) + "-channel";
    return (layout.rate == 0 ? std::string("odd-rate") : std::to_string(layout.rate) + " Hz") +
           " " + std::to_string(layout.bits) + "-bit " + channels + " audio";
}

bool is_cd_shape(const pcm_layout& layout) {
    return layout.rate == cd_rate && layout.bits == cd_bits && layout.channels == cd_channels;
}

// Whether the file is FLAC, also behind an ID3v2 tag; `head` holds its
// first bytes.  false with errno set when the file cannot be read.
bool holds_flac(int fd, const std::uint8_t* head, std::size_t got, bool& flac) {
    flac = flac_reader::is_flac(head, got);
    const std::uint64_t tag = flac_reader::id3v2_bytes(head, got);
    if (flac || tag == 0) {
        return true;
    }
    std::uint8_t marker[4];
    std::size_t found = 0;
    if (!read_at(fd, marker, sizeof marker, tag, found)) {
        return false;
    }
    flac = found == sizeof marker && tagged(marker, "fLaC");
    return true;
}

bool has_extension(const std::string& path, const char* extension) {
    const std::string name = std::filesystem::path(path).extension().string();
    return ::strcasecmp(name.c_str(), extension) == 0;
}

}  // namespace

int open_regular_file(const std::string& path, std::uint64_t& size, source_file& identity,
                      bool& regular) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info;
    if (fd < 0 || ::fstat(fd, &info) != 0) {
        const int saved = errno;
        if (fd >= 0) {
            ::close(fd);
        }
        errno = saved;
        return -1;
    }
    regular = S_ISREG(info.st_mode);
    if (!regular) {
        ::close(fd);
        return -1;
    }
    size = static_cast<std::uint64_t>(info.st_size);
    identity = {path, static_cast<std::uint64_t>(info.st_dev),
                static_cast<std::uint64_t>(info.st_ino)};
    return fd;
}

bool read_span(int fd, std::uint8_t* out, std::size_t length, std::uint64_t offset,
               std::uint64_t end) {
    const std::size_t present =
        offset >= end ? 0 : static_cast<std::size_t>(std::min<std::uint64_t>(length, end - offset));
    std::size_t got = 0;
    if (!read_at(fd, out, present, offset, got)) {
        return false;
    }
    if (got < present) {
        errno = EIO;
        return false;
    }
    std::memset(out + present, 0, length - present);
    return true;
}

std::unique_ptr<image_file> image_file::open(const cue_file& file, const std::string& cue_path,
                                             std::string& error) {
    const std::string at_line = cue_path + " line " + std::to_string(file.line) + ": ";
    found_file found;
    if (!find_cue_file(file, found, error)) {
        error = at_line + error;
        return nullptr;
    }
    // Messages name the file opened: the one named, or what stands in for it.
    const std::string name =
        found.other_extension ? std::filesystem::path(found.path).filename().string() : file.name;
    std::unique_ptr<image_file> opened(new image_file);
    std::uint64_t size = 0;
    bool regular = true;
    opened->fd_ = open_regular_file(found.path, size, opened->identity_, regular);
    if (opened->fd_ < 0) {
        error = at_line + (regular ? "cannot open \"" + name + "\": " + std::strerror(errno)
                                   : "\"" + name + "\" is not a regular file");
        return nullptr;
    }
    const bool raw_type =
        file.type == cue_file_type::binary || file.type == cue_file_type::motorola;
    if ((raw_type && !found.other_extension) ||
        (found.other_extension && has_extension(found.path, ".bin"))) {
        opened->data_bytes_ = size;
        opened->big_endian_ = file.type == cue_file_type::motorola;
        return opened;
    }
    std::uint8_t head[12] = {};
    std::size_t got = 0;
    bool flac = false;
    if (!read_at(opened->fd_, head, sizeof head, 0, got) ||
        !holds_flac(opened->fd_, head, got, flac)) {
        error = at_line + "cannot read \"" + name + "\": " + std::strerror(errno);
        return nullptr;
    }
    if (flac) {
        // The reader takes the descriptor over; nothing was taken from its
        // position, so it can seek.
        std::string problem;
        opened->flac_ = flac_reader::adopt(std::exchange(opened->fd_, -1), {}, problem);
        if (opened->flac_ == nullptr) {
            error = at_line + "\"" + name + "\": " + problem;
            return nullptr;
        }
        opened->kind_ = "FLAC";
        opened->data_bytes_ = opened->flac_->frames() * frame_bytes;
        opened->audio_only_ = true;
        return opened;
    }
    pcm_layout layout;
    std::string problem;
    bool placed = false;
    if (got == sizeof head && tagged(head, "RIFF") && tagged(head + 8, "WAVE")) {
        opened->kind_ = "WAVE";
        placed = read_wave(opened->fd_, size, layout, problem);
    } else if (got == sizeof head && tagged(head, "FORM") &&
               (tagged(head + 8, "AIFF") || tagged(head + 8, "AIFC"))) {
        opened->kind_ = "AIFF";
        placed = read_aiff(opened->fd_, size, tagged(head + 8, "AIFC"), layout, problem);
    } else {
        problem = "neither WAVE, AIFF nor FLAC audio";
    }
    if (placed && !is_cd_shape(layout)) {
        placed = false;
        problem = shape(layout) + ", not 44100 Hz 16-bit stereo";
    }
    if (!placed) {
        error = at_line + "\"" + name + "\" holds " + problem;
        return nullptr;
    }
    opened->data_offset_ = layout.offset;
    opened->data_bytes_ = layout.bytes;
    opened->big_endian_ = layout.big_endian;
    opened->audio_only_ = true;
    return opened;
}

image_file::~image_file() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool image_file::read_flac(std::uint64_t offset, std::size_t length, std::uint8_t* out) const {
    if (offset % frame_bytes != 0 || length % frame_bytes != 0) {
        errno = EINVAL;
        return false;
    }
    const std::size_t present =
        static_cast<std::size_t>(std::min<std::uint64_t>(length, data_bytes_ - offset));
    std::string problem;
    if (!flac_->read(offset / frame_bytes, present / frame_bytes, out, problem)) {
        errno = EIO;
        return false;
    }
    std::memset(out + present, 0, length - present);
    return true;
}

bool image_file::read(std::uint64_t offset, std::size_t length, std::uint8_t* out) const {
    if (offset >= data_bytes_) {
        std::memset(out, 0, length);
        return true;
    }
    if (flac_ != nullptr) {
        return read_flac(offset, length, out);
    }
    return read_span(fd_, out, length, data_offset_ + offset, data_offset_ + data_bytes_);
}
