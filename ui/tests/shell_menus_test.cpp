#include "ui/menus.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

UINT StateOf(HMENU menu, UINT id) {
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STATE;
    EXPECT_TRUE(GetMenuItemInfoW(menu, id, FALSE, &info));
    return info.fState;
}

TEST(Menus, ItemsKeepTheirOrderAndCheckMarksTouchNothingElse) {
    auto menu = reinterpret_cast<HMENU>(PopupMenuCreate(0));
    ASSERT_NE(menu, nullptr);
    const char16_t* texts[] = {u"&force capslock off", u"Caps lock warning &speed...",
                               u"Run &as admin", u"e&xit"};
    for (int id = 0; id < 4; ++id) ASSERT_NE(MenuItemAdd(id, texts[id]), 0);
    ASSERT_EQ(GetMenuItemCount(menu), 4);
    for (int pos = 0; pos < 4; ++pos) {
        EXPECT_EQ(GetMenuItemID(menu, pos), UINT(pos));
        wchar_t text[64] = {};
        GetMenuStringW(menu, pos, text, 64, MF_BYPOSITION);
        EXPECT_EQ(std::u16string(reinterpret_cast<char16_t*>(text)), texts[pos]);
    }

    // Item 2 also carries a state bit of its own that must survive.
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STATE;
    info.fState = MFS_GRAYED;
    ASSERT_TRUE(SetMenuItemInfoW(menu, 2, FALSE, &info));
    struct Step {
        int32_t id, checked;
        UINT state;
    } steps[] = {
        {2, 1, MFS_GRAYED | MFS_CHECKED},
        {2, 1, MFS_GRAYED | MFS_CHECKED}, // already checked
        {2, 0, MFS_GRAYED},
        {0, 5, MFS_CHECKED}, // any non-zero checks
        {0, 0, 0},
        {0, 0, 0},
    };
    for (const Step& s : steps) {
        EXPECT_NE(MenuItemSetChecked(0, s.id, s.checked), 0);
        EXPECT_EQ(StateOf(menu, UINT(s.id)), s.state) << "item " << s.id;
    }
    EXPECT_EQ(StateOf(menu, 1), 0u);
    EXPECT_EQ(MenuItemSetChecked(0, 9, 1), 0); // no such item
    EXPECT_EQ(MenuItemSetChecked(7, 0, 1), 0); // no such menu
    EXPECT_EQ(PopupMenuShow(7, nullptr), 0);

    // A new menu under the same number replaces the old one and takes the new items.
    auto second = reinterpret_cast<HMENU>(PopupMenuCreate(0));
    ASSERT_NE(second, nullptr);
    EXPECT_FALSE(IsMenu(menu));
    ASSERT_NE(MenuItemAdd(7, u"seven"), 0);
    EXPECT_EQ(GetMenuItemCount(second), 1);

    int64_t dynamic = PopupMenuCreate(AnyNumber);
    ASSERT_NE(dynamic, 0);
    ASSERT_NE(MenuItemAdd(1, nullptr), 0); // a null text reads as empty
    EXPECT_NE(MenuItemSetChecked(dynamic, 1, 1), 0);
    EXPECT_EQ(GetMenuItemCount(second), 1);

    // The current menu belongs to the thread that made it.
    int32_t elsewhere = -1;
    std::thread([&] { elsewhere = MenuItemAdd(8, u"other thread"); }).join();
    EXPECT_EQ(elsewhere, 0);
}

} // namespace
