// Memory reference: plays the warning clip once through the audio library and stays, with
// the device open, until it is ended.
#include "bench/ref_clip.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    ma_engine engine;
    if (!RefEngineInit(&engine)) return 1;
    RefVoice voice;
    if (!RefPlay(&engine, &voice, WarningBeep, sizeof WarningBeep, 0.5f)) return 1;
    for (;;) Sleep(INFINITE);
}
