// Shared by the application's tests.
#pragma once

// Starts the sound library, once, on an engine without a device: clips start and then
// never get further, so tests hear nothing and a wait for a clip's end has to give up.
void UseStalledSoundOutput();
