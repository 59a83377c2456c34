#include "output/flac_encoder.h"

#include <FLAC/metadata.h>
#include <FLAC/stream_encoder.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>

#include "common/exit.h"
#include "common/interrupt.h"
#include "common/program_name.h"
#include "common/write_all.h"

namespace {

constexpr unsigned channels = 2;
constexpr unsigned bits_per_sample = 16;
constexpr unsigned sample_rate = 44100;
constexpr unsigned compression_level = 8;
constexpr std::size_t bytes_per_sample = 2;

// The reading hands audio over in buffers of this size, and runs at most
// this many buffers ahead of the encoder: a few seconds of audio, so that a
// stream completed after an interrupt is completed at once.
constexpr std::size_t buffer_bytes = 256 * 2352;
constexpr std::size_t buffers_ahead = 4;

// As the flac tool: a seek point every 10 seconds, and room for tags added
// later without rewriting the file.
constexpr FLAC__uint64 seek_point_spacing = 10 * sample_rate;
constexpr unsigned padding_bytes = 8192;

// What libFLAC writes in front of the first frame; the blocks must outlive
// the encoder.
class stream_metadata {
  public:
    stream_metadata(const std::vector<std::string>& tags, std::uint64_t frames, bool seek_table) {
        FLAC__StreamMetadata* comments = add(FLAC__METADATA_TYPE_VORBIS_COMMENT);
        for (const std::string& tag : tags) {
            FLAC__StreamMetadata_VorbisComment_Entry entry;
            entry.length = static_cast<FLAC__uint32>(tag.size());
            entry.entry = reinterpret_cast<FLAC__byte*>(const_cast<char*>(tag.c_str()));
            if (!FLAC__metadata_object_vorbiscomment_append_comment(comments, entry, true)) {
                exit_out_of_memory();
            }
        }
        if (seek_table && frames > 0) {
            FLAC__StreamMetadata* table = add(FLAC__METADATA_TYPE_SEEKTABLE);
            if (!FLAC__metadata_object_seektable_template_append_spaced_points_by_samples(
                    table, static_cast<unsigned>(seek_point_spacing), frames) ||
                !FLAC__metadata_object_seektable_template_sort(table, true)) {
                exit_out_of_memory();
            }
        }
        add(FLAC__METADATA_TYPE_PADDING)->length = padding_bytes;
    }
    ~stream_metadata() {
        for (FLAC__StreamMetadata* block : blocks_) {
            FLAC__metadata_object_delete(block);
        }
    }
    stream_metadata(const stream_metadata&) = delete;
    stream_metadata& operator=(const stream_metadata&) = delete;

    FLAC__StreamMetadata** blocks() { return blocks_.data(); }
    unsigned count() const { return static_cast<unsigned>(blocks_.size()); }

  private:
    FLAC__StreamMetadata* add(FLAC__MetadataType type) {
        blocks_.reserve(blocks_.size() + 1);
        FLAC__StreamMetadata* block = FLAC__metadata_object_new(type);
        if (block == nullptr) {
            exit_out_of_memory();
        }
        blocks_.push_back(block);
        return block;
    }

    std::vector<FLAC__StreamMetadata*> blocks_;
};

bool is_regular_file(int fd) {
    struct stat status {};
    return ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
}

// A thread that receives none of the signals the run stops on: they go to
// the reading thread, whose system calls they must interrupt.
std::thread start_without_signals(std::function<void()> body) {
    sigset_t all;
    sigset_t before;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &before);
    std::thread thread;
    try {
        thread = std::thread(std::move(body));
    } catch (const std::system_error& e) {
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
        std::fprintf(stderr, "%s: pthread_create(): %s\n", program_name,
                     std::strerror(e.code().value()));
        throw exit_request{1};
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return thread;
}

class flac_stream final : public audio_encoder {
  public:
    explicit flac_stream(const encoded_stream& stream);
    ~flac_stream() override;
    flac_stream(const flac_stream&) = delete;
    flac_stream& operator=(const flac_stream&) = delete;

    void write(const std::uint8_t* data, std::size_t bytes) override;
    void finish() override;

  private:
    // The encoding thread.
    void encode_buffers();
    void encode(const std::vector<std::uint8_t>& buffer, std::vector<FLAC__int32>& samples);

    // libFLAC's callbacks.  They run on the encoding thread, and on the
    // reading thread while it starts or finishes the encoder.
    static FLAC__StreamEncoderWriteStatus on_write(const FLAC__StreamEncoder*,
                                                   const FLAC__byte buffer[], size_t bytes,
                                                   unsigned, unsigned, void* self);
    static FLAC__StreamEncoderSeekStatus on_seek(const FLAC__StreamEncoder*, FLAC__uint64 offset,
                                                 void* self);
    static FLAC__StreamEncoderTellStatus on_tell(const FLAC__StreamEncoder*, FLAC__uint64* offset,
                                                 void* self);

    // The reading thread.
    void hand_over();
    void write_out();
    void write_bytes(const std::vector<std::uint8_t>& bytes);
    void stop_encoding(bool drain);
    void check_encoder();
    [[noreturn]] void encoder_failed();
    void finish_encoder();
    void complete_after_early_end() noexcept;

    encoded_stream stream_;
    bool seekable_;
    // A regular file never blocks, so it is completed even after an
    // interrupt; any other output stops at once, as for every format.
    on_interrupt interrupt_;
    std::uint64_t base_offset_ = 0;  // where the stream begins in the file
    stream_metadata metadata_;
    std::unique_ptr<FLAC__StreamEncoder, void (*)(FLAC__StreamEncoder*)> encoder_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::vector<std::uint8_t>> full_;
    std::vector<std::vector<std::uint8_t>> spare_;
    std::size_t buffers_ = 1;            // made so far, the one being filled included
    std::vector<std::uint8_t> encoded_;  // what the encoder put out, still to be written
    std::uint64_t position_ = 0;         // of the encoder's output, from base_offset_
    bool closing_ = false;               // no more buffers come
    bool abandoned_ = false;             // the stream is dropped: nothing more is encoded or kept
    bool encoding_failed_ = false;
    std::exception_ptr failure_;  // thrown on the encoding thread or in a callback
    std::thread thread_;

    // Reading thread only.
    std::vector<std::uint8_t> filling_;
    std::vector<std::uint8_t> outgoing_;
    bool write_failed_ = false;
    bool finished_ = false;
};

flac_stream::flac_stream(const encoded_stream& stream)
    : stream_(stream),
      seekable_(stream.own_file && is_regular_file(stream.fd)),
      interrupt_(seekable_ ? on_interrupt::carry_on : on_interrupt::stop),
      metadata_(stream.tags, stream.sample_frames, seekable_),
      encoder_(FLAC__stream_encoder_new(), FLAC__stream_encoder_delete) {
    if (encoder_ == nullptr) {
        exit_out_of_memory();
    }
    if (seekable_) {
        const off_t at = ::lseek(stream_.fd, 0, SEEK_CUR);
        seekable_ = at >= 0;
        base_offset_ = at >= 0 ? static_cast<std::uint64_t>(at) : 0;
    }
    FLAC__StreamEncoder* e = encoder_.get();
    FLAC__stream_encoder_set_channels(e, channels);
    FLAC__stream_encoder_set_bits_per_sample(e, bits_per_sample);
    FLAC__stream_encoder_set_sample_rate(e, sample_rate);
    FLAC__stream_encoder_set_compression_level(e, compression_level);
    FLAC__stream_encoder_set_total_samples_estimate(e, stream_.sample_frames);
    FLAC__stream_encoder_set_metadata(e, metadata_.blocks(), metadata_.count());
    // Without a seek callback libFLAC leaves STREAMINFO as written first:
    // the MD5 signature unset.
    const FLAC__StreamEncoderInitStatus status = FLAC__stream_encoder_init_stream(
        e, on_write, seekable_ ? on_seek : nullptr, seekable_ ? on_tell : nullptr, nullptr, this);
    if (status != FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
        abandoned_ = true;
        std::fprintf(stderr, "%s: %s: FLAC encoder: %s\n", program_name, stream_.name.c_str(),
                     FLAC__StreamEncoderInitStatusString[status]);
        throw exit_request{1};
    }
    filling_.reserve(buffer_bytes);
    write_out();  // the metadata
    thread_ = start_without_signals([this] { encode_buffers(); });
}

flac_stream::~flac_stream() {
    if (!finished_) {
        complete_after_early_end();
    }
    if (thread_.joinable()) {
        thread_.join();
    }
}

void flac_stream::write(const std::uint8_t* data, std::size_t bytes) {
    filling_.insert(filling_.end(), data, data + bytes);
    if (filling_.size() >= buffer_bytes) {
        hand_over();
    }
    write_out();
}

void flac_stream::finish() {
    if (!filling_.empty()) {
        hand_over();
    }
    stop_encoding(true);
    check_encoder();
    finish_encoder();
    finished_ = true;
}

void flac_stream::encode_buffers() {
    std::vector<FLAC__int32> samples;
    try {
        for (;;) {
            std::vector<std::uint8_t> buffer;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [this] { return !full_.empty() || closing_; });
                if (abandoned_ || full_.empty()) {
                    return;
                }
                buffer = std::move(full_.front());
                full_.pop_front();
            }
            encode(buffer, samples);
            std::lock_guard lock(mutex_);
            if (encoding_failed_) {
                changed_.notify_all();
                return;
            }
            buffer.clear();
            spare_.push_back(std::move(buffer));
            changed_.notify_all();
        }
    } catch (...) {
        std::lock_guard lock(mutex_);
        failure_ = std::current_exception();
        changed_.notify_all();
    }
}

void flac_stream::encode(const std::vector<std::uint8_t>& buffer,
                         std::vector<FLAC__int32>& samples) {
    const std::size_t count = buffer.size() / bytes_per_sample;
    samples.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* at = &buffer[i * bytes_per_sample];
        samples[i] = static_cast<std::int16_t>(at[0] | at[1] << 8);
    }
    const auto frames = static_cast<unsigned>(count / channels);
    if (!FLAC__stream_encoder_process_interleaved(encoder_.get(), samples.data(), frames)) {
        std::lock_guard lock(mutex_);
        encoding_failed_ = true;
    }
}

FLAC__StreamEncoderWriteStatus flac_stream::on_write(const FLAC__StreamEncoder*,
                                                     const FLAC__byte buffer[], size_t bytes,
                                                     unsigned, unsigned, void* self) {
    auto& s = *static_cast<flac_stream*>(self);
    std::lock_guard lock(s.mutex_);
    if (s.abandoned_) {
        return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
    }
    try {
        s.encoded_.insert(s.encoded_.end(), buffer, buffer + bytes);
    } catch (...) {
        s.failure_ = std::current_exception();
        return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
    }
    s.position_ += bytes;
    s.changed_.notify_all();
    return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
}

// Only while the reading thread finishes the encoder: STREAMINFO and the
// seek table are rewritten in place.
FLAC__StreamEncoderSeekStatus flac_stream::on_seek(const FLAC__StreamEncoder*, FLAC__uint64 offset,
                                                   void* self) {
    auto& s = *static_cast<flac_stream*>(self);
    try {
        s.write_out();
        if (::lseek(s.stream_.fd, static_cast<off_t>(s.base_offset_ + offset), SEEK_SET) < 0) {
            exit_with_errno(s.stream_.name.c_str());
        }
    } catch (...) {
        std::lock_guard lock(s.mutex_);
        s.failure_ = std::current_exception();
        return FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
    }
    std::lock_guard lock(s.mutex_);
    s.position_ = offset;
    return FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
}

FLAC__StreamEncoderTellStatus flac_stream::on_tell(const FLAC__StreamEncoder*, FLAC__uint64* offset,
                                                   void* self) {
    auto& s = *static_cast<flac_stream*>(self);
    std::lock_guard lock(s.mutex_);
    *offset = s.position_;
    return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
}

// Gives the filled buffer to the encoder, once it has room for one more,
// writing out what it encodes meanwhile.
void flac_stream::hand_over() {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (encoding_failed_ || failure_) {
            lock.unlock();
            check_encoder();  // throws
            lock.lock();
        }
        if (!encoded_.empty()) {
            lock.unlock();
            write_out();
            lock.lock();
            continue;
        }
        if (!spare_.empty() || buffers_ < buffers_ahead) {
            break;
        }
        changed_.wait(lock);
    }
    full_.push_back(std::move(filling_));
    if (spare_.empty()) {
        ++buffers_;
        filling_ = {};
        filling_.reserve(buffer_bytes);
    } else {
        filling_ = std::move(spare_.back());
        spare_.pop_back();
    }
    changed_.notify_all();
}

void flac_stream::write_out() {
    {
        std::lock_guard lock(mutex_);
        outgoing_.swap(encoded_);
    }
    write_bytes(outgoing_);
    outgoing_.clear();
}

void flac_stream::write_bytes(const std::vector<std::uint8_t>& bytes) {
    if (bytes.empty()) {
        return;
    }
    write_failed_ = true;  // until the write comes back
    write_all(stream_.fd, bytes.data(), bytes.size(), stream_.name.c_str(), interrupt_);
    write_failed_ = false;
}

// drain: encode what is queued first; otherwise drop it.
void flac_stream::stop_encoding(bool drain) {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
        abandoned_ = abandoned_ || !drain;
        changed_.notify_all();
    }
    if (thread_.joinable()) {
        thread_.join();
    }
}

void flac_stream::check_encoder() {
    std::exception_ptr failure;
    bool failed;
    {
        std::lock_guard lock(mutex_);
        failure = failure_;
        failed = encoding_failed_;
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
    if (failed) {
        encoder_failed();
    }
}

void flac_stream::encoder_failed() {
    {
        std::lock_guard lock(mutex_);
        abandoned_ = true;
        encoding_failed_ = true;
    }
    std::fprintf(stderr, "%s: %s: FLAC encoder: %s\n", program_name, stream_.name.c_str(),
                 FLAC__stream_encoder_get_resolved_state_string(encoder_.get()));
    throw exit_request{1};
}

// The last frame, then (on a regular file) the completed STREAMINFO and
// seek table.  The encoding thread has ended.
void flac_stream::finish_encoder() {
    write_out();
    const bool done = FLAC__stream_encoder_finish(encoder_.get()) != 0;
    check_encoder();
    if (!done) {
        encoder_failed();
    }
    write_out();
}

// The run ends early.  Unless the output itself failed, or an interrupt
// stops a stream that is no regular file, the audio handed over so far is
// encoded and the stream completed, as the other formats keep every chunk
// written before the end.
void flac_stream::complete_after_early_end() noexcept {
    bool keep = !write_failed_ && !(pending_interrupt() != 0 && !seekable_);
    try {
        if (keep && !filling_.empty()) {
            std::lock_guard lock(mutex_);
            full_.push_back(std::move(filling_));
        }
    } catch (...) {
        keep = false;
    }
    stop_encoding(keep);
    {
        std::lock_guard lock(mutex_);
        keep = keep && !abandoned_ && !encoding_failed_ && !failure_;
        abandoned_ = !keep;
    }
    if (!keep) {
        return;
    }
    try {
        finish_encoder();
    } catch (...) {
        // Its message is printed; the run ends by the failure it met first.
    }
}

}  // namespace

std::unique_ptr<audio_encoder> start_flac_encoder(const encoded_stream& stream) {
    return std::make_unique<flac_stream>(stream);
}
