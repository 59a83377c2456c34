#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "config/drive_entry.h"
#include "reader/settings.h"
#include "scsi/channel.h"
#include "scsi/extract.h"

// What the second half of the run works with: the settings and selection of
// the start-up, the open drive and its matched entry.
struct extraction_run {
    reader_settings& settings;
    const track_selection& selection;
    scsi_device& device;
    const drive_entry& entry;
    // Where times come from; tests put a clock of their own here.
    std::function<std::int64_t()> clock = now_us;
    // Files the drive serves, which no output file may be.
    std::span<const source_file> sources = {};
};

// Reads the table of contents, chooses the output, lists and extracts the
// selected tracks or the sector range, gives the drive its data defaults
// back, prints the totals and the transfer statistics and closes the drive.
// Every failure is reported where it is met and ends the run with status 1.
void run_extraction(const extraction_run& run);

// "Transferred <Mb> Mb in <s> seconds, <kb/s> kb/s, speed: <x>.", in the
// single-precision arithmetic the statistics have always used.
std::string transfer_statistics(std::int64_t planned_sectors, std::int64_t start_us,
                                std::int64_t end_us);
