#pragma once

// MMC's table of the bytes READ CD returns per sector for each main-channel
// selection of byte 9 (rows: bits 7 to 3, sync, header codes, user data,
// EDC/ECC; 0x00, 0x08, ... 0xf8) and each sector type (columns: CD-DA,
// Mode 1, Mode 2 formless, Mode 2 Form 1, Mode 2 Form 2); -1 where MMC
// calls the combination illegal.
inline constexpr int mmc_main_channel_bytes[32][5] = {
    {0, 0, 0, 0, 0},                 // 00 nothing
    {2352, -1, -1, -1, -1},          // 08 EDC/ECC
    {2352, 2048, 2336, 2048, 2328},  // 10 user data
    {2352, 2336, 2336, 2328, 2328},  // 18 user data, EDC/ECC
    {2352, 4, 4, 4, 4},              // 20 header
    {2352, -1, -1, -1, -1},          // 28 header, EDC/ECC
    {2352, 2052, 2340, -1, -1},      // 30 header, user data
    {2352, 2340, 2340, -1, -1},      // 38 header, user data, EDC/ECC
    {2352, 0, 0, 8, 8},              // 40 subheader
    {2352, -1, -1, -1, -1},          // 48 subheader, EDC/ECC
    {2352, 2048, 2336, 2056, 2336},  // 50 subheader, user data
    {2352, 2336, 2336, 2336, 2336},  // 58 subheader, user data, EDC/ECC
    {2352, 4, 4, 12, 12},            // 60 all headers
    {2352, -1, -1, -1, -1},          // 68 all headers, EDC/ECC
    {2352, 2052, 2340, 2060, 2340},  // 70 all headers, user data
    {2352, 2340, 2340, 2340, 2340},  // 78 all headers, user data, EDC/ECC
    {2352, -1, -1, -1, -1},          // 80 sync
    {2352, -1, -1, -1, -1},          // 88 sync, EDC/ECC
    {2352, -1, -1, -1, -1},          // 90 sync, user data
    {2352, -1, -1, -1, -1},          // 98 sync, user data, EDC/ECC
    {2352, 16, 16, 16, 16},          // a0 sync, header
    {2352, -1, -1, -1, -1},          // a8 sync, header, EDC/ECC
    {2352, 2064, 2352, -1, -1},      // b0 sync, header, user data
    {2352, 2352, 2352, -1, -1},      // b8 sync, header, user data, EDC/ECC
    {2352, -1, -1, -1, -1},          // c0 sync, subheader
    {2352, -1, -1, -1, -1},          // c8 sync, subheader, EDC/ECC
    {2352, -1, -1, -1, -1},          // d0 sync, subheader, user data
    {2352, -1, -1, -1, -1},          // d8 sync, subheader, user data, EDC/ECC
    {2352, 16, 16, 24, 24},          // e0 sync, all headers
    {2352, -1, -1, -1, -1},          // e8 sync, all headers, EDC/ECC
    {2352, 2064, 2352, 2072, 2352},  // f0 sync, all headers, user data
    {2352, 2352, 2352, 2352, 2352},  // f8 everything
};
