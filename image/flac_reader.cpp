#include "image/flac_reader.h"

#include <FLAC/stream_decoder.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "image/md5.h"

namespace {

constexpr unsigned cd_rate = 44100;
constexpr unsigned cd_channels = 2;
constexpr unsigned cd_bits = 16;
constexpr std::size_t frame_bytes = 4;
constexpr std::size_t id3v2_header = 10;
// The most a caller's head or a pipe's first bytes are read for the
// marker; an ID3v2 tag can hold a picture, so this is generous.
constexpr std::uint64_t largest_id3v2_tag = 16 * 1024 * 1024;

std::string plural(unsigned count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

struct flac_reader::decoder_state {
    FLAC__StreamDecoder* decoder = nullptr;
    int fd = -1;
    bool seekable = false;
    std::vector<std::uint8_t> prefix;  // bytes of the stream taken from a pipe before
    std::size_t prefix_at = 0;
    bool source_ended = false;

    bool have_streaminfo = false;
    FLAC__StreamMetadata_StreamInfo info{};
    bool md5_set = false;
    md5_sum audio_sum;  // of every sample delivered in order from the first

    // Decoded frames not delivered yet: pending[pending_at ..] are frames
    // pending_first + pending_at / frame_bytes on.
    std::vector<std::uint8_t> pending;
    std::size_t pending_at = 0;
    std::uint64_t pending_first = 0;

    bool seeking = false;  // inside seek_absolute: the frame comes trimmed
    bool seeked = false;   // the audio sum no longer covers the stream in order then
    bool at_end = false;   // every frame was read; only the stream's end may follow
    bool failed = false;
    bool finished = false;
    std::string error;          // the first failure, for every later call
    std::string decoder_error;  // what the error callback reported, if anything
    bool decoder_error_is_sync = false;

    ~decoder_state() {
        if (decoder != nullptr) {
            FLAC__stream_decoder_delete(decoder);
        }
        if (fd >= 0) {
            ::close(fd);
        }
    }

    std::uint64_t next_frame() const { return pending_first + pending_at / frame_bytes; }
    std::size_t pending_frames() const { return (pending.size() - pending_at) / frame_bytes; }

    bool fail(const std::string& reason) {
        if (!failed) {
            failed = true;
            error = reason;
        }
        return false;
    }

    // Reads from the descriptor, waiting for a pipe's writer when the
    // descriptor was left non-blocking.  The count, 0 at the end, -1 on a
    // failure (errno set).
    ssize_t read_source(std::uint8_t* to, std::size_t size) const {
        for (;;) {
            const ssize_t got = ::read(fd, to, size);
            if (got >= 0) {
                return got;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                pollfd wait{fd, POLLIN, 0};
                ::poll(&wait, 1, -1);
            } else if (errno != EINTR) {
                return -1;
            }
        }
    }

    // The stream's first `size` bytes (fewer when it is shorter), without
    // using them up: a regular file is read in place, a pipe's bytes are
    // kept in the prefix for the decoder.
    bool head(std::size_t size, std::vector<std::uint8_t>& bytes) {
        if (seekable) {
            bytes.resize(size);
            std::size_t have = 0;
            while (have < size) {
                const ssize_t got =
                    ::pread(fd, bytes.data() + have, size - have, static_cast<off_t>(have));
                if (got < 0 && errno == EINTR) {
                    continue;
                }
                if (got < 0) {
                    return fail(std::strerror(errno));
                }
                if (got == 0) {
                    break;
                }
                have += static_cast<std::size_t>(got);
            }
            bytes.resize(have);
            return true;
        }
        while (prefix.size() < size && !source_ended) {
            const std::size_t had = prefix.size();
            prefix.resize(size);
            const ssize_t got = read_source(prefix.data() + had, size - had);
            prefix.resize(had + static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
            if (got < 0) {
                return fail(std::strerror(errno));
            }
            source_ended = got == 0;
        }
        bytes.assign(prefix.begin(), prefix.begin() + std::min(size, prefix.size()));
        return true;
    }
};

namespace {

using state_t = flac_reader::decoder_state;

state_t& state_of(void* client) {
    return *static_cast<state_t*>(client);
}

FLAC__StreamDecoderReadStatus read_bytes(const FLAC__StreamDecoder*, FLAC__byte buffer[],
                                         std::size_t* bytes, void* client) {
    state_t& state = state_of(client);
    if (state.prefix_at < state.prefix.size()) {
        const std::size_t count = std::min(*bytes, state.prefix.size() - state.prefix_at);
        std::memcpy(buffer, state.prefix.data() + state.prefix_at, count);
        state.prefix_at += count;
        *bytes = count;
        return FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
    }
    const ssize_t got = state.source_ended ? 0 : state.read_source(buffer, *bytes);
    if (got < 0) {
        state.fail(std::strerror(errno));
        *bytes = 0;
        return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
    }
    *bytes = static_cast<std::size_t>(got);
    if (got == 0) {
        state.source_ended = true;
        return FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM;
    }
    return FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
}

FLAC__StreamDecoderSeekStatus seek_to(const FLAC__StreamDecoder*, FLAC__uint64 offset,
                                      void* client) {
    state_t& state = state_of(client);
    if (!state.seekable) {
        return FLAC__STREAM_DECODER_SEEK_STATUS_UNSUPPORTED;
    }
    state.source_ended = false;
    return ::lseek(state.fd, static_cast<off_t>(offset), SEEK_SET) < 0
               ? FLAC__STREAM_DECODER_SEEK_STATUS_ERROR
               : FLAC__STREAM_DECODER_SEEK_STATUS_OK;
}

FLAC__StreamDecoderTellStatus tell(const FLAC__StreamDecoder*, FLAC__uint64* offset, void* client) {
    state_t& state = state_of(client);
    if (!state.seekable) {
        return FLAC__STREAM_DECODER_TELL_STATUS_UNSUPPORTED;
    }
    const off_t at = ::lseek(state.fd, 0, SEEK_CUR);
    if (at < 0) {
        return FLAC__STREAM_DECODER_TELL_STATUS_ERROR;
    }
    *offset = static_cast<FLAC__uint64>(at);
    return FLAC__STREAM_DECODER_TELL_STATUS_OK;
}

FLAC__StreamDecoderLengthStatus length(const FLAC__StreamDecoder*, FLAC__uint64* size,
                                       void* client) {
    state_t& state = state_of(client);
    struct stat status {};
    if (!state.seekable) {
        return FLAC__STREAM_DECODER_LENGTH_STATUS_UNSUPPORTED;
    }
    if (::fstat(state.fd, &status) != 0) {
        return FLAC__STREAM_DECODER_LENGTH_STATUS_ERROR;
    }
    *size = static_cast<FLAC__uint64>(status.st_size);
    return FLAC__STREAM_DECODER_LENGTH_STATUS_OK;
}

FLAC__bool at_eof(const FLAC__StreamDecoder*, void* client) {
    const state_t& state = state_of(client);
    if (!state.seekable) {
        return state.prefix_at >= state.prefix.size() && state.source_ended;
    }
    struct stat status {};
    const off_t at = ::lseek(state.fd, 0, SEEK_CUR);
    return at < 0 || ::fstat(state.fd, &status) != 0 || at >= status.st_size;
}

bool is_cd_shape(unsigned channels, unsigned bits, unsigned rate) {
    return channels == cd_channels && bits == cd_bits && rate == cd_rate;
}

FLAC__StreamDecoderWriteStatus take_frame(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                          const FLAC__int32* const samples[], void* client) {
    state_t& state = state_of(client);
    // After the last frame the first damage reported decides (see finish):
    // what libFLAC finds behind it is no audio of this stream.
    if (state.at_end && !state.decoder_error.empty()) {
        return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
    const FLAC__FrameHeader& header = frame->header;
    const std::uint64_t starts = state.pending_first + state.pending.size() / frame_bytes;
    if (!is_cd_shape(header.channels, header.bits_per_sample, cd_rate)) {
        state.fail("damaged FLAC stream: the frame at sample " + std::to_string(starts) +
                   " holds " + plural(header.channels, "channel", "channels") + " of " +
                   std::to_string(header.bits_per_sample) + "-bit samples");
        return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
    if (!state.seeking && header.number_type == FLAC__FRAME_NUMBER_TYPE_SAMPLE_NUMBER &&
        header.number.sample_number != starts) {
        state.fail("damaged FLAC stream: a frame for sample " +
                   std::to_string(header.number.sample_number) + " where sample " +
                   std::to_string(starts) + " comes next");
        return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
    if (state.at_end || starts + header.blocksize > state.info.total_samples) {
        state.fail("damaged FLAC stream: more than the " +
                   std::to_string(state.info.total_samples) + " samples its STREAMINFO declares");
        return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
    const std::size_t had = state.pending.size();
    state.pending.resize(had + std::size_t{header.blocksize} * frame_bytes);
    std::uint8_t* at = state.pending.data() + had;
    for (unsigned i = 0; i < header.blocksize; ++i) {
        for (unsigned channel = 0; channel < cd_channels; ++channel) {
            const FLAC__int32 value = samples[channel][i];
            if (value < -32768 || value > 32767) {
                state.fail("damaged FLAC stream: a sample out of the 16-bit range at sample " +
                           std::to_string(starts + i));
                return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
            }
            const auto bits = static_cast<std::uint16_t>(value);
            *at++ = static_cast<std::uint8_t>(bits);
            *at++ = static_cast<std::uint8_t>(bits >> 8);
        }
    }
    // The signature is of the samples in this very form: little-endian,
    // the channels interleaved.
    if (!state.seeked) {
        state.audio_sum.add(state.pending.data() + had,
                            std::size_t{header.blocksize} * frame_bytes);
    }
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

void take_metadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* metadata, void* client) {
    state_t& state = state_of(client);
    if (metadata->type == FLAC__METADATA_TYPE_STREAMINFO) {
        state.have_streaminfo = true;
        state.info = metadata->data.stream_info;
        state.md5_set = std::any_of(std::begin(state.info.md5sum), std::end(state.info.md5sum),
                                    [](FLAC__byte byte) { return byte != 0; });
    }
}

// libFLAC's reports in words; its own strings are the enumerators' names.
std::string described(FLAC__StreamDecoderErrorStatus status) {
    switch (status) {
        case FLAC__STREAM_DECODER_ERROR_STATUS_LOST_SYNC:
            return "bytes that are no FLAC frame";
        case FLAC__STREAM_DECODER_ERROR_STATUS_BAD_HEADER:
            return "a damaged frame header";
        case FLAC__STREAM_DECODER_ERROR_STATUS_FRAME_CRC_MISMATCH:
            return "a frame whose checksum does not match its contents";
        case FLAC__STREAM_DECODER_ERROR_STATUS_UNPARSEABLE_STREAM:
            return "a frame that cannot be decoded";
        case FLAC__STREAM_DECODER_ERROR_STATUS_BAD_METADATA:
            return "damaged metadata";
    }
    return FLAC__StreamDecoderErrorStatusString[status];
}

// Why the decoder stopped, from its state.
std::string stopped(const FLAC__StreamDecoder* decoder) {
    switch (const FLAC__StreamDecoderState state = FLAC__stream_decoder_get_state(decoder)) {
        // libFLAC also stops in this state for a metadata block shorter
        // than its type needs, so it is no proof that memory ran out.
        case FLAC__STREAM_DECODER_MEMORY_ALLOCATION_ERROR:
            return "a block the decoder cannot hold (a damaged length, or no memory left)";
        case FLAC__STREAM_DECODER_END_OF_STREAM:
            return "the file ends";
        case FLAC__STREAM_DECODER_SEEK_ERROR:
            return "a seek failed";
        case FLAC__STREAM_DECODER_ABORTED:
            return "the decoder gave up";
        default:
            return FLAC__StreamDecoderStateString[state];
    }
}

void take_error(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus status, void* client) {
    state_t& state = state_of(client);
    if (state.decoder_error.empty()) {
        state.decoder_error = described(status);
        state.decoder_error_is_sync = status == FLAC__STREAM_DECODER_ERROR_STATUS_LOST_SYNC;
    }
}

// What a file that is FLAC but no CD audio holds.
std::string shape_error(const FLAC__StreamMetadata_StreamInfo& info) {
    return "not CD audio (44100 Hz, 16-bit, stereo PCM): FLAC of " +
           plural(info.channels, "channel", "channels") + ", " +
           std::to_string(info.bits_per_sample) + "-bit, " + std::to_string(info.sample_rate) +
           " Hz";
}

// Checks the start of the stream, starts the decoder and reads the
// metadata.
bool start(state_t& state) {
    std::vector<std::uint8_t> head;
    if (!state.head(id3v2_header, head)) {
        return false;
    }
    const std::uint64_t tag = flac_reader::id3v2_bytes(head.data(), head.size());
    if (tag > largest_id3v2_tag) {
        return state.fail("not a FLAC file: an ID3v2 tag of " + std::to_string(tag) + " bytes");
    }
    if (!state.head(static_cast<std::size_t>(tag) + 4, head)) {
        return false;
    }
    if (!flac_reader::is_flac(head.data(), head.size())) {
        return state.fail(head.empty() ? "not a FLAC file: it is empty" : "not a FLAC file");
    }
    state.decoder = FLAC__stream_decoder_new();
    if (state.decoder == nullptr) {
        throw std::bad_alloc();
    }
    // The reader sums the audio itself (audio_sum): libFLAC's sum would
    // take in the frames it decodes past the end too.
    FLAC__stream_decoder_set_md5_checking(state.decoder, false);
    const FLAC__StreamDecoderInitStatus init =
        FLAC__stream_decoder_init_stream(state.decoder, read_bytes, seek_to, tell, length, at_eof,
                                         take_frame, take_metadata, take_error, &state);
    if (init != FLAC__STREAM_DECODER_INIT_STATUS_OK) {
        return state.fail(std::string("the FLAC decoder does not start: ") +
                          FLAC__StreamDecoderInitStatusString[init]);
    }
    if (!FLAC__stream_decoder_process_until_end_of_metadata(state.decoder) && !state.failed) {
        return state.fail("damaged FLAC file: " + stopped(state.decoder));
    }
    if (state.failed) {
        return false;
    }
    if (!state.decoder_error.empty()) {
        return state.fail("damaged FLAC file: " + state.decoder_error);
    }
    if (!state.have_streaminfo) {
        return state.fail("damaged FLAC file: no STREAMINFO block");
    }
    if (!is_cd_shape(state.info.channels, state.info.bits_per_sample, state.info.sample_rate)) {
        return state.fail(shape_error(state.info));
    }
    if (state.info.total_samples == 0) {
        return state.fail("a FLAC stream of unknown length (its STREAMINFO gives no sample count)");
    }
    return true;
}

// Decodes the next frame into the pending frames.
bool decode_frame(state_t& state) {
    const std::uint64_t before = state.next_frame();
    const bool went = FLAC__stream_decoder_process_single(state.decoder);
    if (state.failed) {
        return false;
    }
    if (!state.decoder_error.empty()) {
        return state.fail("damaged FLAC stream after sample " + std::to_string(before) + ": " +
                          state.decoder_error);
    }
    const FLAC__StreamDecoderState now = FLAC__stream_decoder_get_state(state.decoder);
    if (!went || now == FLAC__STREAM_DECODER_ABORTED) {
        return state.fail("damaged FLAC stream after sample " + std::to_string(before) + ": " +
                          stopped(state.decoder));
    }
    if (now == FLAC__STREAM_DECODER_END_OF_STREAM && state.pending_frames() == 0) {
        return state.fail("the FLAC stream ends after " + std::to_string(before) + " of its " +
                          std::to_string(state.info.total_samples) + " samples");
    }
    return true;
}

bool seek(state_t& state, std::uint64_t first) {
    if (!state.seekable) {
        return state.fail("cannot seek to sample " + std::to_string(first) +
                          " in a FLAC stream that is no regular file");
    }
    state.pending.clear();
    state.pending_at = 0;
    state.pending_first = first;
    state.seeking = true;
    state.seeked = true;
    const bool went = FLAC__stream_decoder_seek_absolute(state.decoder, first);
    state.seeking = false;
    if (state.failed) {
        return false;
    }
    if (!went || state.pending_frames() == 0) {
        return state.fail("damaged FLAC stream: cannot seek to sample " + std::to_string(first) +
                          (state.decoder_error.empty() ? "" : ": " + state.decoder_error));
    }
    state.decoder_error.clear();  // seeking hunts for frames; what it met on the way is no fault
    return true;
}

}  // namespace

flac_reader::flac_reader(std::unique_ptr<decoder_state> state) : state_(std::move(state)) {}

flac_reader::~flac_reader() = default;

std::unique_ptr<flac_reader> flac_reader::open(const std::string& path, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat status {};
    if (fd < 0 || ::fstat(fd, &status) != 0) {
        error = std::strerror(errno);
        if (fd >= 0) {
            ::close(fd);
        }
        return nullptr;
    }
    if (!S_ISREG(status.st_mode)) {
        error = "not a regular file";
        ::close(fd);
        return nullptr;
    }
    return adopt(fd, {}, error);
}

std::unique_ptr<flac_reader> flac_reader::adopt(int fd, std::vector<std::uint8_t> already_read,
                                                std::string& error) {
    auto state = std::make_unique<decoder_state>();
    state->fd = fd;
    struct stat status {};
    state->seekable = already_read.empty() && ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    state->prefix = std::move(already_read);
    if (!start(*state)) {
        error = state->error;
        return nullptr;
    }
    return std::unique_ptr<flac_reader>(new flac_reader(std::move(state)));
}

std::uint64_t flac_reader::id3v2_bytes(const std::uint8_t* head, std::size_t n) {
    if (n < id3v2_header || std::memcmp(head, "ID3", 3) != 0) {
        return 0;
    }
    std::uint64_t size = 0;
    for (int i = 6; i < 10; ++i) {
        if (head[i] & 0x80) {
            return 0;  // not a tag's size: each of its bytes holds 7 bits
        }
        size = size << 7 | head[i];
    }
    const bool footer = (head[5] & 0x10) != 0;
    return id3v2_header + size + (footer ? id3v2_header : 0);
}

bool flac_reader::is_flac(const std::uint8_t* head, std::size_t n) {
    const std::uint64_t at = id3v2_bytes(head, n);
    return at + 4 <= n && std::memcmp(head + at, "fLaC", 4) == 0;
}

std::uint64_t flac_reader::frames() const {
    return state_->info.total_samples;
}

bool flac_reader::read(std::uint64_t first, std::size_t count, std::uint8_t* out,
                       std::string& error) {
    decoder_state& state = *state_;
    const auto fail = [&](const std::string& reason) {
        state.fail(reason);
        error = state.error;
        return false;
    };
    if (state.failed) {
        return fail(state.error);
    }
    if (state.finished || first > frames() || count > frames() - first) {
        return fail("no samples " + std::to_string(first) + " to " + std::to_string(first + count) +
                    " in a FLAC stream of " + std::to_string(frames()));
    }
    if (count > 0 && first != state.next_frame() && !seek(state, first)) {
        return fail(state.error);
    }
    while (count > 0) {
        if (state.pending_frames() == 0) {
            state.pending_first = state.next_frame();
            state.pending.clear();
            state.pending_at = 0;
            if (!decode_frame(state)) {
                return fail(state.error);
            }
            continue;
        }
        const std::size_t take = std::min(count, state.pending_frames());
        std::memcpy(out, state.pending.data() + state.pending_at, take * frame_bytes);
        out += take * frame_bytes;
        state.pending_at += take * frame_bytes;
        count -= take;
    }
    return true;
}

bool flac_reader::finish(md5_verdict& verdict, std::string& error) {
    decoder_state& state = *state_;
    verdict = md5_verdict::unchecked;
    if (state.failed || state.finished) {
        error = state.failed ? state.error : "the FLAC stream was finished before";
        return false;
    }
    state.finished = true;
    if (state.seeked || state.next_frame() != frames()) {
        return true;
    }
    state.at_end = true;  // any further frame is audio the stream does not declare
    state.decoder_error.clear();
    state.decoder_error_is_sync = false;
    const bool went = FLAC__stream_decoder_process_until_end_of_stream(state.decoder);
    // Bytes after the last frame that are no frame (a trailing tag) are
    // reported as lost sync; the audio is complete all the same, and
    // whatever libFLAC meets behind them does not count: how far it looks
    // there depends on how its input arrived (in a file it steps back and
    // searches again, in a pipe it cannot), and a file and a pipe of the
    // same bytes must read alike.
    const bool trailing_bytes = state.decoder_error_is_sync;
    if (!state.failed && !trailing_bytes && (!went || !state.decoder_error.empty())) {
        state.fail("damaged FLAC stream after its last sample: " +
                   (state.decoder_error.empty() ? stopped(state.decoder) : state.decoder_error));
    }
    if (state.failed) {
        error = state.error;
        return false;
    }
    const md5_sum::digest sum = state.audio_sum.finish();
    const bool md5_matches = std::equal(sum.begin(), sum.end(), std::begin(state.info.md5sum));
    verdict = !state.md5_set ? md5_verdict::unset
              : md5_matches  ? md5_verdict::matches
                             : md5_verdict::differs;
    return true;
}
