// Internal: the one way this library includes the audio library, so that the
// implementation and its users agree on what is compiled in (the options change the
// layout of its structures).
#pragma once

// The engine, its node graph and in-memory buffers only: no decoders, encoders, waveform
// generators or resource manager (we parse our own RIFF images).
#define MA_NO_DECODING
#define MA_NO_ENCODING
#define MA_NO_GENERATION
#define MA_NO_RESOURCE_MANAGER

// The platform's usual playback backends, and the null backend as the last resort. On
// Windows that is WASAPI alone: every Windows the program runs on has it, and where it
// cannot open a device the older DirectSound and WinMM paths (which Windows runs on top of
// it) cannot either; they would only add their code to the program.
#define MA_ENABLE_ONLY_SPECIFIC_BACKENDS
#if defined(_WIN32)
#define MA_ENABLE_WASAPI
#else
#define MA_ENABLE_PULSEAUDIO
#define MA_ENABLE_ALSA
#endif
#define MA_ENABLE_NULL

#include <miniaudio.h>
