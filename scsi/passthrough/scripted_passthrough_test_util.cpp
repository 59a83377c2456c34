#include "scsi/passthrough/scripted_passthrough_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "scsi/sense_text.h"

scripted_answer scripted_answer::completed(std::vector<std::uint8_t> data) {
    scripted_answer answer;
    answer.data = std::move(data);
    return answer;
}

scripted_answer scripted_answer::check_condition(std::uint8_t key, std::uint8_t asc,
                                                 std::uint8_t ascq) {
    scripted_answer answer;
    answer.outcome = ::check_condition(key, asc, ascq);
    return answer;
}

scripted_answer scripted_answer::with_sense(std::vector<std::uint8_t> sense) {
    scripted_answer answer;
    answer.outcome.what = scsi_outcome::kind::status_error;
    answer.outcome.status = 0x02;
    answer.outcome.sense_length = std::min(sense.size(), answer.outcome.sense.size());
    std::copy_n(sense.begin(), answer.outcome.sense_length, answer.outcome.sense.begin());
    return answer;
}

scripted_answer scripted_answer::failed(int status) {
    scripted_answer answer;
    answer.outcome.what = scsi_outcome::kind::failed;
    answer.outcome.status = status;
    return answer;
}

scripted_answer scripted_answer::not_sent(int system_error) {
    scripted_answer answer;
    answer.outcome.what = scsi_outcome::kind::not_sent;
    answer.outcome.system_error = system_error;
    return answer;
}

drive_script& drive_script::then(scripted_answer answer) {
    queued_.push_back(std::move(answer));
    return *this;
}

drive_script& drive_script::otherwise(responder answer) {
    responder_ = std::move(answer);
    return *this;
}

scripted_answer drive_script::answer(const recorded_request& request) {
    if (!queued_.empty()) {
        scripted_answer next = std::move(queued_.front());
        queued_.pop_front();
        return next;
    }
    if (responder_) {
        return responder_(request);
    }
    ADD_FAILURE() << "unscripted command " << hex_bytes(request.cdb);
    return scripted_answer::completed();
}

std::unique_ptr<passthrough> drive_script::make_passthrough(std::shared_ptr<drive_script> script) {
    return std::make_unique<scripted_passthrough>(std::move(script));
}

scripted_passthrough::scripted_passthrough(std::shared_ptr<drive_script> script)
    : script_(std::move(script)) {}

scripted_passthrough::~scripted_passthrough() {
    script_->closed_ = true;
}

scsi_outcome scripted_passthrough::send(const scsi_request& request) {
    recorded_request seen;
    seen.cdb.assign(request.cdb.begin(), request.cdb.end());
    seen.direction = request.direction;
    seen.length = request.data.size();
    if (request.direction == data_direction::out) {
        seen.data_sent.assign(request.data.begin(), request.data.end());
    }
    seen.timeout_ms = request.timeout_ms;
    seen.retries = request.retries;
    script_->requests_.push_back(seen);

    const scripted_answer answer = script_->answer(script_->requests_.back());
    if (answer.outcome.what == scsi_outcome::kind::completed &&
        request.direction == data_direction::in) {
        const std::size_t n = std::min(answer.data.size(), request.data.size());
        std::copy_n(answer.data.begin(), n, request.data.begin());
    }
    return answer.outcome;
}
