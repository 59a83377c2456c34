#include "sum/ar_database.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "common/byte_order.h"
#include "common/exit.h"
#include "common/program_name.h"
#include "sum/input_file.h"

namespace {

// No entry of a real disc comes near this; a bigger file is something else.
constexpr std::size_t largest_entry = 16 * 1024 * 1024;

[[noreturn]] void fail(const std::string& path, const std::string& reason) {
    std::fprintf(stderr, "%s: %s: %s\n", program_name, path.c_str(), reason.c_str());
    throw exit_request{1};
}

}  // namespace

bool parse_ar_entry(std::span<const std::uint8_t> bytes, const accuraterip_ids& disc,
                    std::vector<ar_block>& blocks, std::string& error) {
    blocks.clear();
    if (bytes.empty()) {
        error = "the AccurateRip entry is empty";
        return false;
    }
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t left = bytes.size() - at;
        const std::uint8_t* p = bytes.data() + at;
        const std::size_t tracks = left > 0 ? p[0] : 0;
        const std::size_t needed = ar_block_header_bytes + tracks * ar_track_bytes;
        if (left < needed) {
            error = "the AccurateRip entry is truncated: the block at byte " + std::to_string(at) +
                    " needs " + std::to_string(needed) + " bytes, " + std::to_string(left) +
                    " are left";
            return false;
        }
        ar_block block;
        block.ids = {static_cast<int>(tracks), le32(p + 1), le32(p + 5), le32(p + 9)};
        if (block.ids != disc) {
            error = "the AccurateRip entry is for another disc: the block at byte " +
                    std::to_string(at) + " is for " + accuraterip_name(block.ids) +
                    ", this disc is " + accuraterip_name(disc);
            return false;
        }
        for (std::size_t t = 0; t < tracks; ++t) {
            const std::uint8_t* e = p + ar_block_header_bytes + t * ar_track_bytes;
            block.tracks.push_back({e[0], le32(e + 1), le32(e + 5)});
        }
        blocks.push_back(std::move(block));
        at += needed;
    }
    return true;
}

ar_match match_track(const std::vector<ar_block>& blocks, int track, std::uint32_t v1,
                     std::uint32_t v2) {
    ar_match match;
    for (const ar_block& block : blocks) {
        const ar_track_entry& entry = block.tracks.at(static_cast<std::size_t>(track - 1));
        if (entry.checksum == v1) {
            match.v1_confidence += entry.confidence;
        }
        if (entry.checksum == v2) {
            match.v2_confidence += entry.confidence;
        }
    }
    return match;
}

bool stores_checksum(const std::vector<ar_block>& blocks, int track, std::uint32_t checksum) {
    for (const ar_block& block : blocks) {
        if (block.tracks.at(static_cast<std::size_t>(track - 1)).checksum == checksum) {
            return true;
        }
    }
    return false;
}

std::vector<ar_block> load_ar_entry(const std::string& path, const accuraterip_ids& disc) {
    std::string error;
    input_kind kind = input_kind::file;
    const int fd = open_input(path, kind, error);
    if (fd < 0) {
        fail(path, error);
    }
    std::vector<std::uint8_t> bytes;
    if (kind == input_kind::pipe && !read_pipe_start(fd, 65536, bytes, error)) {
        ::close(fd);
        fail(path, error);
    }
    std::uint8_t block[65536];
    for (bool ended = kind == input_kind::pipe && bytes.size() < sizeof block; !ended;) {
        const ssize_t got = ::read(fd, block, sizeof block);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            const int saved = errno;
            ::close(fd);
            errno = saved;
            exit_with_errno(path.c_str());
        }
        ended = got == 0;
        bytes.insert(bytes.end(), block, block + got);
        if (bytes.size() > largest_entry) {
            ::close(fd);
            fail(path, "too large for an AccurateRip entry");
        }
    }
    ::close(fd);
    std::vector<ar_block> blocks;
    if (!parse_ar_entry(bytes, disc, blocks, error)) {
        fail(path, error);
    }
    return blocks;
}
