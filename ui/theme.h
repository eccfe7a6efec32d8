// The shell's colour theme, as far as it matters to a tray icon: whether the taskbar is
// dark. The shell announces a change with EV_THEME_CHANGED (events.h). Reading it is not
// configuration: nothing here is stored or written.
#pragma once

// True when the shell says its taskbar is dark: the user's value "SystemUsesLightTheme" under
// Software\Microsoft\Windows\CurrentVersion\Themes\Personalize is the number 0 (a DWORD).
// False when it is anything else, absent (before Windows 10) or cannot be read: a light
// taskbar is what every older system has.
bool TaskbarIsDark();
