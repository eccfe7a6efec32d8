// Latency and idle reference: polls Caps Lock every millisecond and plays the warning clip
// through the audio library the moment it sees it switched on. The device stops after 10 s
// without sound, as the program's does, so that warm and cold starts can both be measured.
#include "bench/ref_clip.h"

#include <windows.h>

#include <timeapi.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    timeBeginPeriod(1);
    ma_engine engine;
    if (!RefEngineInit(&engine)) return 1;
    RefVoice voice;
    bool wasOn = (GetKeyState(VK_CAPITAL) & 1) != 0;
    DWORD lastSound = GetTickCount();
    for (;;) {
        Sleep(1);
        bool on = (GetKeyState(VK_CAPITAL) & 1) != 0;
        DWORD now = GetTickCount();
        if (on && !wasOn) {
            (void)RefPlay(&engine, &voice, WarningBeep, sizeof WarningBeep, 0.5f);
            lastSound = now;
        }
        wasOn = on;
        ma_device* device = ma_engine_get_device(&engine);
        if (device && ma_device_is_started(device) && now - lastSound > 10000)
            ma_device_stop(device);
    }
}
