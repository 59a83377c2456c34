#pragma once

// A scripted drive for the tests of the read modes, the table of contents
// and the read loop, with the requests it saw written the way the command
// log writes them.

#include <memory>
#include <string>
#include <vector>

#include "scsi/channel.h"
#include "scsi/passthrough/scripted_passthrough_test_util.h"
#include "scsi/sense_text.h"

// "15 10 00 00 0c 00 | out 12 00 00 00 08 ..." or "28 00 ... | in 2352".
inline std::string describe(const recorded_request& request) {
    static const char* const names[] = {"none", "in", "out"};
    // Appended piece by piece: g++ 12 warns falsely (-Wrestrict) about
    // " " + <a temporary string> once it is inlined.
    std::string text = hex_bytes(request.cdb);
    text += " | ";
    text += names[static_cast<int>(request.direction)];
    text += ' ';
    text += std::to_string(request.length);
    if (request.direction == data_direction::out) {
        text += ' ';
        text += hex_bytes(request.data_sent);
    }
    return text;
}

inline const std::string select_2048 =
    "15 10 00 00 0c 00 | out 12 00 00 00 08 00 00 00 00 00 00 08 00";
inline std::string select_2352(int density = 0) {
    char text[80];
    std::snprintf(text, sizeof text,
                  "15 10 00 00 0c 00 | out 12 00 00 00 08 %02x 00 00 00 00 00 09 30", density);
    return text;
}

struct fake_drive {
    std::shared_ptr<drive_script> script = std::make_shared<drive_script>();
    std::unique_ptr<scsi_device> device;

    fake_drive() {
        script->otherwise([](const recorded_request&) { return scripted_answer::completed(); });
        device = scsi_attach(drive_script::make_passthrough(script));
    }

    std::vector<std::string> sent() const {
        std::vector<std::string> lines;
        for (const recorded_request& request : script->requests()) {
            lines.push_back(describe(request));
        }
        return lines;
    }
};
