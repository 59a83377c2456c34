#include "image/read_cd_fields.h"

#include <gtest/gtest.h>

#include "image/read_cd_fields_test_util.h"

namespace {

TEST(read_cd_fields, main_channel_bytes_follow_the_mmc_table) {
    for (int row = 0; row < 32; ++row) {
        const auto byte9 = static_cast<std::uint8_t>(row << 3);
        for (int kind = 0; kind < 5; ++kind) {
            SCOPED_TRACE(testing::Message()
                         << "byte 9 " << std::hex << int(byte9) << ", kind " << kind + 1);
            const std::optional<sector_span> span =
                selected_main_channel(byte9, static_cast<sector_kind>(kind + 1));
            const int expected = mmc_main_channel_bytes[row][kind];
            ASSERT_EQ(span.has_value(), expected >= 0);
            if (span) {
                EXPECT_EQ(int(span->length), expected);
                EXPECT_LE(span->offset + span->length, 2352u);
            }
        }
    }
}

// Where the fields start: the user data of a Mode 1 sector after its
// header, of a Form 1 sector after the subheader; a header read alone.
TEST(read_cd_fields, fields_come_from_their_place_in_the_raw_sector) {
    EXPECT_EQ(selected_main_channel(0x10, sector_kind::mode1)->offset, 16u);
    EXPECT_EQ(selected_main_channel(0x10, sector_kind::mode2_form1)->offset, 24u);
    EXPECT_EQ(selected_main_channel(0x58, sector_kind::mode2_form2)->offset, 16u);
    EXPECT_EQ(selected_main_channel(0x20, sector_kind::mode1)->offset, 12u);
    EXPECT_EQ(selected_main_channel(0x78, sector_kind::cdda)->offset, 0u);
}

TEST(read_cd_fields, error_field_and_sub_channel_sizes) {
    EXPECT_EQ(c2_error_bytes(0x10), 0u);
    EXPECT_EQ(c2_error_bytes(0x12), 294u);
    EXPECT_EQ(c2_error_bytes(0xfc), 296u);
    EXPECT_EQ(subchannel_bytes(0), 0u);
    EXPECT_EQ(subchannel_bytes(1), 96u);
    EXPECT_EQ(subchannel_bytes(2), 16u);
    EXPECT_EQ(subchannel_bytes(4), 96u);
    const struct {
        std::uint8_t byte9, byte10;
        bool valid;
    } rows[] = {
        {0xf8, 0, true},  {0xfa, 1, true},  {0xfc, 2, true},  {0x10, 4, true},
        {0xfe, 0, false}, {0x11, 0, false}, {0x10, 3, false}, {0x10, 5, false},
        {0x10, 6, false}, {0x10, 7, false}, {0x10, 8, false}, {0x10, 0x82, false},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(read_cd_selection_valid(r.byte9, r.byte10), r.valid)
            << std::hex << int(r.byte9) << " " << int(r.byte10);
    }
}

}  // namespace
