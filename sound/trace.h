// Internal: a one-line debug trace of what the sound library does with the audio device,
// for finding out after the fact why a sound was not heard. On Windows each line goes to
// the debugger's output (OutputDebugStringA; under Wine, WINEDEBUG=+debugstr shows it);
// elsewhere it goes nowhere. Nothing to configure, no files; cheap enough to stay on.
#pragma once

#include <cstdint>

// A trace line being put together: text and numbers, then Send().
class SoundTraceLine {
  public:
    explicit SoundTraceLine(const char* event);
    SoundTraceLine& Add(const char* name, int64_t value);
    SoundTraceLine& Add(const char* name, const char* value);
    void Send();

  private:
    void Put(const char* text);
    char text_[160];
    int length_ = 0;
};

// The platform's part: hands one finished, zero-terminated line to the debugger.
void SoundTraceSend(const char* line);
