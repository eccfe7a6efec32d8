/* A stand-in for a dwmapi.dll that someone planted where the program looks for libraries.
   Loading it must never happen; if it does, it says so through the environment. */
#include <windows.h>

__declspec(dllexport) HRESULT WINAPI DwmIsCompositionEnabled(BOOL* enabled) {
    SetEnvironmentVariableW(L"MORLETT_PLANTED_DWMAPI_RAN", L"1");
    *enabled = TRUE;
    return 0;
}
