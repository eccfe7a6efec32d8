#include "app_test_support.h"

#include "sound/sound_internal.h"

#include <gtest/gtest.h>

void UseStalledSoundOutput() {
    static ObjectTable* table = SoundSystemInitWith(SoundOutput::NoDevice, 48000, 2);
    ASSERT_NE(table, nullptr);
}
