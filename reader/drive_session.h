#pragma once

#include "reader/startup.h"
#include "scsi/channel.h"

// Everything after the start-up that needs the drive: opens it, then either
// resets it (-r) or identifies it, settles the read parameters and runs the
// extraction.  Returns the exit status of a complete run; failures end the
// run where they are met.
int run_with_drive(reader_run& run);

// The same on a drive that is already open.
int run_with_device(reader_run& run, scsi_device& device);
