// libFuzzer target: any bytes as a drive configuration file, loaded the way
// the reader loads it; then the identities its entries name, and one taken
// from the input, matched against the table.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/exit.h"
#include "common/program_name.h"
#include "config/config.h"

namespace {

// The file lives in memory on Linux: its path, /proc/self/fd/N, opens it
// afresh as a regular file, as a configuration file is opened.
struct memory_file {
    int fd = -1;
    std::string path;
};

const memory_file& config_file() {
    static const memory_file file = [] {
        memory_file made;
#ifdef __linux__
        made.fd = ::memfd_create("vorkarc", 0);
        made.path = "/proc/self/fd/" + std::to_string(made.fd);
#else
        // Elsewhere a file in the temporary folder, kept for the run.
        const char* base = std::getenv("TMPDIR");
        std::string name =
            std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/vorkarc-fuzz-XXXXXX";
        made.fd = ::mkstemp(name.data());
        made.path = name;
#endif
        if (made.fd < 0) {
            std::abort();
        }
        return made;
    }();
    return file;
}

void put_contents(const std::uint8_t* data, std::size_t size) {
    const memory_file& file = config_file();
    if (::ftruncate(file.fd, 0) != 0 ||
        (size > 0 && ::pwrite(file.fd, data, size, 0) != static_cast<ssize_t>(size))) {
        std::abort();
    }
}

void check(bool holds) {
    if (!holds) {
        std::abort();
    }
}

bool prefix_of(const std::string& prefix, const std::string& text) {
    return std::string_view(text).starts_with(prefix);
}

bool matches(const drive_entry& entry, const std::string& vendor, const std::string& product,
             const std::string& revision) {
    return prefix_of(entry.vendor, vendor) && prefix_of(entry.product, product) &&
           prefix_of(entry.version, revision);
}

// The entry match_drive_entry must return: the first default entry or the
// first that matches, whichever comes first; null for none.
const drive_entry* expected_match(const drive_entries& entries, const std::string& vendor,
                                  const std::string& product, const std::string& revision) {
    for (const drive_entry& entry : entries) {
        if (entry.is_default() || matches(entry, vendor, product, revision)) {
            return &entry;
        }
    }
    return nullptr;
}

void check_match(const drive_entries& entries, const std::string& vendor,
                 const std::string& product, const std::string& revision) {
    const drive_entry* expected = expected_match(entries, vendor, product, revision);
    try {
        check(&match_drive_entry(entries, vendor, product, revision) == expected);
    } catch (const exit_request& request) {
        check(request.status == 1 && expected == nullptr);
    }
}

bool well_formed(const std::string& text) {
    return text.find_first_of(std::string_view("\"\n\0", 3)) == std::string::npos;
}

// The shortest entry line: three empty quoted texts and "0 00 01 0".
constexpr std::size_t shortest_entry = 15;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    set_program_name("vorka");
    put_contents(data, size);
    drive_entries entries;
    try {
        load_drive_configuration(entries, {config_file().path});
    } catch (const exit_request& request) {
        check(request.status == 1);
        return 0;
    }
    check(!entries.empty() && entries.size() * shortest_entry <= size);
    for (const drive_entry& entry : entries) {
        check(well_formed(entry.vendor) && well_formed(entry.product) &&
              well_formed(entry.version));
        check(entry.blocks >= 1 && entry.blocks <= 26);
        check(entry.jitter >= 0 && entry.jitter < entry.blocks);
    }
    // Every entry's own identity, and the same with more after it, finds
    // that entry or one before it.
    const std::size_t shown = entries.size() < 8 ? entries.size() : 8;
    for (std::size_t i = 0; i < shown; ++i) {
        const drive_entry& entry = entries[i];
        check_match(entries, entry.vendor, entry.product, entry.version);
        check_match(entries, entry.vendor + "X", entry.product + " 2", entry.version + "1");
        check(expected_match(entries, entry.vendor, entry.product, entry.version) <= &entry);
    }
    // An identity cut from the input itself.
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto piece = [&](std::size_t at, std::size_t length) {
        return at < text.size() ? std::string(text.substr(at, length)) : std::string();
    };
    check_match(entries, piece(0, 8), piece(8, 16), piece(24, 4));
    return 0;
}
