#pragma once

// CD-Text as a disc carries it in its lead-in and READ TOC format 5 returns
// it: 18-byte packs of one block in ISO 8859-1, language English.

#include <cstdint>
#include <string>
#include <vector>

#include "image/disc_image.h"

inline constexpr std::size_t cd_text_pack_bytes = 18;

// The packs for the titles, performers and songwriters of the disc and its
// tracks, then the block's three size packs; none when the image has no
// CD-Text.
std::vector<std::uint8_t> cd_text_packs(const disc_image& image);

// A cue sheet's text in ISO 8859-1: UTF-8 characters that it has become
// their byte, others '?'; bytes that are not UTF-8 are taken as they are.
std::string to_latin1(const std::string& text);
