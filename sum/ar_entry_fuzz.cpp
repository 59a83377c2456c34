// libFuzzer target: any bytes as an AccurateRip database entry, checked
// against the disc that its first block names (so that the blocks after it
// are parsed too) and against another disc.  Never a crash or an
// out-of-bounds read; an accepted entry's blocks lie inside the input, one
// after the other, cover it whole and hold exactly its bytes; reading the
// entry from a file gives what parsing the bytes gives.

#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "common/byte_order.h"
#include "common/exit.h"
#include "common/program_name.h"
#include "common/scratch_file_test_util.h"
#include "sum/ar_database.h"

namespace {

void check(bool holds) {
    if (!holds) {
        std::abort();
    }
}

const scratch_file& entry_file() {
    static const scratch_file file("entry");
    set_program_name("vorkasum");
    return file;
}

// The blocks are the input's bytes, block after block, and nothing else.
void check_blocks(std::span<const std::uint8_t> bytes, const accuraterip_ids& disc,
                  const std::vector<ar_block>& blocks) {
    std::size_t at = 0;
    for (const ar_block& block : blocks) {
        check(block.ids == disc);
        check(block.tracks.size() == static_cast<std::size_t>(disc.audio_tracks));
        const std::size_t size = ar_block_header_bytes + block.tracks.size() * ar_track_bytes;
        check(at + size <= bytes.size());
        const std::uint8_t* p = bytes.data() + at;
        check(p[0] == block.tracks.size());
        for (std::size_t t = 0; t < block.tracks.size(); ++t) {
            const std::uint8_t* e = p + ar_block_header_bytes + t * ar_track_bytes;
            check(block.tracks[t].confidence == e[0] && block.tracks[t].checksum == le32(e + 1) &&
                  block.tracks[t].frame450 == le32(e + 5));
        }
        at += size;
    }
    check(at == bytes.size());
    // Each block's checksum of a track is found, with at least its own
    // confidence.
    for (int track = 1; track <= disc.audio_tracks; ++track) {
        for (const ar_block& block : blocks) {
            const ar_track_entry& entry = block.tracks[static_cast<std::size_t>(track - 1)];
            const ar_match match = match_track(blocks, track, entry.checksum, ~entry.checksum);
            check(match.v1_confidence >= entry.confidence);
            check(stores_checksum(blocks, track, entry.checksum));
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    accuraterip_ids disc;
    if (size >= ar_block_header_bytes) {
        disc = {data[0], le32(data + 1), le32(data + 5), le32(data + 9)};
    }
    const accuraterip_ids other = {disc.audio_tracks, disc.id1 + 1, disc.id2, disc.freedb};
    for (const accuraterip_ids& ids : {disc, other}) {
        std::vector<ar_block> blocks;
        std::string error;
        const bool parsed = parse_ar_entry(bytes, ids, blocks, error);
        check(parsed == error.empty());
        if (parsed) {
            check(ids == disc);  // every block is for the disc the first one names
            check_blocks(bytes, ids, blocks);
        }
        // From a file: the same verdict and blocks.
        entry_file().hold(data, size);
        try {
            const std::vector<ar_block> loaded = load_ar_entry(entry_file().path(), ids);
            check(parsed && loaded.size() == blocks.size());
        } catch (const exit_request& request) {
            check(!parsed && request.status == 1);
        }
    }
    return 0;
}
