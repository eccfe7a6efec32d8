// The names morlett.exe registers with the system or sets on its windows: the single-instance
// mutex, window classes, window properties and window messages, and the shell's message
// that the tray waits for. Other copies of the program and other programs meet it by these
// names, so they are part of the program's outside interface and must not change.
#pragma once

inline constexpr wchar_t kInstanceMutexName[] = L"Quenlor_morlett";

inline constexpr wchar_t kWindowClassPrefix[] = L"WindowClass_"; // + the window's number
inline constexpr wchar_t kWindowIdProperty[] = L"ORB_WindowID";
inline constexpr wchar_t kFocusProperty[] = L"ORB_Focus";
inline constexpr wchar_t kInputDialogClass[] = L"InputRequester";

inline constexpr wchar_t kQueueWakeClass[] = L"PostEventClass";
inline constexpr wchar_t kQueueWakeMessage[] = L"ORB_UnlockQueueEventMessage";

inline constexpr wchar_t kTrayCallbackProperty[] = L"orb_systray_callback";
inline constexpr wchar_t kTrayIconPropertyPrefix[] = L"OrbSysTray"; // + the shell id
inline constexpr wchar_t kTaskbarCreatedMessage[] = L"TaskbarCreated";
