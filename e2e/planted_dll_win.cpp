// A stand-in for a DLL that someone planted beside the program: when any process loads it,
// it leaves a file "planted-dll-loaded" beside itself. The program must never load it.
#include <windows.h>

#include <cwchar>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t path[MAX_PATH + 32];
    DWORD n = GetModuleFileNameW(instance, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return TRUE;
    wchar_t* slash = wcsrchr(path, L'\\');
    if (!slash) return TRUE;
    wcscpy(slash + 1, L"planted-dll-loaded");
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return TRUE;
}
