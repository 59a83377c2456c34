#include "common/program_name.h"

#include <cstring>

const char* program_name = "";

void set_program_name(const char* argv0) {
    const char* slash = std::strrchr(argv0, '/');
    program_name = slash != nullptr ? slash + 1 : argv0;
}
