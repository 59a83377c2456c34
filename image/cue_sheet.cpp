#include "image/cue_sheet.h"

#include <strings.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <filesystem>

namespace {

constexpr std::uint32_t frames_per_second = 75;
constexpr std::uint32_t seconds_per_minute = 60;

struct parse_error {
    std::string text;
};

class cue_parser {
  public:
    cue_parser(std::string_view text, const std::string& cue_path)
        : text_(text), cue_path_(cue_path) {}

    cue_sheet parse();

  private:
    void parse_line(std::string_view line);
    std::string_view next_word(std::string_view& rest);
    std::string next_string(std::string_view& rest);
    std::uint32_t parse_time(std::string_view word);
    int parse_number(std::string_view word, const char* what);
    [[noreturn]] void fail(const std::string& problem);

    void on_file(std::string_view rest);
    void on_track(std::string_view rest);
    void on_index(std::string_view rest);
    void on_flags(std::string_view rest);
    void on_gap(std::string_view rest, bool before);
    void on_remark(std::string_view rest);
    void on_catalog(std::string_view rest);
    void on_isrc(std::string_view rest);
    void on_text(std::string cd_text_fields::*field, std::string_view rest);
    void finish_track();
    cue_track& current_track(const char* command);
    void start_region(std::uint32_t frame);

    std::string_view text_;
    std::string cue_path_;
    int line_number_ = 0;
    cue_sheet sheet_;
    int last_index_ = -1;  // of the current track
    bool file_has_region_ = false;
    std::uint32_t file_last_frame_ = 0;
    int session_ = 1;       // of the next track
    int session_line_ = 0;  // the REM SESSION that named it, if any
};

bool same_word(std::string_view a, const char* b) {
    return a.size() == std::strlen(b) && ::strncasecmp(a.data(), b, a.size()) == 0;
}

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

// A word from the sheet as a message shows it: control characters as \xNN,
// so that a binary file given as the sheet cannot garble the terminal.
std::string shown(std::string_view word, std::size_t longest = 60) {
    std::string text;
    for (const char c : word.substr(0, longest)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            constexpr char digits[] = "0123456789abcdef";
            text += "\\x";
            text += digits[byte >> 4];
            text += digits[byte & 0x0f];
        } else {
            text += c;
        }
    }
    if (word.size() > longest) {
        text += "...";
    }
    return text;
}

void cue_parser::fail(const std::string& problem) {
    throw parse_error{cue_path_ + " line " + std::to_string(line_number_) + ": " + problem};
}

std::string_view cue_parser::next_word(std::string_view& rest) {
    std::size_t start = 0;
    while (start < rest.size() && is_blank(rest[start])) {
        ++start;
    }
    std::size_t end = start;
    while (end < rest.size() && !is_blank(rest[end])) {
        ++end;
    }
    std::string_view word = rest.substr(start, end - start);
    rest.remove_prefix(end);
    return word;
}

// A quoted text runs to the matching quote (there is no escape); an
// unquoted one is the next word.
std::string cue_parser::next_string(std::string_view& rest) {
    while (!rest.empty() && is_blank(rest.front())) {
        rest.remove_prefix(1);
    }
    if (!rest.empty() && (rest.front() == '"' || rest.front() == '\'')) {
        const char quote = rest.front();
        const std::size_t end = rest.find(quote, 1);
        if (end == std::string_view::npos) {
            fail("missing closing quote");
        }
        std::string value(rest.substr(1, end - 1));
        rest.remove_prefix(end + 1);
        return value;
    }
    return std::string(next_word(rest));
}

int cue_parser::parse_number(std::string_view word, const char* what) {
    int value = 0;
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (word.empty() || error != std::errc() || end != word.data() + word.size() || value < 0) {
        fail(std::string("bad ") + what + " \"" + shown(word) + "\"");
    }
    return value;
}

std::uint32_t cue_parser::parse_time(std::string_view word) {
    unsigned parts[3] = {0, 0, 0};
    std::string_view rest = word;
    for (int i = 0; i < 3; ++i) {
        const std::size_t colon = i < 2 ? rest.find(':') : rest.size();
        if (colon == std::string_view::npos) {
            fail("bad time \"" + shown(word) + "\" (expected mm:ss:ff)");
        }
        std::string_view part = rest.substr(0, colon);
        const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), parts[i]);
        if (part.empty() || error != std::errc() || end != part.data() + part.size()) {
            fail("bad time \"" + shown(word) + "\" (expected mm:ss:ff)");
        }
        rest.remove_prefix(std::min(colon + 1, rest.size()));
    }
    if (parts[1] >= seconds_per_minute || parts[2] >= frames_per_second) {
        fail("bad time \"" + shown(word) + "\" (seconds below 60, frames below 75)");
    }
    const std::uint64_t frames =
        (std::uint64_t{parts[0]} * seconds_per_minute + parts[1]) * frames_per_second + parts[2];
    if (frames > max_disc_sectors) {
        fail("bad time \"" + shown(word) + "\" (longer than any disc)");
    }
    return static_cast<std::uint32_t>(frames);
}

cue_track& cue_parser::current_track(const char* command) {
    if (sheet_.tracks.empty()) {
        fail(std::string(command) + " before the first TRACK");
    }
    return sheet_.tracks.back();
}

void cue_parser::on_file(std::string_view rest) {
    cue_file file;
    const std::string raw_name = next_string(rest);
    file.name = shown(raw_name, raw_name.size());
    file.line = line_number_;
    const std::string_view type = next_word(rest);
    if (raw_name.empty()) {
        fail("FILE without a file name");
    }
    static constexpr struct {
        const char* word;
        cue_file_type type;
    } types[] = {{"BINARY", cue_file_type::binary},
                 {"MOTOROLA", cue_file_type::motorola},
                 {"WAVE", cue_file_type::wave},
                 {"AIFF", cue_file_type::aiff},
                 {"FLAC", cue_file_type::flac}};
    const auto known = std::find_if(std::begin(types), std::end(types),
                                    [&](const auto& entry) { return same_word(type, entry.word); });
    if (known == std::end(types)) {
        fail("file type \"" + shown(type) +
             "\" is not supported (BINARY, MOTOROLA, WAVE, AIFF or FLAC)");
    }
    file.type = known->type;
    namespace fs = std::filesystem;
    const fs::path name(raw_name);
    file.folder = fs::path(cue_path_).parent_path().string();
    file.given = raw_name;
    file.path = name.is_absolute() ? name.string() : (fs::path(file.folder) / name).string();
    sheet_.files.push_back(file);
    file_has_region_ = false;
    file_last_frame_ = 0;
}

void cue_parser::finish_track() {
    if (!sheet_.tracks.empty() && sheet_.tracks.back().index01_region < 0) {
        const cue_track& t = sheet_.tracks.back();
        throw parse_error{cue_path_ + " line " + std::to_string(t.line) + ": track " +
                          std::to_string(t.number) + " has no INDEX 01"};
    }
}

void cue_parser::on_track(std::string_view rest) {
    if (sheet_.files.empty()) {
        fail("TRACK before the first FILE");
    }
    finish_track();
    cue_track track;
    track.line = line_number_;
    track.number = parse_number(next_word(rest), "track number");
    if (track.number < 1 || track.number > 99) {
        fail("track number " + std::to_string(track.number) + " is not between 1 and 99");
    }
    if (!sheet_.tracks.empty() && track.number != sheet_.tracks.back().number + 1) {
        fail("track " + std::to_string(track.number) + " does not follow track " +
             std::to_string(sheet_.tracks.back().number));
    }
    const std::string_view mode = next_word(rest);
    if (same_word(mode, "AUDIO")) {
        track.mode = track_mode::audio;
    } else if (same_word(mode, "MODE1/2048")) {
        track.mode = track_mode::mode1_2048;
    } else if (same_word(mode, "MODE1/2352")) {
        track.mode = track_mode::mode1_2352;
    } else if (same_word(mode, "MODE2/2352")) {
        track.mode = track_mode::mode2_2352;
    } else {
        fail("track mode \"" + shown(mode) +
             "\" is not supported (AUDIO, MODE1/2048, MODE1/2352 or MODE2/2352)");
    }
    track.session = session_;
    session_line_ = 0;
    sheet_.tracks.push_back(track);
    last_index_ = -1;
}

void cue_parser::start_region(std::uint32_t frame) {
    const int track = static_cast<int>(sheet_.tracks.size()) - 1;
    const int file = static_cast<int>(sheet_.files.size()) - 1;
    if (file_has_region_ && frame < file_last_frame_) {
        fail("INDEX lies before the previous INDEX of the same file");
    }
    if (!file_has_region_ && frame > 0) {
        // The start of the file belongs to the track that was running when
        // the file began (or, before any, to this one: hidden audio).
        int owner = track;
        for (auto it = sheet_.layout.rbegin(); it != sheet_.layout.rend(); ++it) {
            if (it->what == cue_layout_item::kind::region) {
                owner = sheet_.regions[it->region].track;
                break;
            }
        }
        sheet_.regions.push_back({file, 0, owner});
        sheet_.layout.push_back(
            {cue_layout_item::kind::region, static_cast<int>(sheet_.regions.size()) - 1, owner, 0});
        file_has_region_ = true;
        if (owner == track) {
            return;
        }
    }
    sheet_.regions.push_back({file, frame, track});
    sheet_.layout.push_back(
        {cue_layout_item::kind::region, static_cast<int>(sheet_.regions.size()) - 1, track, 0});
    file_has_region_ = true;
    file_last_frame_ = frame;
}

void cue_parser::on_index(std::string_view rest) {
    const int track_index = static_cast<int>(sheet_.tracks.size()) - 1;
    cue_track& track = current_track("INDEX");
    const int number = parse_number(next_word(rest), "index number");
    const std::string_view time = next_word(rest);
    const std::uint32_t frame = parse_time(time);
    if (last_index_ < 0 ? number > 1 : number != last_index_ + 1) {
        fail(last_index_ < 0 ? "the first INDEX of a track must be 00 or 01"
                             : "INDEX " + std::to_string(number) + " out of sequence");
    }
    const int file = static_cast<int>(sheet_.files.size()) - 1;
    const bool region_open = file_has_region_ && sheet_.regions.back().file == file &&
                             sheet_.regions.back().track == track_index;
    if (region_open) {
        if (frame < file_last_frame_) {
            fail("INDEX lies before the previous INDEX of the same file");
        }
    } else {
        if (last_index_ < 0 && track.pregap > 0) {
            sheet_.layout.push_back({cue_layout_item::kind::gap, 0, track_index, track.pregap});
        }
        start_region(frame);
    }
    file_last_frame_ = frame;
    const int region = static_cast<int>(sheet_.regions.size()) - 1;
    const std::uint32_t offset = frame - sheet_.regions.back().frame;
    if (number == 1) {
        track.index01_region = region;
        track.index01_offset = offset;
    }
    last_index_ = number;
    sheet_.indexes.push_back({line_number_, number, std::string(time), region, offset});
}

void cue_parser::on_flags(std::string_view rest) {
    cue_track& track = current_track("FLAGS");
    if (last_index_ >= 0) {
        fail("FLAGS after INDEX");
    }
    for (std::string_view flag = next_word(rest); !flag.empty(); flag = next_word(rest)) {
        if (same_word(flag, "PRE")) {
            track.pre_emphasis = true;
        } else if (!same_word(flag, "DCP") && !same_word(flag, "4CH") && !same_word(flag, "SCMS")) {
            fail("unknown flag \"" + shown(flag) + "\"");
        }
    }
}

void cue_parser::on_gap(std::string_view rest, bool before) {
    cue_track& track = current_track(before ? "PREGAP" : "POSTGAP");
    const std::uint32_t sectors = parse_time(next_word(rest));
    if (before) {
        if (last_index_ >= 0) {
            fail("PREGAP after INDEX");
        }
        track.pregap = sectors;
        return;
    }
    if (track.index01_region < 0) {
        fail("POSTGAP before INDEX 01");
    }
    track.postgap = sectors;
    sheet_.layout.push_back(
        {cue_layout_item::kind::gap, 0, static_cast<int>(sheet_.tracks.size()) - 1, sectors});
}

// "REM SESSION nn", as rippers write it before the first track of each
// session (the first one is often left out); other remarks mean nothing.
void cue_parser::on_remark(std::string_view rest) {
    if (!same_word(next_word(rest), "SESSION")) {
        return;
    }
    const int number = parse_number(next_word(rest), "session number");
    if (session_line_ != 0) {
        fail("REM SESSION twice before a TRACK");
    }
    const int expected = sheet_.tracks.empty() ? 1 : session_ + 1;
    if (number != expected) {
        fail("session " + std::to_string(number) + " out of sequence (expected " +
             std::to_string(expected) + ")");
    }
    session_ = number;
    session_line_ = line_number_;
}

// A catalog number or an ISRC that a disc could not carry (written with
// other characters, or of another length) is left out, as such lines were
// always ignored: the disc is served without it.
void cue_parser::on_catalog(std::string_view rest) {
    const std::string_view number = next_word(rest);
    if (number.size() == 13 &&
        std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        sheet_.catalog = std::string(number);
    }
}

// Country and owner letters or digits, then year and serial number in
// digits; dashes, as some sheets write them, are dropped.
void cue_parser::on_isrc(std::string_view rest) {
    cue_track& track = current_track("ISRC");
    std::string code;
    for (const char c : next_word(rest)) {
        if (c != '-') {
            code += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        }
    }
    const auto alphanumeric = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z');
    };
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (code.size() == 12 && std::all_of(code.begin(), code.begin() + 5, alphanumeric) &&
        std::all_of(code.begin() + 5, code.end(), digit)) {
        track.isrc = code;
    }
}

// Before the first TRACK the text is the disc's, after it the track's.
void cue_parser::on_text(std::string cd_text_fields::*field, std::string_view rest) {
    cd_text_fields& text = sheet_.tracks.empty() ? sheet_.text : sheet_.tracks.back().text;
    text.*field = next_string(rest);
}

void cue_parser::parse_line(std::string_view line) {
    std::string_view rest = line;
    const std::string_view command = next_word(rest);
    if (same_word(command, "REM")) {
        on_remark(rest);
        return;
    }
    if (command.empty() || same_word(command, "CDTEXTFILE")) {
        return;
    }
    if (same_word(command, "CATALOG")) {
        on_catalog(rest);
    } else if (same_word(command, "ISRC")) {
        on_isrc(rest);
    } else if (same_word(command, "TITLE")) {
        on_text(&cd_text_fields::title, rest);
    } else if (same_word(command, "PERFORMER")) {
        on_text(&cd_text_fields::performer, rest);
    } else if (same_word(command, "SONGWRITER")) {
        on_text(&cd_text_fields::songwriter, rest);
    } else if (same_word(command, "FILE")) {
        on_file(rest);
    } else if (same_word(command, "TRACK")) {
        on_track(rest);
    } else if (same_word(command, "INDEX")) {
        on_index(rest);
    } else if (same_word(command, "FLAGS")) {
        on_flags(rest);
    } else if (same_word(command, "PREGAP")) {
        on_gap(rest, true);
    } else if (same_word(command, "POSTGAP")) {
        on_gap(rest, false);
    } else {
        fail("unknown command \"" + shown(command) + "\"");
    }
}

cue_sheet cue_parser::parse() {
    std::string_view rest = text_;
    constexpr std::string_view byte_order_mark = "\xef\xbb\xbf";
    if (rest.substr(0, byte_order_mark.size()) == byte_order_mark) {
        rest.remove_prefix(byte_order_mark.size());
    }
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        ++line_number_;
        parse_line(rest.substr(0, end));
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    }
    finish_track();
    if (sheet_.tracks.empty()) {
        throw parse_error{cue_path_ + ": no TRACK in the cue sheet"};
    }
    if (session_line_ != 0) {
        line_number_ = session_line_;
        fail("REM SESSION without a TRACK after it");
    }
    return std::move(sheet_);
}

}  // namespace

std::uint32_t file_sector_bytes(track_mode mode) {
    return mode == track_mode::mode1_2048 ? 2048 : 2352;
}

cue_parse_result parse_cue_sheet(std::string_view text, const std::string& cue_path) {
    cue_parse_result result;
    try {
        result.sheet = cue_parser(text, cue_path).parse();
    } catch (const parse_error& error) {
        result.error = error.text;
    }
    return result;
}
