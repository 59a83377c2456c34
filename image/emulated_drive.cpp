#include "image/emulated_drive.h"

passthrough_open_result open_emulated_drive(const std::string& cue_path) {
    passthrough_open_result result;
    result.error = cue_path + ": disc images are not served yet";
    return result;
}
