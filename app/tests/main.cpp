#include "sound/sound.h"
#include "json/json.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    RuntimeUse(JsonLibrary());
    RuntimeUse(SoundLibrary());
    RuntimeInit();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
