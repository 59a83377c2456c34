#include "output/track_name.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "common/exit.h"
#include "common/program_name.h"

namespace {

// A width or precision beyond this makes no file name; refusing it keeps a
// typo from asking for gigabytes.
constexpr int max_field_width = 4096;

enum class length_modifier { none, hh, h, l, ll };

// One conversion as written: the text from "%" to its conversion letter.
struct conversion {
    std::string text;
    length_modifier length = length_modifier::none;
    char letter = 0;  // 0: the conversion is not one we accept
};

bool read_number(const std::string& name, std::size_t& at, std::string& text) {
    int value = 0;
    while (at < name.size() && name[at] >= '0' && name[at] <= '9') {
        if (value <= max_field_width) {
            value = value * 10 + (name[at] - '0');
        }
        text += name[at++];
    }
    return value <= max_field_width;
}

length_modifier read_length(const std::string& name, std::size_t& at, std::string& text) {
    static const struct {
        const char* text;
        length_modifier length;
    } modifiers[] = {{"hh", length_modifier::hh},
                     {"h", length_modifier::h},
                     {"ll", length_modifier::ll},
                     {"l", length_modifier::l}};
    for (const auto& m : modifiers) {
        const std::size_t size = std::strlen(m.text);
        if (name.compare(at, size, m.text) == 0) {
            text += m.text;
            at += size;
            return m.length;
        }
    }
    return length_modifier::none;
}

// Reads the conversion whose "%" stands at `at` and moves past it.  "%%" is
// returned with the letter '%'.
conversion read_conversion(const std::string& name, std::size_t& at) {
    conversion c;
    c.text = name[at++];
    if (at < name.size() && name[at] == '%') {
        c.text += name[at++];
        c.letter = '%';
        return c;
    }
    while (at < name.size() && std::string_view("-+ #0").find(name[at]) != std::string_view::npos) {
        c.text += name[at++];
    }
    bool sane = read_number(name, at, c.text);
    if (at < name.size() && name[at] == '.') {
        c.text += name[at++];
        sane = read_number(name, at, c.text) && sane;
    }
    c.length = read_length(name, at, c.text);
    if (at < name.size()) {
        const char letter = name[at++];
        c.text += letter;
        if (sane && std::string_view("diouxX").find(letter) != std::string_view::npos) {
            c.letter = letter;
        }
    }
    return c;
}

std::string print_number(const conversion& c, int number) {
    const bool is_signed = c.letter == 'd' || c.letter == 'i';
    const char* format = c.text.c_str();
    // The format is one checked integer conversion whose argument type
    // follows its length modifier, so printf sees exactly what it expects.
    char buffer[max_field_width * 2 + 64];
    switch (c.length) {
        case length_modifier::hh:
            if (is_signed) {
                std::snprintf(buffer, sizeof buffer, format, static_cast<signed char>(number));
            } else {
                std::snprintf(buffer, sizeof buffer, format, static_cast<unsigned char>(number));
            }
            break;
        case length_modifier::h:
            if (is_signed) {
                std::snprintf(buffer, sizeof buffer, format, static_cast<short>(number));
            } else {
                std::snprintf(buffer, sizeof buffer, format, static_cast<unsigned short>(number));
            }
            break;
        case length_modifier::l:
            if (is_signed) {
                std::snprintf(buffer, sizeof buffer, format, static_cast<long>(number));
            } else {
                std::snprintf(buffer, sizeof buffer, format,
                              static_cast<unsigned long>(static_cast<long>(number)));
            }
            break;
        case length_modifier::ll:
            if (is_signed) {
                std::snprintf(buffer, sizeof buffer, format, static_cast<long long>(number));
            } else {
                std::snprintf(buffer, sizeof buffer, format,
                              static_cast<unsigned long long>(static_cast<long long>(number)));
            }
            break;
        case length_modifier::none:
            if (is_signed) {
                std::snprintf(buffer, sizeof buffer, format, number);
            } else {
                std::snprintf(buffer, sizeof buffer, format, static_cast<unsigned>(number));
            }
            break;
    }
    return buffer;
}

// Walks the name, handing each conversion to `on_conversion` and each other
// character to the result.
template <typename handler>
std::string walk_name(const std::string& name, handler on_conversion) {
    std::string result;
    std::size_t at = 0;
    while (at < name.size()) {
        if (name[at] != '%') {
            result += name[at++];
            continue;
        }
        const conversion c = read_conversion(name, at);
        result += on_conversion(c);
    }
    return result;
}

}  // namespace

void check_track_name_template(const std::string& name, const std::string& shown) {
    walk_name(name, [&](const conversion& c) {
        if (c.letter == 0) {
            std::fprintf(stderr, "%s: Invalid conversion \"%s\" in output file name \"%s\".\n",
                         program_name, c.text.c_str(), shown.c_str());
            throw exit_request{1};
        }
        return std::string();
    });
}

bool names_each_track(const std::string& name) {
    bool has_number = false;
    walk_name(name, [&](const conversion& c) {
        has_number = has_number || (c.letter != 0 && c.letter != '%');
        return std::string();
    });
    return has_number;
}

std::string format_track_name(const std::string& name, int track_number) {
    return walk_name(name, [&](const conversion& c) -> std::string {
        if (c.letter == '%') {
            return "%";
        }
        if (c.letter == 0) {
            return c.text;  // unreachable after the check; never formatted
        }
        return print_number(c, track_number);
    });
}
