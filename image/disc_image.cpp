#include "image/disc_image.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

namespace {

constexpr std::uint32_t sync_bytes = 12;
constexpr std::uint32_t header_end = 16;
constexpr std::uint32_t mode2_user_data_at = 24;  // after the XA subheader
constexpr std::uint32_t msf_offset = 150;

std::uint8_t bcd(std::uint32_t value) {
    return static_cast<std::uint8_t>((value / 10) << 4 | (value % 10));
}

std::uint8_t mode_byte(track_mode mode) {
    return mode == track_mode::mode2_2352 ? 2 : 1;
}

void swap_sample_bytes(std::uint8_t* data, std::size_t length) {
    for (std::size_t i = 0; i + 1 < length; i += 2) {
        std::swap(data[i], data[i + 1]);
    }
}

struct region_place {
    std::uint64_t byte = 0;
    std::uint64_t sectors = 0;
};

// A real cue sheet is a few kilobytes; anything this large is some other
// file (most often the BIN itself), and is not read into memory.
constexpr std::uint64_t max_cue_sheet_bytes = 1 << 20;

bool read_cue_text(const std::string& cue_path, std::string& text, source_file& identity,
                   std::string& error) {
    std::uint64_t size = 0;
    bool regular = true;
    const int fd = open_regular_file(cue_path, size, identity, regular);
    if (fd < 0) {
        error = cue_path + ": " + (regular ? std::strerror(errno) : "not a regular file");
        return false;
    }
    if (size > max_cue_sheet_bytes) {
        ::close(fd);
        error = cue_path + ": too large for a cue sheet (" + std::to_string(size) + " bytes)";
        return false;
    }
    text.resize(static_cast<std::size_t>(size));
    const bool read =
        read_span(fd, reinterpret_cast<std::uint8_t*>(text.data()), text.size(), 0, size);
    const int saved = errno;
    ::close(fd);
    if (!read) {
        error = cue_path + ": " + std::strerror(saved);
    }
    return read;
}

}  // namespace

void write_sector_header(std::uint32_t lba, std::uint8_t mode, std::uint8_t* out) {
    out[0] = 0x00;
    std::memset(out + 1, 0xff, sync_bytes - 2);
    out[sync_bytes - 1] = 0x00;
    const std::uint32_t address = lba + msf_offset;
    out[12] = bcd(address / (75 * 60));
    out[13] = bcd(address / 75 % 60);
    out[14] = bcd(address % 75);
    out[15] = mode;
}

std::unique_ptr<disc_image> disc_image::open(const std::string& cue_path, std::string& error) {
    std::string text;
    source_file cue_identity;
    if (!read_cue_text(cue_path, text, cue_identity, error)) {
        return nullptr;
    }
    cue_parse_result parsed = parse_cue_sheet(text, cue_path);
    if (!parsed.error.empty()) {
        error = parsed.error;
        return nullptr;
    }
    std::unique_ptr<disc_image> image = from_sheet(parsed.sheet, cue_path, error);
    if (image != nullptr) {
        image->sources_.insert(image->sources_.begin(), cue_identity);
    }
    return image;
}

std::unique_ptr<disc_image> disc_image::from_sheet(const cue_sheet& sheet,
                                                   const std::string& cue_path,
                                                   std::string& error) {
    std::unique_ptr<disc_image> image(new disc_image);
    std::vector<std::uint64_t> sizes;
    for (const cue_file& file : sheet.files) {
        std::unique_ptr<image_file> opened = image_file::open(file, cue_path, error);
        if (opened == nullptr) {
            return nullptr;
        }
        image->sources_.push_back(opened->identity());
        sizes.push_back(opened->bytes());
        image->files_.push_back(std::move(opened));
    }
    for (const cue_region& region : sheet.regions) {
        const cue_track& track = sheet.tracks[region.track];
        const image_file& file = *image->files_[region.file];
        if (track.mode != track_mode::audio && file.audio_only()) {
            error = cue_path + " line " + std::to_string(track.line) + ": track " +
                    std::to_string(track.number) + " is a data track, but \"" +
                    sheet.files[region.file].name + "\" holds " + file.kind() + " audio";
            return nullptr;
        }
    }

    // Where each region starts in its file and how many sectors it holds.
    std::vector<region_place> places(sheet.regions.size());
    std::vector<int> last_of_file(sheet.files.size(), -1);
    for (std::size_t r = 0; r < sheet.regions.size(); ++r) {
        const cue_region& region = sheet.regions[r];
        const int previous = last_of_file[region.file];
        if (previous >= 0) {
            const cue_region& before = sheet.regions[previous];
            const std::uint32_t sectors = region.frame - before.frame;
            places[previous].sectors = sectors;
            places[r].byte =
                places[previous].byte +
                std::uint64_t{sectors} * file_sector_bytes(sheet.tracks[before.track].mode);
        }
        last_of_file[region.file] = static_cast<int>(r);
    }
    for (const cue_index_mark& mark : sheet.indexes) {
        const cue_region& region = sheet.regions[mark.region];
        const std::uint64_t byte =
            places[mark.region].byte +
            std::uint64_t{mark.offset} * file_sector_bytes(sheet.tracks[region.track].mode);
        if (byte >= sizes[region.file]) {
            const cue_file& file = sheet.files[region.file];
            error = cue_path + " line " + std::to_string(mark.line) + ": INDEX " +
                    (mark.number < 10 ? "0" : "") + std::to_string(mark.number) + " at " +
                    mark.time + " lies beyond the end of \"" + file.name + "\" (" +
                    std::to_string(sizes[region.file]) + " bytes)";
            return nullptr;
        }
    }
    for (std::size_t f = 0; f < sheet.files.size(); ++f) {
        const int last = last_of_file[f];
        if (last < 0) {
            continue;
        }
        const std::uint32_t size = file_sector_bytes(sheet.tracks[sheet.regions[last].track].mode);
        const std::uint64_t bytes = sizes[f] - places[last].byte;
        places[last].sectors = (bytes + size - 1) / size;
    }

    auto track_of = [&](const cue_layout_item& item) {
        return item.what == cue_layout_item::kind::gap ? item.track
                                                       : sheet.regions[item.region].track;
    };
    auto sectors_of = [&](const cue_layout_item& item) -> std::uint64_t {
        return item.what == cue_layout_item::kind::gap ? item.sectors : places[item.region].sectors;
    };
    // The sectors of a session's first track before its INDEX 01, from the
    // layout item at `at` on: they lie at the end of the gap before it.
    auto before_index01 = [&](std::size_t at) {
        const cue_track& track = sheet.tracks[track_of(sheet.layout[at])];
        std::uint64_t sectors = 0;
        for (; at < sheet.layout.size(); ++at) {
            const cue_layout_item& item = sheet.layout[at];
            if (item.what == cue_layout_item::kind::region && item.region == track.index01_region) {
                return sectors + track.index01_offset;
            }
            sectors += sectors_of(item);
        }
        return sectors;
    };

    std::vector<std::uint32_t> region_first(sheet.regions.size(), 0);
    std::vector<std::uint32_t> session_leadouts;
    // Where each track's first sector lies: its PREGAP, its INDEX 00, or
    // audio before its INDEX 01 at the start of a file.
    std::vector<std::uint32_t> pregap_first(sheet.tracks.size(), max_disc_sectors);
    std::vector<bool> track_reached(sheet.tracks.size(), false);
    std::uint32_t lba = 0;
    int session = 1;
    for (std::size_t at = 0; at < sheet.layout.size(); ++at) {
        const cue_layout_item& item = sheet.layout[at];
        const bool gap = item.what == cue_layout_item::kind::gap;
        if (const cue_track& track = sheet.tracks[track_of(item)]; track.session != session) {
            const std::uint32_t between = session == 1 ? first_session_gap : later_session_gap;
            const std::uint64_t before = before_index01(at);
            if (before > between) {
                error = cue_path + " line " + std::to_string(track.line) + ": track " +
                        std::to_string(track.number) + " has " + std::to_string(before) +
                        " sectors before its INDEX 01, more than the " + std::to_string(between) +
                        " between sessions";
                return nullptr;
            }
            const std::uint32_t unreadable = between - static_cast<std::uint32_t>(before);
            if (unreadable > max_disc_sectors - lba) {
                error = cue_path + " line " + std::to_string(track.line) +
                        ": the disc would be longer than " + std::to_string(max_disc_sectors) +
                        " sectors";
                return nullptr;
            }
            session_leadouts.push_back(lba);
            image_extent extent;
            extent.first = lba;
            extent.count = unreadable;
            extent.session_gap = true;
            image->extents_.push_back(extent);
            lba += unreadable;
            session = track.session;
        }
        const std::uint64_t count = sectors_of(item);
        if (count > max_disc_sectors - lba) {
            const int line = gap ? sheet.tracks[item.track].line
                                 : sheet.files[sheet.regions[item.region].file].line;
            error = cue_path + " line " + std::to_string(line) +
                    ": the disc would be longer than " + std::to_string(max_disc_sectors) +
                    " sectors";
            return nullptr;
        }
        image_extent extent;
        extent.first = lba;
        extent.count = static_cast<std::uint32_t>(count);
        if (gap) {
            extent.mode = sheet.tracks[item.track].mode;
            if (!track_reached[item.track]) {
                pregap_first[item.track] = std::min(pregap_first[item.track], lba);
            }
        } else {
            const cue_region& region = sheet.regions[item.region];
            extent.mode = sheet.tracks[region.track].mode;
            extent.file = image->files_[region.file].get();
            extent.byte_offset = places[item.region].byte;
            region_first[item.region] = lba;
            if (!track_reached[region.track]) {
                pregap_first[region.track] = std::min(pregap_first[region.track], lba);
            }
            track_reached[region.track] = true;
        }
        lba += extent.count;
        if (extent.count > 0) {
            image->extents_.push_back(extent);
        }
    }
    image->leadout_ = lba;
    session_leadouts.push_back(lba);
    image->catalog_ = sheet.catalog;
    image->text_ = sheet.text;
    for (std::size_t i = 0; i < sheet.tracks.size(); ++i) {
        const cue_track& track = sheet.tracks[i];
        if (image->sessions_.empty() || image->sessions_.back().number != track.session) {
            image->sessions_.push_back(
                {track.session, image->tracks_.size(), session_leadouts[image->sessions_.size()]});
        }
        image_track t;
        t.number = track.number;
        t.mode = track.mode;
        t.pre_emphasis = track.pre_emphasis;
        t.start = region_first[track.index01_region] + track.index01_offset;
        t.pregap_start = std::min(t.start, pregap_first[i]);
        t.isrc = track.isrc;
        t.text = track.text;
        t.session = track.session;
        image->tracks_.push_back(t);
    }
    // The index marks in disc order.
    for (const cue_index_mark& mark : sheet.indexes) {
        image_track& t = image->tracks_[static_cast<std::size_t>(sheet.regions[mark.region].track)];
        const std::uint32_t at = region_first[mark.region] + mark.offset;
        if (mark.number > 0) {
            t.indexes.push_back(at);
        }
    }
    return image;
}

disc_image::~disc_image() = default;

const image_extent& disc_image::extent_at(std::uint32_t lba) const {
    auto after =
        std::upper_bound(extents_.begin(), extents_.end(), lba,
                         [](std::uint32_t a, const image_extent& e) { return a < e.first; });
    return *(after - 1);
}

bool disc_image::in_session_gap(std::uint32_t lba, std::uint32_t count,
                                std::uint32_t& first) const {
    for (const image_extent& e : extents_) {
        if (e.session_gap && count > 0 && e.first <= lba + (count - 1) && lba < e.first + e.count) {
            first = std::max(lba, e.first);
            return true;
        }
    }
    return false;
}

track_mode disc_image::mode_at(std::uint32_t lba) const {
    return extent_at(lba).mode;
}

bool disc_image::all_audio(std::uint32_t lba, std::uint32_t count) const {
    for (std::uint32_t end = lba + count; lba < end;) {
        const image_extent& e = extent_at(lba);
        if (e.mode != track_mode::audio || e.session_gap) {
            return false;
        }
        lba = e.first + e.count;
    }
    return true;
}

bool disc_image::all_data(std::uint32_t lba, std::uint32_t count) const {
    for (std::uint32_t end = lba + count; lba < end;) {
        const image_extent& e = extent_at(lba);
        if (e.mode == track_mode::audio || e.session_gap) {
            return false;
        }
        lba = e.first + e.count;
    }
    return true;
}

bool disc_image::read_raw(std::uint32_t lba, std::uint32_t count, std::uint8_t* out) const {
    while (count > 0) {
        const image_extent& e = extent_at(lba);
        const std::uint32_t n = std::min(count, e.first + e.count - lba);
        const std::size_t bytes = std::size_t{n} * raw_sector_bytes;
        if (e.file == nullptr) {
            std::memset(out, 0, bytes);
            if (e.mode != track_mode::audio) {
                for (std::uint32_t i = 0; i < n; ++i) {
                    write_sector_header(lba + i, mode_byte(e.mode), out + i * raw_sector_bytes);
                }
            }
        } else if (e.mode == track_mode::mode1_2048) {
            // Read all user data into the tail of the span, then spread it
            // out front to back; each sector's bytes move only forwards.
            std::uint8_t* packed = out + bytes - std::size_t{n} * user_data_bytes;
            if (!e.file->read(e.byte_offset + std::uint64_t{lba - e.first} * user_data_bytes,
                              std::size_t{n} * user_data_bytes, packed)) {
                return false;
            }
            for (std::uint32_t i = 0; i < n; ++i) {
                std::uint8_t* sector = out + std::size_t{i} * raw_sector_bytes;
                std::memmove(sector + header_end, packed + std::size_t{i} * user_data_bytes,
                             user_data_bytes);
                write_sector_header(lba + i, 1, sector);
                std::memset(sector + header_end + user_data_bytes, 0,
                            raw_sector_bytes - header_end - user_data_bytes);
            }
        } else {
            if (!e.file->read(e.byte_offset + std::uint64_t{lba - e.first} * raw_sector_bytes,
                              bytes, out)) {
                return false;
            }
            if (e.file->big_endian() && e.mode == track_mode::audio) {
                swap_sample_bytes(out, bytes);
            }
        }
        out += bytes;
        lba += n;
        count -= n;
    }
    return true;
}

bool disc_image::read_user_data(std::uint32_t lba, std::uint32_t count, std::uint8_t* out) const {
    while (count > 0) {
        const image_extent& e = extent_at(lba);
        const std::uint32_t n = std::min(count, e.first + e.count - lba);
        const std::uint64_t first = lba - e.first;
        if (e.file == nullptr) {
            std::memset(out, 0, std::size_t{n} * user_data_bytes);
        } else if (e.mode == track_mode::mode1_2048) {
            if (!e.file->read(e.byte_offset + first * user_data_bytes,
                              std::size_t{n} * user_data_bytes, out)) {
                return false;
            }
        } else {
            const std::uint32_t at =
                e.mode == track_mode::mode2_2352 ? mode2_user_data_at : header_end;
            for (std::uint32_t i = 0; i < n; ++i) {
                if (!e.file->read(e.byte_offset + (first + i) * raw_sector_bytes + at,
                                  user_data_bytes, out + std::size_t{i} * user_data_bytes)) {
                    return false;
                }
            }
        }
        out += std::size_t{n} * user_data_bytes;
        lba += n;
        count -= n;
    }
    return true;
}
