// The reference programs play the program's own warning clip through the audio library,
// with the same configuration the program compiles it with, so that a difference in the
// figures is the program's and not the library's.
#pragma once

#include "sound/clips.h"
#include "sound/miniaudio_config.h"

#include <cstdint>
#include <cstring>

// The PCM frames of a clip image (16-bit stereo 44100 Hz, as every built-in clip is), or
// false for an image without a data chunk.
inline bool ClipFrames(const uint8_t* image, uint32_t size, const void** frames, ma_uint64* count) {
    uint32_t at = 12;
    while (at + 8 <= size) {
        uint32_t length;
        std::memcpy(&length, image + at + 4, 4);
        if (std::memcmp(image + at, "data", 4) == 0) {
            if (length > size - at - 8) length = size - at - 8;
            *frames = image + at + 8;
            *count = length / 4;
            return true;
        }
        at += 8 + length + (length & 1);
    }
    return false;
}

// One play of the warning clip: a buffer over the image's frames and an engine sound on it,
// made fresh for every play as the program does.
struct RefVoice {
    ma_audio_buffer buffer;
    ma_sound sound;
    bool live = false;
};

inline bool RefPlay(ma_engine* engine, RefVoice* voice, const uint8_t* image, uint32_t size,
                    float volume) {
    if (voice->live) {
        ma_sound_uninit(&voice->sound);
        ma_audio_buffer_uninit(&voice->buffer);
        voice->live = false;
    }
    const void* frames = nullptr;
    ma_uint64 count = 0;
    if (!ClipFrames(image, size, &frames, &count)) return false;
    ma_audio_buffer_config config =
        ma_audio_buffer_config_init(ma_format_s16, 2, count, frames, nullptr);
    config.sampleRate = 44100;
    if (ma_audio_buffer_init(&config, &voice->buffer) != MA_SUCCESS) return false;
    if (ma_sound_init_from_data_source(engine, &voice->buffer, MA_SOUND_FLAG_NO_SPATIALIZATION,
                                       nullptr, &voice->sound) != MA_SUCCESS) {
        ma_audio_buffer_uninit(&voice->buffer);
        return false;
    }
    voice->live = true;
    ma_sound_set_volume(&voice->sound, volume);
    ma_device* device = ma_engine_get_device(engine);
    if (device && !ma_device_is_started(device) && ma_device_start(device) != MA_SUCCESS)
        return false;
    return ma_sound_start(&voice->sound) == MA_SUCCESS;
}

inline bool RefEngineInit(ma_engine* engine) {
    ma_engine_config config = ma_engine_config_init();
    config.noAutoStart = MA_TRUE; // started on the first play, as the program does
    return ma_engine_init(&config, engine) == MA_SUCCESS;
}
