#include "image/cd_text.h"

#include <array>

#include "image/subchannel.h"

namespace {

constexpr std::uint8_t pack_size_info = 0x8f;
constexpr std::size_t text_bytes_per_pack = 12;
// Sequence numbers are one byte: a block holds at most 256 packs, three of
// them the size packs.
constexpr std::size_t max_text_packs = 253;
constexpr std::uint8_t charset_iso_8859_1 = 0x00;
constexpr std::uint8_t language_english = 0x09;
constexpr std::uint8_t max_char_position = 15;

struct pack_type {
    std::uint8_t code;
    std::string cd_text_fields::*field;
};

constexpr pack_type pack_types[] = {
    {0x80, &cd_text_fields::title},
    {0x81, &cd_text_fields::performer},
    {0x82, &cd_text_fields::songwriter},
};

class pack_writer {
  public:
    void add(std::uint8_t type, std::uint8_t track, std::uint8_t char_position,
             const std::uint8_t* text) {
        std::array<std::uint8_t, cd_text_pack_bytes> pack{};
        pack[0] = type;
        pack[1] = track;
        pack[2] = static_cast<std::uint8_t>(count_);
        pack[3] = char_position;  // block 0, single-byte characters
        std::copy(text, text + text_bytes_per_pack, pack.begin() + 4);
        const std::uint16_t crc = subchannel_crc({pack.data(), 16});
        pack[16] = static_cast<std::uint8_t>(crc >> 8);
        pack[17] = static_cast<std::uint8_t>(crc);
        packs_.insert(packs_.end(), pack.begin(), pack.end());
        ++count_;
    }
    std::size_t count() const { return count_; }
    std::vector<std::uint8_t>& bytes() { return packs_; }

  private:
    std::vector<std::uint8_t> packs_;
    std::size_t count_ = 0;
};

// The strings of one pack type, the disc's first, each ended by a zero
// byte, cut into packs; each pack names the track whose text its first byte
// belongs to and how far into that text it starts.
std::size_t add_type(pack_writer& out, const pack_type& type, const disc_image& image) {
    std::vector<std::uint8_t> stream;
    std::vector<std::pair<std::uint8_t, std::size_t>> owners;  // per byte: track, offset
    const auto add_text = [&](std::uint8_t track, const std::string& text) {
        const std::string latin1 = to_latin1(text);
        for (std::size_t i = 0; i <= latin1.size(); ++i) {
            stream.push_back(i < latin1.size() ? static_cast<std::uint8_t>(latin1[i]) : 0);
            owners.emplace_back(track, i);
        }
    };
    add_text(0, image.text().*type.field);
    for (const image_track& track : image.tracks()) {
        add_text(static_cast<std::uint8_t>(track.number), track.text.*type.field);
    }
    const std::size_t packs = (stream.size() + text_bytes_per_pack - 1) / text_bytes_per_pack;
    if (out.count() + packs > max_text_packs) {
        return 0;  // too much text for one block: this kind is left out
    }
    stream.resize(packs * text_bytes_per_pack, 0);
    for (std::size_t p = 0; p < packs; ++p) {
        const auto [track, offset] = owners[p * text_bytes_per_pack];
        out.add(type.code, track,
                static_cast<std::uint8_t>(std::min<std::size_t>(offset, max_char_position)),
                stream.data() + p * text_bytes_per_pack);
    }
    return packs;
}

}  // namespace

std::string to_latin1(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t length = c < 0x80                ? 1
                             : c >= 0xc2 && c < 0xe0 ? 2
                             : c >= 0xe0 && c < 0xf0 ? 3
                             : c >= 0xf0 && c < 0xf5 ? 4
                                                     : 0;
        bool valid = length > 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            valid = (static_cast<unsigned char>(text[i + k]) & 0xc0) == 0x80;
        }
        if (!valid) {
            out += text[i++];
            continue;
        }
        if (length == 1) {
            out += text[i];
        } else if (length == 2 && c <= 0xc3) {
            out += static_cast<char>((c & 0x1f) << 6 |
                                     (static_cast<unsigned char>(text[i + 1]) & 0x3f));
        } else {
            out += '?';
        }
        i += length;
    }
    return out;
}

std::vector<std::uint8_t> cd_text_packs(const disc_image& image) {
    pack_writer out;
    std::array<std::uint8_t, 16> packs_of_type{};
    for (const pack_type& type : pack_types) {
        bool present = !(image.text().*type.field).empty();
        for (const image_track& track : image.tracks()) {
            present = present || !(track.text.*type.field).empty();
        }
        if (present) {
            packs_of_type[type.code - 0x80] = static_cast<std::uint8_t>(add_type(out, type, image));
        }
    }
    if (out.count() == 0) {
        return {};
    }
    // Three size packs: character set, first and last track, the number of
    // packs of each type, the last sequence number and the language of
    // each of the eight blocks.
    constexpr std::size_t size_packs = 3;
    packs_of_type[pack_size_info - 0x80] = size_packs;
    std::array<std::uint8_t, size_packs * text_bytes_per_pack> info{};
    info[0] = charset_iso_8859_1;
    info[1] = static_cast<std::uint8_t>(image.tracks().front().number);
    info[2] = static_cast<std::uint8_t>(image.tracks().back().number);
    std::copy(packs_of_type.begin(), packs_of_type.end(), info.begin() + 4);
    info[20] = static_cast<std::uint8_t>(out.count() + size_packs - 1);
    info[28] = language_english;
    for (std::size_t p = 0; p < size_packs; ++p) {
        out.add(pack_size_info, static_cast<std::uint8_t>(p), 0,
                info.data() + p * text_bytes_per_pack);
    }
    return std::move(out.bytes());
}
