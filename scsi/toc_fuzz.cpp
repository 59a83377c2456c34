// libFuzzer target: the table of contents as any drive may answer READ TOC.
// The input's first byte says which command fails (bits 0-2; 0: none), and
// how (bit 3: a transport failure, else CHECK CONDITION with the answer's
// first bytes as sense data); its second byte is the mode byte of every
// probed sector, and the rest is the READ TOC answer.  The table must stay within its bounds, every
// data track must be probed once at its own start, and every sector must have a kind.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <set>
#include <span>
#include <utility>
#include <vector>

#include "common/exit.h"
#include "common/program_name.h"
#include "scsi/channel.h"
#include "scsi/toc.h"

namespace {

void check(bool holds) {
    if (!holds) {
        std::abort();
    }
}

constexpr std::uint8_t op_read10 = 0x28;
constexpr std::uint8_t op_read_toc = 0x43;
constexpr std::uint8_t op_read_cd = 0xbe;
constexpr std::size_t probe_mode_at = 15;

std::uint32_t address_in(std::span<const std::uint8_t> cdb) {
    return static_cast<std::uint32_t>(cdb[2]) << 24 | static_cast<std::uint32_t>(cdb[3]) << 16 |
           static_cast<std::uint32_t>(cdb[4]) << 8 | cdb[5];
}

// Answers READ TOC with the input and every other command with success,
// except the one chosen to fail; notes the sectors it was asked to read.
class toc_drive : public passthrough {
  public:
    toc_drive(std::span<const std::uint8_t> answer, int failing, bool transport_failure,
              std::uint8_t mode, std::vector<std::uint32_t>& probes)
        : answer_(answer),
          failing_(failing),
          transport_failure_(transport_failure),
          mode_(mode),
          probes_(probes) {}

    scsi_outcome send(const scsi_request& request) override {
        const std::uint8_t opcode = request.cdb.empty() ? 0 : request.cdb[0];
        const bool sector_read =
            (opcode == op_read10 || opcode == op_read_cd) && request.cdb.size() >= 6;
        if (sector_read) {
            probes_.push_back(address_in(request.cdb));
        }
        if (++sent_ == failing_) {
            return failure();
        }
        if (request.direction != data_direction::in) {
            return {};
        }
        std::fill(request.data.begin(), request.data.end(), 0);
        if (opcode == op_read_toc) {
            std::copy_n(answer_.begin(), std::min(answer_.size(), request.data.size()),
                        request.data.begin());
        } else if (sector_read && request.data.size() > probe_mode_at) {
            request.data[probe_mode_at] = mode_;
        }
        return {};
    }

    int sent() const { return sent_; }

  private:
    // CHECK CONDITION with the answer's first bytes as sense data, or a
    // transport failure.
    scsi_outcome failure() const {
        scsi_outcome outcome;
        if (transport_failure_) {
            outcome.what = scsi_outcome::kind::failed;
            outcome.status = 0x70000;
            return outcome;
        }
        outcome.what = scsi_outcome::kind::status_error;
        outcome.status = 0x02;
        outcome.sense_length = std::min(answer_.size(), outcome.sense.size());
        std::copy_n(answer_.begin(), outcome.sense_length, outcome.sense.begin());
        return outcome;
    }

    std::span<const std::uint8_t> answer_;
    int failing_;
    bool transport_failure_;
    std::uint8_t mode_;
    std::vector<std::uint32_t>& probes_;
    int sent_ = 0;
};

bool is_kind(int kind) {
    return kind == track_kind_audio || kind == track_kind_video || kind == track_kind_data;
}

void check_table(const track_table& table, std::span<const std::uint8_t> answer,
                 const std::vector<std::uint32_t>& probes) {
    check(table.track_count >= 0 && table.track_count <= max_disc_tracks);
    std::multiset<std::uint32_t> data_starts;
    for (int i = 0; i < table.track_count; ++i) {
        check(is_kind(track_kind(table, i)));
        const std::size_t at = 4 + 8 * static_cast<std::size_t>(i);
        const std::uint8_t control = at + 1 < answer.size() ? answer[at + 1] : 0;
        if ((control & 0x04) != 0) {
            check((table.track_type[i] & 0x04) != 0);
            data_starts.insert(static_cast<std::uint32_t>(table.track_start[i]));
        } else {
            check(table.track_type[i] == control);
        }
    }
    check(std::multiset<std::uint32_t>(probes.begin(), probes.end()) == data_starts);
    for (int i = 0; i <= table.track_count; ++i) {
        for (const std::int64_t delta : {-1, 0, 1}) {
            check(is_kind(track_kind_at(table, table.track_start[i] + delta)));
        }
    }
    check(is_kind(track_kind_at(table, 0)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    set_program_name("vorka");
    const std::span<const std::uint8_t> answer(data + 2, size - 2);
    const int failing = data[0] % 8;
    std::vector<std::uint32_t> probes;
    auto drive = std::make_unique<toc_drive>(answer, failing, (data[0] & 8) != 0, data[1], probes);
    const toc_drive& seen = *drive;
    const std::unique_ptr<scsi_device> device = scsi_attach(std::move(drive));
    read_mode_state state;
    track_table table;
    try {
        load_track_table(*device, state, table);
    } catch (const exit_request& request) {
        // Only a failed command ends the run.
        check(request.status == 1 && failing != 0 && seen.sent() >= failing);
        return 0;
    }
    check_table(table, answer, probes);
    return 0;
}
