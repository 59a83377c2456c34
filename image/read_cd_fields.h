#pragma once

// What READ CD (0xBE) returns of each sector: the fields its byte 9 selects
// from the main channel, the C2 error information and the sub-channel of
// byte 10, as MMC lays them out for each kind of sector.

#include <cstdint>
#include <optional>

// The sector kinds READ CD tells apart.  Its expected-sector-type field
// (byte 1, bits 4 to 2) numbers them 1 to 5; 0 accepts any.
enum class sector_kind : std::uint8_t {
    cdda = 1,
    mode1 = 2,
    mode2_formless = 3,
    mode2_form1 = 4,
    mode2_form2 = 5,
};

// A stretch of the 2352-byte raw sector (sync, header, subheader, user
// data, EDC/ECC, in that order).
struct sector_span {
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
};

// The main-channel bytes byte 9 selects (bits 7 to 3: sync, header codes,
// user data, EDC/ECC) from a sector of the kind; nothing when MMC calls the
// combination illegal for it.  For CD-DA the only field is the 2352 bytes of
// audio, returned whenever any field is asked for.
std::optional<sector_span> selected_main_channel(std::uint8_t byte9, sector_kind kind);

// Whether the reserved values and bits of bytes 9 and 10 are clear: byte 9
// bit 0 and error field 11b, byte 10 bits 7 to 3 and sub-channel selections
// other than none, raw P-W, formatted Q and R-W.
bool read_cd_selection_valid(std::uint8_t byte9, std::uint8_t byte10);

// Bytes of C2 error information per sector (byte 9 bits 2 to 1): none, 294
// bits-as-bytes pointers, or those with the block error byte and a pad byte.
std::uint32_t c2_error_bytes(std::uint8_t byte9);

// Sub-channel bytes per sector (byte 10 bits 2 to 0): raw P-W 96,
// formatted Q 16, R-W 96.
std::uint32_t subchannel_bytes(std::uint8_t byte10);

inline constexpr std::uint8_t subchannel_none = 0;
inline constexpr std::uint8_t subchannel_raw_pw = 1;
inline constexpr std::uint8_t subchannel_formatted_q = 2;
inline constexpr std::uint8_t subchannel_rw = 4;
