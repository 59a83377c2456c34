#include "output/format.h"

#include <strings.h>

#include "common/exit.h"
#include "output/flac_encoder.h"
#include "output/headers.h"

const format_entry output_formats[7] = {
    {"pcm", "raw", write_no_header, 0, nullptr},
    {"mcp", "war", write_no_header, 1, nullptr},
    {"aiff", "aiff", write_aiff_header, 1, nullptr},
    {"wav", "wav", write_wav_header, 0, nullptr},
    {"au", "au", write_au_header, 1, nullptr},
    {"flac", "flac", write_no_header, 0, start_flac_encoder},
    {nullptr, nullptr, nullptr, 0, nullptr},
};

const format_entry* find_format(const char* name) {
    for (const format_entry* row = output_formats; row->name != nullptr; ++row) {
        if (::strcasecmp(row->name, name) == 0) {
            return row;
        }
    }
    return nullptr;
}

int select_format(const char* name, const format_entry*& selected, void (*on_unknown)()) {
    const format_entry* row = find_format(name);
    if (row == nullptr) {
        on_unknown();
        throw exit_request{1};
    }
    selected = row;
    return 0;
}

std::string expand_output_name(const std::string& name_template, const format_entry& format) {
    const auto at = name_template.find("%s");
    if (at == std::string::npos) {
        return name_template;
    }
    std::string name = name_template;
    name.replace(at, 2, format.extension);
    return name;
}
