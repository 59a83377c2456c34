#pragma once

// What kind of track a table-of-contents entry describes.  The listing
// prints them as "audio", "video" (a Mode 2 data track) and "data"; audio
// tracks are read in audio mode, the other two in data mode.
inline constexpr int track_kind_audio = 1;
inline constexpr int track_kind_video = 0;
inline constexpr int track_kind_data = -1;
