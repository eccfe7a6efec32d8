// Numbered windows, their timers and the window procedure (being filled in).
#include "events.h"
#include "ui_internal.h"
#include "windows.h"

#include <windows.h>

namespace {
ObjectTable* gWindows = nullptr;
TrayCallbackHandler gTrayHandler = nullptr;
} // namespace

ObjectTable* WindowTable() {
    return gWindows;
}
void WindowLibraryInit() {}
void WindowLibraryShutdown() {}
intptr_t WindowOpen(int64_t, int32_t, int32_t, int32_t, int32_t, const char16_t*, uint32_t, void*) {
    return 0;
}
void* WindowHandle(int64_t) {
    return nullptr;
}
int32_t WindowHide(int64_t, int32_t, uint32_t) {
    return 0;
}
void WindowClose(int64_t) {}
uintptr_t TimerAdd(int64_t, uint64_t, int32_t) {
    return 0;
}
int32_t TimerRemove(int64_t, uint64_t) {
    return 0;
}
int64_t WindowNumberFromHandle(void*, WindowRecord** record) {
    if (record) *record = nullptr;
    return -1;
}
void WindowSetTrayCallbackHandler(TrayCallbackHandler handler) {
    gTrayHandler = handler;
}
void* WindowAcceleratorTable(void*) {
    return nullptr;
}
void WindowShowKeyboardCues(void*) {}
