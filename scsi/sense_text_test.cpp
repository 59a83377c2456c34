#include "scsi/sense_text.h"

#include <gtest/gtest.h>

namespace {

using bytes = std::vector<std::uint8_t>;

TEST(sense_text, decodes_each_format) {
    struct row {
        bytes sense;
        std::string expected;
    };
    const row rows[] = {
        {{0x70, 0, 0x05, 0, 0, 0, 0, 0x0a, 0, 0, 0, 0, 0x64, 0x00, 0, 0, 0, 0},
         "Sense key: ILLEGAL REQUEST (0x5)\n"
         "Additional sense: 64/00 Illegal mode for this track\n"
         "Sense bytes: 70 00 05 00 00 00 00 0a 00 00 00 00 64 00 00 00 00 00\n"},
        // VALID set: the information field holds the failing address.
        {{0xf0, 0, 0x03, 0, 0x01, 0xe2, 0x4e, 0x0a, 0, 0, 0, 0, 0x11, 0x05, 0, 0, 0, 0},
         "Sense key: MEDIUM ERROR (0x3)\n"
         "Additional sense: 11/05 L-EC uncorrectable error\n"
         "Information: 123470 (0x1e24e)\n"
         "Sense bytes: f0 00 03 00 01 e2 4e 0a 00 00 00 00 11 05 00 00 00 00\n"},
        {{0x71, 0, 0x06, 0, 0, 0, 0, 0x0a, 0, 0, 0, 0, 0x29, 0x00, 0, 0, 0, 0},
         "Sense key: UNIT ATTENTION (0x6), deferred error of an earlier command\n"
         "Additional sense: 29/00 Power on, reset, or bus device reset occurred\n"
         "Sense bytes: 71 00 06 00 00 00 00 0a 00 00 00 00 29 00 00 00 00 00\n"},
        // The short form stops before the additional sense code.
        {{0x70, 0, 0x02, 0, 0, 0, 0, 0},
         "Sense key: NOT READY (0x2)\n"
         "Additional sense: 00/00 No additional sense information\n"
         "Sense bytes: 70 00 02 00 00 00 00 00\n"},
        {{0x72, 0x05, 0x24, 0x00, 0, 0, 0, 0x0c, 0x00, 0x0a, 0x80, 0, 0, 0, 0, 0, 0, 0, 0x12, 0x34},
         "Sense key: ILLEGAL REQUEST (0x5)\n"
         "Additional sense: 24/00 Invalid field in cdb\n"
         "Information: 4660 (0x1234)\n"
         "Sense bytes: 72 05 24 00 00 00 00 0c 00 0a 80 00 00 00 00 00 00 00 12 34\n"},
        {{0x70, 0, 0x04, 0, 0, 0, 0, 0x0a, 0, 0, 0, 0, 0x80, 0x01, 0, 0, 0, 0},
         "Sense key: HARDWARE ERROR (0x4)\n"
         "Additional sense: 80/01 vendor specific\n"
         "Sense bytes: 70 00 04 00 00 00 00 0a 00 00 00 00 80 01 00 00 00 00\n"},
        {{0x70, 0, 0x05, 0, 0, 0, 0, 0x0a, 0, 0, 0, 0, 0x5d, 0x00, 0, 0, 0, 0},
         "Sense key: ILLEGAL REQUEST (0x5)\n"
         "Additional sense: 5d/00 (no standard text known)\n"
         "Sense bytes: 70 00 05 00 00 00 00 0a 00 00 00 00 5d 00 00 00 00 00\n"},
        {{0x7f, 1, 2},
         "Sense data in an unknown format (response code 0x7f)\nSense bytes: 7f 01 02\n"},
        {{}, "No sense data returned\n"},
    };
    for (const row& r : rows) {
        EXPECT_EQ(describe_sense(r.sense), r.expected);
    }
}

TEST(sense_text, every_key_has_a_name) {
    for (int key = 0; key < 16; ++key) {
        EXPECT_NE(std::string(sense_key_name(static_cast<std::uint8_t>(key))), "");
    }
    EXPECT_STREQ(sense_key_name(0xb), "ABORTED COMMAND");
}

}  // namespace
