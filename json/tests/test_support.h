// Helpers shared by the JSON library's tests.
#pragma once

#include "roundtrip.h"
#include "json/json.h"

#include <string>

// ASCII/UTF-8 test text as UTF-16 (bytes above 0x7F taken as Latin-1: tests only need ASCII
// and explicit escapes).
inline std::u16string U16(const std::string& text) {
    std::u16string out;
    for (unsigned char c : text) out += char16_t(c);
    return out;
}

// prefix followed by the number, as UTF-16.
inline std::u16string Numbered(const char* prefix, int n) {
    std::string text(prefix);
    text += std::to_string(n);
    return U16(text);
}

// UTF-16 as printable text: ASCII and line breaks as they are, everything else as \uXXXX.
inline std::string Show(const std::u16string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (char16_t c : text) {
        if ((c >= 0x20 && c < 0x7F) || c == '\r' || c == '\n') {
            out += char(c);
        } else {
            out += "\\u";
            for (int shift = 12; shift >= 0; shift -= 4) out += hex[(c >> shift) & 15];
        }
    }
    return out;
}

inline std::string Show(const char16_t* text) {
    return Show(std::u16string(text ? text : u""));
}

// Parses text into number; true on success.
inline bool ParseInto(int64_t number, const std::string& text, int32_t flags = 0) {
    return JsonParseText(number, U16(text).c_str(), flags) != 0;
}

// Writes document number (compact unless flags say otherwise) as printable text.
inline std::string Written(int64_t number, int32_t flags = 0) {
    return Show(JsonWriteToText(JsonRoot(number), flags));
}
