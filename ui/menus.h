// Numbered popup menus. Items are appended to the menu made last on the calling thread; a
// chosen item comes back to the owning window as EV_MENU_COMMAND with the item's id as the
// object. Call everything on the thread that owns the windows.
#pragma once

#include "runtime/objects.h"
#include "runtime/runtime.h"

#include <cstdint>

// Menus end with the process: there is no release step.
void MenuLibraryInit();
inline RuntimeLibrary MenuLibrary() {
    return {RuntimeLibraryId::Menus, MenuLibraryInit, nullptr};
}

// Makes an empty popup menu under number (a menu that held it is destroyed first) and makes
// it the calling thread's current menu. Returns the native menu handle, for AnyNumber the new
// menu's identifier, 0 on failure.
[[nodiscard]] intptr_t PopupMenuCreate(int64_t number);

// Appends a text item to the current menu; "&" marks the mnemonic letter. Only ids 0 to
// 65535 come back unchanged in EV_MENU_COMMAND (the command travels in 16 bits). Non-zero on
// success, 0 when there is no current menu or the item could not be added.
[[nodiscard]] int32_t MenuItemAdd(int32_t id, const char16_t* text);

// Sets or clears the check mark of the item with command id; its other state stays. Non-zero
// on success, 0 when there is no such menu or item.
int32_t MenuItemSetChecked(int64_t menu, int32_t id, int32_t checked);

// Shows the menu at the mouse pointer on behalf of window (native handle) and returns when it
// closes; a chosen item reaches window as a command afterwards. Non-zero when the menu was
// shown, 0 when there is no such menu or it could not be shown.
int32_t PopupMenuShow(int64_t menu, void* window);
