#include "trace.h"

#include <charconv>

SoundTraceLine::SoundTraceLine(const char* event) {
    Put("morlett sound: ");
    Put(event);
}

void SoundTraceLine::Put(const char* text) {
    // Leaves room for the line end and the terminator; a longer line is cut, never overrun.
    while (*text && length_ < int(sizeof text_) - 2) text_[length_++] = *text++;
}

SoundTraceLine& SoundTraceLine::Add(const char* name, int64_t value) {
    char number[24];
    auto end = std::to_chars(number, number + sizeof number - 1, value).ptr;
    *end = 0;
    return Add(name, number);
}

SoundTraceLine& SoundTraceLine::Add(const char* name, const char* value) {
    Put(" ");
    Put(name);
    Put("=");
    Put(value ? value : "?");
    return *this;
}

void SoundTraceLine::Send() {
    text_[length_] = '\n';
    text_[length_ + 1] = 0;
    SoundTraceSend(text_);
}
