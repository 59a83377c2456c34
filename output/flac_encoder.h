#pragma once

#include <memory>

#include "output/audio_encoder.h"

// CD audio as FLAC through libFLAC's stream encoder: 2 channels, 16 bits,
// 44100 Hz, compression level 8, the planned number of samples in STREAMINFO
// before the first frame, the given tags as Vorbis comments.
//
// The encoding runs on a thread of its own, so that the reading never waits
// for it but to hand over a full buffer; everything the stream writes, the
// reading thread writes, so that interrupts and failures of the output
// behave as for every other format.  A regular file the run opened gets the
// MD5 signature of its audio and a seek table, completed at the end; any
// other output (standard output, a pipe, a device) is written straight
// through and keeps the MD5 signature unset.
std::unique_ptr<audio_encoder> start_flac_encoder(const encoded_stream& stream);
