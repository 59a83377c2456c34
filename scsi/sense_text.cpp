#include "scsi/sense_text.h"

#include <array>
#include <cinttypes>
#include <cstdio>

namespace {

constexpr std::array<const char*, 16> key_names = {
    "NO SENSE",       "RECOVERED ERROR", "NOT READY",      "MEDIUM ERROR",
    "HARDWARE ERROR", "ILLEGAL REQUEST", "UNIT ATTENTION", "DATA PROTECT",
    "BLANK CHECK",    "VENDOR SPECIFIC", "COPY ABORTED",   "ABORTED COMMAND",
    "RESERVED (0xc)", "VOLUME OVERFLOW", "MISCOMPARE",     "COMPLETED",
};

struct asc_text {
    std::uint8_t asc;
    std::uint8_t ascq;
    const char* text;
};

// The additional sense codes a CD drive answers a reader with.
constexpr asc_text asc_texts[] = {
    {0x00, 0x00, "No additional sense information"},
    {0x00, 0x11, "Audio play operation in progress"},
    {0x00, 0x12, "Audio play operation paused"},
    {0x00, 0x13, "Audio play operation successfully completed"},
    {0x00, 0x14, "Audio play operation stopped due to error"},
    {0x00, 0x15, "No current audio status to return"},
    {0x02, 0x00, "No seek complete"},
    {0x04, 0x00, "Logical unit not ready, cause not reportable"},
    {0x04, 0x01, "Logical unit is in process of becoming ready"},
    {0x04, 0x02, "Logical unit not ready, initializing command required"},
    {0x04, 0x03, "Logical unit not ready, manual intervention required"},
    {0x04, 0x07, "Logical unit not ready, operation in progress"},
    {0x06, 0x00, "No reference position found"},
    {0x09, 0x00, "Track following error"},
    {0x11, 0x00, "Unrecovered read error"},
    {0x11, 0x05, "L-EC uncorrectable error"},
    {0x11, 0x06, "CIRC unrecovered error"},
    {0x11, 0x11, "Read error - loss of streaming"},
    {0x15, 0x00, "Random positioning error"},
    {0x15, 0x02, "Positioning error detected by read of medium"},
    {0x18, 0x00, "Recovered data with error correction applied"},
    {0x1a, 0x00, "Parameter list length error"},
    {0x20, 0x00, "Invalid command operation code"},
    {0x21, 0x00, "Logical block address out of range"},
    {0x24, 0x00, "Invalid field in cdb"},
    {0x25, 0x00, "Logical unit not supported"},
    {0x26, 0x00, "Invalid field in parameter list"},
    {0x26, 0x01, "Parameter not supported"},
    {0x26, 0x02, "Parameter value invalid"},
    {0x28, 0x00, "Not ready to ready change, medium may have changed"},
    {0x29, 0x00, "Power on, reset, or bus device reset occurred"},
    {0x2a, 0x01, "Mode parameters changed"},
    {0x30, 0x00, "Incompatible medium installed"},
    {0x30, 0x01, "Cannot read medium - unknown format"},
    {0x30, 0x02, "Cannot read medium - incompatible format"},
    {0x30, 0x03, "Cleaning cartridge installed"},
    {0x3a, 0x00, "Medium not present"},
    {0x3a, 0x01, "Medium not present - tray closed"},
    {0x3a, 0x02, "Medium not present - tray open"},
    {0x3e, 0x01, "Logical unit failure"},
    {0x44, 0x00, "Internal target failure"},
    {0x53, 0x00, "Media load or eject failed"},
    {0x57, 0x00, "Unable to recover table-of-contents"},
    {0x63, 0x00, "End of user area encountered on this track"},
    {0x64, 0x00, "Illegal mode for this track"},
    {0x64, 0x01, "Invalid packet size"},
};

constexpr std::uint8_t response_code_mask = 0x7f;
constexpr std::uint8_t first_vendor_asc = 0x80;

std::uint64_t big_endian(std::span<const std::uint8_t> bytes) {
    std::uint64_t value = 0;
    for (std::uint8_t b : bytes) {
        value = (value << 8) | b;
    }
    return value;
}

void decode_fixed(std::span<const std::uint8_t> s, sense_summary& out) {
    out.layout = sense_summary::format::fixed;
    if (s.size() >= 3) {
        out.key = s[2] & 0x0f;
    }
    // A drive may send the short 8-byte form; the codes are there only when
    // the additional length reaches them.
    if (s.size() >= 14 && s[7] >= 6) {
        out.asc = s[12];
        out.ascq = s[13];
    }
    if ((s[0] & 0x80) != 0 && s.size() >= 7) {
        out.information_valid = true;
        out.information = big_endian(s.subspan(3, 4));
    }
}

void decode_descriptor(std::span<const std::uint8_t> s, sense_summary& out) {
    out.layout = sense_summary::format::descriptor;
    if (s.size() >= 4) {
        out.key = s[1] & 0x0f;
        out.asc = s[2];
        out.ascq = s[3];
    }
    std::size_t at = 8;
    while (at + 2 <= s.size()) {
        const std::size_t length = s[at + 1];
        constexpr std::uint8_t information_descriptor = 0x00;
        if (s[at] == information_descriptor && at + 12 <= s.size() && (s[at + 2] & 0x80) != 0) {
            out.information_valid = true;
            out.information = big_endian(s.subspan(at + 4, 8));
        }
        at += 2 + length;
    }
}

}  // namespace

sense_summary decode_sense(std::span<const std::uint8_t> sense) {
    sense_summary out;
    if (sense.empty()) {
        return out;
    }
    out.response_code = sense[0] & response_code_mask;
    switch (out.response_code) {
        case 0x70:
        case 0x71:
            decode_fixed(sense, out);
            break;
        case 0x72:
        case 0x73:
            decode_descriptor(sense, out);
            break;
        default:
            out.layout = sense_summary::format::unknown;
            return out;
    }
    out.deferred = out.response_code == 0x71 || out.response_code == 0x73;
    return out;
}

const char* sense_key_name(std::uint8_t key) {
    return key_names[key & 0x0f];
}

const char* additional_sense_text(std::uint8_t asc, std::uint8_t ascq) {
    for (const asc_text& row : asc_texts) {
        if (row.asc == asc && row.ascq == ascq) {
            return row.text;
        }
    }
    return nullptr;
}

std::string hex_bytes(std::span<const std::uint8_t> bytes) {
    std::string text;
    text.reserve(bytes.size() * 3);
    char digits[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(digits, sizeof digits, "%02x", b);
        if (!text.empty()) {
            text += ' ';
        }
        text += digits;
    }
    return text;
}

namespace {

std::string asc_line(const sense_summary& s) {
    char line[160];
    const char* text = additional_sense_text(s.asc, s.ascq);
    if (text != nullptr) {
        std::snprintf(line, sizeof line, "Additional sense: %02x/%02x %s\n", s.asc, s.ascq, text);
    } else if (s.asc >= first_vendor_asc) {
        std::snprintf(line, sizeof line, "Additional sense: %02x/%02x vendor specific\n", s.asc,
                      s.ascq);
    } else {
        std::snprintf(line, sizeof line, "Additional sense: %02x/%02x (no standard text known)\n",
                      s.asc, s.ascq);
    }
    return line;
}

}  // namespace

std::string describe_sense(std::span<const std::uint8_t> sense) {
    const sense_summary s = decode_sense(sense);
    char line[160];
    std::string text;
    switch (s.layout) {
        case sense_summary::format::none:
            return "No sense data returned\n";
        case sense_summary::format::unknown:
            std::snprintf(line, sizeof line,
                          "Sense data in an unknown format (response code 0x%02x)\n",
                          s.response_code);
            text = line;
            break;
        case sense_summary::format::fixed:
        case sense_summary::format::descriptor:
            std::snprintf(line, sizeof line, "Sense key: %s (0x%x)%s\n", sense_key_name(s.key),
                          s.key, s.deferred ? ", deferred error of an earlier command" : "");
            text = line;
            text += asc_line(s);
            if (s.information_valid) {
                std::snprintf(line, sizeof line, "Information: %" PRIu64 " (0x%" PRIx64 ")\n",
                              s.information, s.information);
                text += line;
            }
            break;
    }
    text += "Sense bytes: " + hex_bytes(sense) + "\n";
    return text;
}
