#include "trace.h"

void SoundTraceSend(const char*) {
    // No debugger channel to write to; the native builds trace nothing.
}
