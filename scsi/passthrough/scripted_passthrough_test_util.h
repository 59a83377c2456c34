#pragma once

// A pass-through for tests: records every request and answers each one from
// a script of answers given in advance, or from a callback.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "scsi/passthrough/passthrough.h"
#include "scsi/passthrough/sense.h"

// One request as the pass-through received it.
struct recorded_request {
    std::vector<std::uint8_t> cdb;
    data_direction direction = data_direction::none;
    std::size_t length = 0;               // the data phase's length in bytes
    std::vector<std::uint8_t> data_sent;  // the bytes of a data-out phase
    int timeout_ms = 0;
    int retries = 0;
};

// How the fake answers one request.  For a completed data-in command the
// bytes of `data` are copied to the start of the request's buffer (as many
// as fit); the rest of the buffer is left as it was.
struct scripted_answer {
    scsi_outcome outcome;
    std::vector<std::uint8_t> data;

    static scripted_answer completed(std::vector<std::uint8_t> data = {});
    static scripted_answer check_condition(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq);
    static scripted_answer with_sense(std::vector<std::uint8_t> sense);  // CHECK CONDITION
    static scripted_answer failed(int status);
    static scripted_answer not_sent(int system_error);
};

// The script shared by a test and the fake it hands to the code under test;
// it outlives the fake, so a test can look at the requests after the
// channel has closed the device.
class drive_script {
  public:
    using responder = std::function<scripted_answer(const recorded_request&)>;

    // Answers the next request; queued answers are used in order, then the
    // responder.  Without either, a request is a test failure and completes
    // without data.
    drive_script& then(scripted_answer answer);
    drive_script& otherwise(responder answer);

    const std::vector<recorded_request>& requests() const { return requests_; }
    bool device_closed() const { return closed_; }

    // A pass-through that answers from this script.
    static std::unique_ptr<passthrough> make_passthrough(std::shared_ptr<drive_script> script);

  private:
    friend class scripted_passthrough;
    scripted_answer answer(const recorded_request& request);

    std::deque<scripted_answer> queued_;
    responder responder_;
    std::vector<recorded_request> requests_;
    bool closed_ = false;
};

class scripted_passthrough : public passthrough {
  public:
    explicit scripted_passthrough(std::shared_ptr<drive_script> script);
    ~scripted_passthrough() override;
    scsi_outcome send(const scsi_request& request) override;

  private:
    std::shared_ptr<drive_script> script_;
};
