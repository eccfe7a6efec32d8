#include "theme.h"

#include <windows.h>

bool TaskbarIsDark() {
    // The taskbar follows the system's setting, not "AppsUseLightTheme" (the programs' own).
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER,
                      L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize", 0,
                      KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    DWORD type = 0, value = 1, size = sizeof value;
    LSTATUS read = RegQueryValueExW(key, L"SystemUsesLightTheme", nullptr, &type,
                                    reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    return read == ERROR_SUCCESS && type == REG_DWORD && size == sizeof value && value == 0;
}
