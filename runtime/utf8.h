// UTF-8 conversions shared by the libraries: the one encoder and the one decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The most bytes one code point takes.
constexpr size_t Utf8MaxBytes = 4;

inline bool IsSurrogate(uint32_t unit) {
    return unit >= 0xD800 && unit <= 0xDFFF;
}

// Writes code point c as UTF-8 at out and returns the number of bytes (1 to 4). A lone
// surrogate code (0xD800 to 0xDFFF) cannot be encoded and is written as U+FFFD; values above
// U+10FFFF are the caller's fault and come out as four bytes of their low 21 bits.
inline size_t Utf8Encode(uint32_t c, uint8_t* out) {
    if (c < 0x80) {
        out[0] = uint8_t(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = uint8_t(0xC0 | c >> 6);
        out[1] = uint8_t(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        if (IsSurrogate(c)) c = 0xFFFD;
        out[0] = uint8_t(0xE0 | c >> 12);
        out[1] = uint8_t(0x80 | (c >> 6 & 0x3F));
        out[2] = uint8_t(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = uint8_t(0xF0 | (c >> 18 & 0x07));
    out[1] = uint8_t(0x80 | (c >> 12 & 0x3F));
    out[2] = uint8_t(0x80 | (c >> 6 & 0x3F));
    out[3] = uint8_t(0x80 | (c & 0x3F));
    return 4;
}

// Decodes UTF-8 into UTF-16 as the system's conversion does: every maximal invalid
// subsequence becomes one U+FFFD, and no byte-order mark is skipped. out needs room for
// length units (never more are written); returns the number of units written. A null or
// empty input gives 0.
size_t Utf8ToUtf16(const uint8_t* bytes, size_t length, char16_t* out);

#if !defined(_WIN32)
// UTF-16 text (null reads as empty) as UTF-8; a surrogate pair becomes one code point, a
// lone surrogate U+FFFD. Used for the byte-string names that POSIX calls take. Not on
// Windows: the C++ library's string would bring its exception machinery into the program.
std::string Utf16ToUtf8(const char16_t* text);
#endif
