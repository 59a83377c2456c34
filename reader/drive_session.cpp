#include "reader/drive_session.h"

#include <cstdio>

#include "common/interrupt.h"
#include "config/config.h"
#include "drive/open_drive.h"
#include "reader/drive_identity.h"
#include "reader/extraction.h"
#include "scsi/read_mode.h"

namespace {

int reset_drive(const reader_settings& settings, scsi_device& device) {
    if (settings.quiet == 0) {
        std::fputs("Trying to reset CD-ROM density and sector size...\n", stderr);
    }
    read_mode_state state;
    restore_data_mode(device, state);
    scsi_close(device);
    if (settings.quiet == 0) {
        std::fputs("Done.\n", stderr);
    }
    return 0;
}

const drive_entry& identify_drive(reader_run& run, scsi_device& device) {
    const drive_identity identity = inquire_identity(device);
    if (run.settings.quiet == 0) {
        print_device_line(run.settings.device_path, identity);
    }
    return match_drive_entry(run.drives, identity.vendor, identity.product, identity.revision);
}

}  // namespace

int run_with_device(reader_run& run, scsi_device& device) {
    if (run.settings.reset_drive != 0) {
        return reset_drive(run.settings, device);
    }
    const drive_entry& entry = identify_drive(run, device);
    settle_read_parameters(run.settings, entry);
    run_extraction({run.settings, run.selection, device, entry, now_us, run.drive_sources});
    return 0;
}

int run_with_drive(reader_run& run) {
    catch_interrupts();
    const std::unique_ptr<scsi_device> device =
        open_drive(run.settings.device_path, &run.drive_sources);
    return run_with_device(run, *device);
}
