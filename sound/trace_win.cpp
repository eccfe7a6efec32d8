#include "trace.h"

#include <windows.h>

void SoundTraceSend(const char* line) {
    OutputDebugStringA(line);
}
