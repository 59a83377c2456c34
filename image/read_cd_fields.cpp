#include "image/read_cd_fields.h"

#include <array>

namespace {

constexpr std::uint8_t sync_bit = 0x80;
constexpr std::uint8_t subheader_bit = 0x40;
constexpr std::uint8_t header_bit = 0x20;
constexpr std::uint8_t user_data_bit = 0x10;
constexpr std::uint8_t edc_ecc_bit = 0x08;
constexpr std::uint8_t main_channel_bits = 0xf8;

constexpr std::uint32_t raw_sector = 2352;

// Where each field lies in the raw sector of a kind, in the order of the
// sector: sync, header, subheader, user data, EDC/ECC.  A field the kind
// does not have is empty.  Mode 2 Form 2 counts its 4 spare EDC bytes as
// user data (2328 bytes), as MMC does; formless Mode 2 has 2336 bytes of
// user data and no EDC/ECC.
struct field_layout {
    std::array<sector_span, 5> fields;
};

field_layout layout_of(sector_kind kind) {
    constexpr sector_span sync{0, 12}, header{12, 4};
    switch (kind) {
        case sector_kind::mode1:
            return {{sync, header, {16, 0}, {16, 2048}, {2064, 288}}};
        case sector_kind::mode2_formless:
            return {{sync, header, {16, 0}, {16, 2336}, {2352, 0}}};
        case sector_kind::mode2_form1:
            return {{sync, header, {16, 8}, {24, 2048}, {2072, 280}}};
        case sector_kind::mode2_form2:
            return {{sync, header, {16, 8}, {24, 2328}, {2352, 0}}};
        case sector_kind::cdda:
            break;
    }
    return {};
}

}  // namespace

std::optional<sector_span> selected_main_channel(std::uint8_t byte9, sector_kind kind) {
    const std::uint8_t asked = byte9 & main_channel_bits;
    if (kind == sector_kind::cdda) {
        return asked == 0 ? sector_span{0, 0} : sector_span{0, raw_sector};
    }
    // Combinations MMC lists as illegal for every data sector: EDC/ECC
    // without the user data it protects, and the sync pattern without the
    // header that follows it.
    if ((asked & edc_ecc_bit) != 0 && (asked & user_data_bit) == 0) {
        return std::nullopt;
    }
    if ((asked & sync_bit) != 0 && (asked & header_bit) == 0) {
        return std::nullopt;
    }
    // Otherwise the fields asked for that the sector has must be one run:
    // the header and the user data of a Form 1 or Form 2 sector cannot be
    // read without the subheader between them.
    constexpr std::uint8_t bits[5] = {sync_bit, header_bit, subheader_bit, user_data_bit,
                                      edc_ecc_bit};
    const field_layout layout = layout_of(kind);
    sector_span run;
    bool started = false, ended = false;
    for (int i = 0; i < 5; ++i) {
        const sector_span field = layout.fields[i];
        if (field.length == 0) {
            continue;
        }
        if ((asked & bits[i]) != 0) {
            if (ended) {
                return std::nullopt;
            }
            if (!started) {
                run.offset = field.offset;
                started = true;
            }
            run.length = field.offset + field.length - run.offset;
        } else if (started) {
            ended = true;
        }
    }
    return run;
}

bool read_cd_selection_valid(std::uint8_t byte9, std::uint8_t byte10) {
    constexpr std::uint8_t reserved_error_field = 0x06;
    if ((byte9 & 0x01) != 0 || (byte9 & 0x06) == reserved_error_field || (byte10 & 0xf8) != 0) {
        return false;
    }
    const std::uint8_t sub = byte10 & 0x07;
    return sub == subchannel_none || sub == subchannel_raw_pw || sub == subchannel_formatted_q ||
           sub == subchannel_rw;
}

std::uint32_t c2_error_bytes(std::uint8_t byte9) {
    switch ((byte9 >> 1) & 0x03) {
        case 1:
            return 294;
        case 2:
            return 296;
        default:
            return 0;
    }
}

std::uint32_t subchannel_bytes(std::uint8_t byte10) {
    switch (byte10 & 0x07) {
        case subchannel_raw_pw:
        case subchannel_rw:
            return 96;
        case subchannel_formatted_q:
            return 16;
        default:
            return 0;
    }
}
