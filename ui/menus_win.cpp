#include "menus.h"

#include "runtime/threads.h"

#include <windows.h>

namespace {

struct MenuRecord {
    HMENU menu;          // null marks a free slot
    HWND attachedWindow; // the window whose menu bar this is; popup menus have none
};

ObjectTableOf<MenuRecord> gMenus;
int64_t gCurrentMenuOffset = -1; // per-thread block: the HMENU items are appended to

MenuRecord* FindMenu(int64_t number) {
    return gMenus.Get(number);
}

HMENU* CurrentMenu() {
    if (gCurrentMenuOffset < 0) return nullptr;
    return static_cast<HMENU*>(ThreadLocalGet(gCurrentMenuOffset));
}

void ReleaseMenu(int64_t number) {
    MenuRecord* record = FindMenu(number);
    if (!record) return;
    if (record->attachedWindow) SetMenu(record->attachedWindow, nullptr);
    if (HMENU* current = CurrentMenu(); current && *current == record->menu) *current = nullptr;
    DestroyMenu(record->menu);
    gMenus.Release(number);
}

} // namespace

void MenuLibraryInit() {
    if (gMenus) return;
    (void)gMenus.Create(16, ReleaseMenu);
    gCurrentMenuOffset = ThreadLocalRegister(sizeof(HMENU), nullptr, nullptr);
}

intptr_t PopupMenuCreate(int64_t number) {
    MenuRecord* record = gMenus.Allocate(number);
    if (!record) return 0;
    const int64_t id = number == AnyNumber ? ObjectDynamicId(record) : number;
    HMENU menu = CreatePopupMenu();
    if (!menu) {
        gMenus.Release(id);
        return 0;
    }
    record->menu = menu;
    record->attachedWindow = nullptr;
    if (HMENU* current = CurrentMenu()) *current = menu;
    return number == AnyNumber ? id : reinterpret_cast<intptr_t>(menu);
}

int32_t MenuItemAdd(int32_t id, const char16_t* text) {
    HMENU* current = CurrentMenu();
    if (!current || !*current) return 0;
    auto* item = reinterpret_cast<const wchar_t*>(text ? text : u"");
    return AppendMenuW(*current, MF_STRING, static_cast<UINT_PTR>(static_cast<uint32_t>(id)), item);
}

int32_t MenuItemSetChecked(int64_t menu, int32_t id, int32_t checked) {
    MenuRecord* record = FindMenu(menu);
    if (!record) return 0;
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STATE;
    if (!GetMenuItemInfoW(record->menu, static_cast<UINT>(id), FALSE, &info)) return 0;
    if (checked)
        info.fState |= MFS_CHECKED;
    else
        info.fState &= ~UINT{MFS_CHECKED};
    return SetMenuItemInfoW(record->menu, static_cast<UINT>(id), FALSE, &info);
}

int32_t PopupMenuShow(int64_t menu, void* window) {
    MenuRecord* record = FindMenu(menu);
    if (!record) return 0;
    POINT cursor{};
    GetCursorPos(&cursor);
    auto* owner = static_cast<HWND>(window);
    // Without the foreground the menu would not close when the user clicks elsewhere.
    SetForegroundWindow(owner);
    return TrackPopupMenu(record->menu, TPM_RIGHTBUTTON, cursor.x - 1, cursor.y - 1, 0, owner,
                          nullptr);
}
