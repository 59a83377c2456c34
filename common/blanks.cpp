#include "common/blanks.h"

char* squeeze_blanks(char* text) {
    if (text == nullptr) {
        return nullptr;
    }
    char* read = text;
    char* write = text;
    bool after_blank = true;  // the start of the text counts as following a blank
    for (; *read != '\0'; ++read) {
        if (!is_blank(*read)) {
            *write++ = *read;
            after_blank = false;
        } else if (!after_blank) {
            *write++ = *read;  // the first blank of a run survives as it is
            after_blank = true;
        }
    }
    if (after_blank && write != text) {
        --write;  // the first blank of a trailing run
    }
    *write = '\0';
    return text;
}
