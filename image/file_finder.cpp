#include "image/file_finder.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Tried in this order when the named file is not there.
constexpr const char* other_extensions[] = {".flac", ".wav", ".aiff", ".bin"};

bool present(const fs::path& path) {
    std::error_code ignored;
    return fs::symlink_status(path, ignored).type() != fs::file_type::not_found && !ignored;
}

bool same_letters(const std::string& a, const std::string& b) {
    return a.size() == b.size() && ::strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

// The entries of `folder` whose names equal `name` but for the case of
// their letters (ASCII letters: file names from other systems are compared
// as those systems do for the names rippers write).
std::vector<std::string> letter_case_matches(const fs::path& folder, const std::string& name) {
    if (present(folder / name)) {
        return {name};
    }
    std::vector<std::string> matches;
    std::error_code failed;
    for (fs::directory_iterator it(folder.empty() ? fs::path(".") : folder, failed), end;
         !failed && it != end; it.increment(failed)) {
        const std::string entry = it->path().filename().string();
        if (same_letters(entry, name)) {
            matches.push_back(entry);
        }
    }
    std::sort(matches.begin(), matches.end());
    return matches;
}

std::string in_quotes(const std::string& text) {
    return "\"" + text + "\"";
}

std::string several(const std::string& name, const std::vector<std::string>& matches,
                    const fs::path& folder) {
    std::string list;
    for (std::size_t i = 0; i < matches.size(); ++i) {
        list += (i == 0 ? "" : i + 1 == matches.size() ? " and " : ", ") + in_quotes(matches[i]);
    }
    return "cannot choose a file for " + in_quotes(name) + ": " + list + " in " +
           (folder.empty() ? "." : folder.string()) + " all match";
}

bool windows_absolute(const std::string& name) {
    const bool drive = name.size() >= 2 && std::isalpha(static_cast<unsigned char>(name[0])) != 0 &&
                       name[1] == ':';
    return drive || name.starts_with("\\");
}

// The folder to start from and the parts of the name, "\" and "/" both
// separating them.
fs::path split_name(const cue_file& file, std::vector<std::string>& parts) {
    std::string name = file.given;
    std::replace(name.begin(), name.end(), '\\', '/');
    const bool from_windows = windows_absolute(file.given);
    for (std::size_t start = 0; start <= name.size();) {
        const std::size_t end = std::min(name.find('/', start), name.size());
        const std::string part = name.substr(start, end - start);
        if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    if (from_windows && !parts.empty()) {
        // The folders of another machine: the file is expected beside the sheet.
        parts.erase(parts.begin(), parts.end() - 1);
        return file.folder;
    }
    return !name.empty() && name.front() == '/' ? fs::path("/") : fs::path(file.folder);
}

}  // namespace

bool find_cue_file(const cue_file& file, found_file& found, std::string& error) {
    found = found_file{};
    if (present(file.path)) {
        found.path = file.path;
        return true;
    }
    std::vector<std::string> parts;
    fs::path folder = split_name(file, parts);
    if (parts.empty()) {
        error = "cannot find " + in_quotes(file.name);
        return false;
    }
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        const std::vector<std::string> matches = letter_case_matches(folder, parts[i]);
        if (matches.size() != 1) {
            error = matches.empty()
                        ? "cannot find " + in_quotes(file.name) + ": no folder " + in_quotes(parts[i]) +
                              " in " + folder.string() + " in any letter case"
                        : several(file.name, matches, folder);
            return false;
        }
        folder /= matches.front();
    }
    const std::string& last = parts.back();
    std::vector<std::string> matches = letter_case_matches(folder, last);
    const std::size_t dot = last.rfind('.');
    const std::string stem = dot == std::string::npos || dot == 0 ? last : last.substr(0, dot);
    const std::string extension = stem.size() == last.size() ? "" : last.substr(dot);
    std::string tried;
    for (const char* other : other_extensions) {
        if (!matches.empty()) {
            break;
        }
        if (same_letters(extension, other)) {
            continue;
        }
        matches = letter_case_matches(folder, stem + other);
        found.other_extension = true;
        tried += (tried.empty() ? "" : ", ") + in_quotes(stem + other);
    }
    if (matches.size() != 1) {
        error = matches.empty()
                    ? "cannot find " + in_quotes(file.name) + ": looked in " + folder.string() +
                          " for " + in_quotes(last) + " in any letter case, then for " + tried
                    : several(file.name, matches, folder);
        return false;
    }
    found.path = (folder / matches.front()).string();
    return true;
}
