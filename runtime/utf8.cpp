#include "utf8.h"

#include <cstring>

size_t Utf8ToUtf16(const uint8_t* s, size_t length, char16_t* out) {
    size_t i = 0, n = 0;
    while (i < length) {
        // Plain ASCII runs, eight bytes at a time where possible.
        while (i + 8 <= length) {
            uint64_t chunk;
            std::memcpy(&chunk, s + i, 8);
            if (chunk & 0x8080808080808080ull) break;
            for (int k = 0; k < 8; ++k) out[n + k] = s[i + k];
            i += 8;
            n += 8;
        }
        if (i >= length) break;
        uint8_t b = s[i];
        if (b < 0x80) {
            out[n++] = b;
            ++i;
            continue;
        }
        // The well-formed sequences; anything else is replaced, one U+FFFD for the longest
        // start of a valid sequence (at least one byte).
        int need;
        uint8_t low = 0x80, high = 0xBF;
        uint32_t c;
        if (b >= 0xC2 && b <= 0xDF) {
            need = 1;
            c = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            need = 2;
            c = b & 0x0F;
            if (b == 0xE0) low = 0xA0;
            if (b == 0xED) high = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            need = 3;
            c = b & 0x07;
            if (b == 0xF0) low = 0x90;
            if (b == 0xF4) high = 0x8F;
        } else {
            out[n++] = 0xFFFD;
            ++i;
            continue;
        }
        size_t j = i + 1;
        bool valid = true;
        for (int k = 0; k < need; ++k, ++j) {
            if (j >= length || s[j] < low || s[j] > high) {
                valid = false;
                break;
            }
            c = c << 6 | (s[j] & 0x3F);
            low = 0x80;
            high = 0xBF;
        }
        i = j;
        if (!valid) {
            out[n++] = 0xFFFD;
        } else if (c >= 0x10000) {
            c -= 0x10000;
            out[n++] = char16_t(0xD800 + (c >> 10));
            out[n++] = char16_t(0xDC00 + (c & 0x3FF));
        } else {
            out[n++] = char16_t(c);
        }
    }
    return n;
}

#if !defined(_WIN32)
std::string Utf16ToUtf8(const char16_t* text) {
    std::string out;
    uint8_t bytes[Utf8MaxBytes];
    for (; text && *text; ++text) {
        uint32_t c = *text;
        if (c >= 0xD800 && c < 0xDC00 && text[1] >= 0xDC00 && text[1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[1] - 0xDC00);
            ++text;
        }
        out.append(reinterpret_cast<const char*>(bytes), Utf8Encode(c, bytes));
    }
    return out;
}
#endif
