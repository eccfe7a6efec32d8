#include "shell_gui_support.h"
#include "ui/events.h"
#include "ui/images.h"
#include "ui/menus.h"
#include "ui/requesters.h"
#include "ui/tray.h"
#include "ui/windows.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // Before any test shows an icon: a white icon must show in the tray.
    (void)PaintWineTrayGrey();

    // The libraries the application uses, in the runtime's order.
    RuntimeUse(EventQueueLibrary());
    RuntimeUse(ImageLibrary());
    RuntimeUse(TrayLibrary());
    RuntimeUse(OleLibrary());
    RuntimeUse(WindowLibrary());
    RuntimeUse(MenuLibrary());
    RuntimeUse(RequesterLibrary());
    RuntimeInit();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
