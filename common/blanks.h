#pragma once

// The four characters that count as blanks in identity texts and
// configuration lines: tab, newline, carriage return and space.
constexpr bool is_blank(char c) {
    return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

// Removes blanks at both ends of a zero-terminated text and reduces each
// inner run of blanks to its first character, in place.  Returns the text;
// a null text is returned as is.
char* squeeze_blanks(char* text);
