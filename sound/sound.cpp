#include "sound.h"

#include "miniaudio_config.h"
#include "runtime/clock.h"
#include "runtime/heap.h"
#include "runtime/lock.h"
#include "sound_internal.h"
#include "trace.h"
#include "wave.h"

#include <atomic>
#include <cstring>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define MORLETT_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MORLETT_LEAK_CHECKED 1
#endif
#endif

#if defined(MORLETT_LEAK_CHECKED) && !defined(_WIN32)
// On a machine without a sound server, libpulse keeps the memory of the context whose
// connection failed and the audio library has no way to free it; the engine then falls back
// to another backend and works. Without this, every leak-checked program that starts the
// library there would fail at exit.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libpulse.so\n";
}
#endif

std::atomic<uint32_t> gSoundIdleCheckMs{2000};
std::atomic<uint32_t> gSoundIdleLimitMs{10000};
std::atomic<bool> gSoundFailDeviceStart{false};
std::atomic<bool> gSoundFailVoiceStart{false};
std::atomic<bool> gSoundFailDeviceOpen{false};
std::atomic<uint32_t> gSoundDeviceOpens{0};
std::atomic<uint32_t> gSoundDeviceOpenAttempts{0};
std::atomic<uint32_t> gSoundFallbackRetryMs{1000};

namespace {

constexpr int32_t kVoiceCount = 64;
constexpr int32_t kSlotStep = 64;

// One numbered sound. The data size comes first: the record is live while it is non-zero.
struct SoundSlot {
    int64_t dataSize;
    ma_audio_buffer_config buffer; // what every voice of this sound plays from
    void* stream;                  // streamed sounds do not exist in this program
    uint8_t* pcm;                  // our own copy of the samples
    double defaultVolume;          // 0..100
    int32_t pan;                   // -100..100
    int32_t frequency;             // Hz
    int32_t baseRate;              // the clip's own sample rate
    uint64_t startFrame;
    uint16_t bitsPerSample;
    uint16_t channels;
};

struct SoundVoice {
    ma_sound sound;
    ma_audio_buffer source; // refers to the slot's samples, copies nothing
    int64_t number;
    int32_t flags;
    int32_t index;
    // Written by the audio thread when the voice ends, read by callers and the watcher.
    std::atomic<uint8_t> inUse;
    std::atomic<uint8_t> ended; // ended by itself; its engine sound still awaits release
};

// The library's state. One lock serialises every operation, because the program plays on
// one sound number from two threads: without it a load on one thread could free the
// samples a play on the other is about to hand to the engine. The voice end procedure
// runs on the audio thread and takes no lock, so waiting for that thread while holding
// the lock (ma_sound_uninit, ma_device_stop) cannot deadlock.
std::atomic<bool> gStartedOnce{false};
std::atomic<bool> gInitialised{false};
std::atomic<bool> gStopped{false};
ObjectTableOf<SoundSlot> gSounds;
ObjectTable* gStartResult = nullptr;
SoundVoice* gVoices = nullptr;
int32_t gVoiceCount = 0;
SoundOutput gOutput = SoundOutput::DefaultDevice;

ma_engine gEngine;
ma_context gContext;
bool gOwnContext = false;
std::atomic<ma_device*> gDevice{nullptr};
// The engine's own data callback, private to the audio library: taken from the device the
// engine opened, for opening it again (ReopenDevice).
ma_device_data_proc gDeviceCallback = nullptr;

// A device that went away under us (an output unplugged, the audio service restarted, the
// machine resumed from sleep) is not brought back by the audio library. Whoever notices
// marks it lost; the next play closes it and opens the current default output afresh. The
// mark is set from the audio library's own threads (its notification) and from any thread
// (SoundDeviceRenew), so it is atomic; the device itself is only touched by a play, the idle
// watcher and the shutdown, under the library lock.
std::atomic<bool> gDeviceLost{false};
// Set while this library stops or closes the device itself: such a stop is no loss.
std::atomic<bool> gOwnStop{false};
// The device was started by a play and not stopped by us since (under the library lock). A
// device found stopped while this is set stopped by itself, whether or not it said so: the
// audio library stays silent when the output is already gone as it stops.
bool gDeviceStarted = false;
// When the device was last opened, for spacing the attempts to leave the silent fallback.
uint32_t gLastOpenTick = 0;
// Voices taken so far, for the idle watcher.
std::atomic<uint64_t> gPlayCount{0};

Lock& LibraryLock() {
    // Never destroyed: the application's watcher thread may still call in while the
    // process exits.
    static auto* lock = new Lock(LockKind::Recursive);
    return *lock;
}

// ---- Voices ------------------------------------------------------------------------------

void ReleaseEngineSound(SoundVoice& voice) {
    // Returns only once the audio thread has let go of the sound, so any end procedure
    // for it has finished; the marks are settled after that.
    ma_sound_uninit(&voice.sound);
    ma_audio_buffer_uninit(&voice.source);
    voice.ended = 0;
}

void VoiceEnded(void* argument, ma_sound*) {
    auto* voice = static_cast<SoundVoice*>(argument);
    // The ended mark goes first: a voice that looks free always shows whether it still
    // holds an engine sound.
    voice->ended = 1;
    voice->inUse = 0;
}

void StopVoices(int64_t number) {
    for (int32_t i = 0; i < gVoiceCount; ++i) {
        SoundVoice& voice = gVoices[i];
        if (!voice.inUse || voice.number != number) continue;
        ReleaseEngineSound(voice);
        voice.inUse = 0;
    }
}

// ---- Device ------------------------------------------------------------------------------

const char* DeviceStateName(ma_device* device) {
    switch (ma_device_get_state(device)) {
    case ma_device_state_uninitialized:
        return "closed";
    case ma_device_state_stopped:
        return "stopped";
    case ma_device_state_started:
        return "started";
    case ma_device_state_starting:
        return "starting";
    case ma_device_state_stopping:
        return "stopping";
    }
    return "?";
}

const char* DeviceBackendName(ma_device* device) {
    if (ma_device_get_state(device) == ma_device_state_uninitialized || !device->pContext)
        return "none";
    return ma_get_backend_name(device->pContext->backend);
}

// The audio library's report on the device, on one of its own threads: only marks here.
// Closing the device from its own thread would wait for that thread.
void DeviceNotified(const ma_device_notification* notification) {
    const char* event = "other";
    switch (notification->type) {
    case ma_device_notification_type_started:
        event = "started";
        break;
    case ma_device_notification_type_stopped:
        if (gOwnStop) {
            event = "stopped";
        } else {
            event = "stopped-unasked";
            gDeviceLost = true;
        }
        break;
    // The library moved the stream to the new default output by itself.
    case ma_device_notification_type_rerouted:
        event = "rerouted";
        break;
    case ma_device_notification_type_interruption_began:
        event = "interrupted";
        gDeviceLost = true;
        break;
    case ma_device_notification_type_interruption_ended:
        event = "resumed";
        break;
    default:
        break;
    }
    SoundTraceLine("notification").Add("event", event).Send();
}

// Closes the stopped device and opens it again, with the engine's format, on the backend it
// had (or, failing that, on the first backend that opens one, down to the null backend),
// leaving it stopped. Under Wine an audio client that has been started once keeps a driver
// thread waking every period, stopped or not, until it is closed; a fresh one that was never
// started costs nothing, and starting it costs no more than restarting the old one. On
// failure the device stays closed; the next start tries again.
bool ReopenDevice(ma_device* device) {
    ma_device_config config = ma_device_config_init(ma_device_type_playback);
    config.playback.format = ma_format_f32;
    config.playback.channels = ma_engine_get_channels(&gEngine);
    config.sampleRate = ma_engine_get_sample_rate(&gEngine);
    config.pUserData = &gEngine;
    config.dataCallback = gDeviceCallback;
    // As the engine sets up its own device: it writes every frame and clips by itself.
    config.noPreSilencedOutputBuffer = MA_TRUE;
    config.noClip = MA_TRUE;
    config.notificationCallback = DeviceNotified;
    ma_backend previous = ma_backend_null;
    if (ma_device_get_state(device) != ma_device_state_uninitialized) {
        previous = device->pContext->backend;
        gOwnStop = true;
        ma_device_uninit(device); // leaves the record zeroed: "uninitialised"
        gOwnStop = false;
    }
    gDeviceStarted = false;
    gLastOpenTick = SystemTickCount();
    ++gSoundDeviceOpenAttempts;
    // The backend it had first, then every backend in the library's order, the silent null
    // one last. Having fallen back to that one is no reason to stay there: an output may
    // have come back.
    ma_backend null = ma_backend_null;
    bool opened = false;
    if (gSoundFailDeviceOpen)
        opened = false;
    else if (gOutput == SoundOutput::NullBackend)
        opened = ma_device_init_ex(&null, 1, nullptr, &config, device) == MA_SUCCESS;
    else
        opened = (previous != ma_backend_null &&
                  ma_device_init_ex(&previous, 1, nullptr, &config, device) == MA_SUCCESS) ||
                 ma_device_init_ex(nullptr, 0, nullptr, &config, device) == MA_SUCCESS;
    if (opened) {
        gEngine.pLog = ma_device_get_log(device); // the old one went with the old device
        ++gSoundDeviceOpens;
    }
    SoundTraceLine("open")
        .Add("result", opened ? "ok" : "failed")
        .Add("backend", DeviceBackendName(device))
        .Add("opens", gSoundDeviceOpens)
        .Send();
    return opened;
}

bool TryStartDevice(ma_device* device) {
    gDeviceStarted = !gSoundFailDeviceStart && ma_device_start(device) == MA_SUCCESS;
    return gDeviceStarted;
}

// Whether the device sounds through the silent null backend although a real output was
// asked for, and the time has come to look for one again.
bool FallbackRetryDue(ma_device* device) {
    return gOutput == SoundOutput::DefaultDevice &&
           ma_device_get_state(device) != ma_device_state_uninitialized &&
           device->pContext->backend == ma_backend_null &&
           SystemTickCount() - gLastOpenTick >= gSoundFallbackRetryMs;
}

// Makes sure the device runs before a voice is taken. A device that was lost, or that will
// not start, is closed and the current default output opened in its place, once per play:
// with no output at all each play makes one attempt and fails, nothing loops. The caller
// holds the library lock.
bool StartDevice(const char** what) {
    ma_device* device = gDevice;
    *what = "none";
    if (!device) return true;
    bool lost = gDeviceLost.exchange(false);
    ma_device_state state = ma_device_get_state(device);
    if (state == ma_device_state_started && !lost && !FallbackRetryDue(device)) {
        *what = "running";
        return true;
    }
    // Stopped, but not by us: it went away under the voices.
    if (gDeviceStarted && state != ma_device_state_started) lost = true;
    bool reopened = false;
    if (lost || state == ma_device_state_uninitialized || FallbackRetryDue(device)) {
        *what = lost ? "lost-reopened" : "reopened";
        reopened = true;
        if (!ReopenDevice(device)) {
            *what = lost ? "lost-open-failed" : "open-failed";
            return false;
        }
    } else {
        *what = "started";
    }
    if (TryStartDevice(device)) return true;
    if (reopened) {
        *what = "start-failed";
        return false;
    }
    // A device that will not start is as good as gone.
    *what = "start-failed-reopened";
    return ReopenDevice(device) && TryStartDevice(device);
}

SoundVoice* TakeVoice() {
    for (int32_t i = 0; i < gVoiceCount; ++i) {
        SoundVoice& voice = gVoices[i];
        if (voice.inUse) continue;
        voice.inUse = 1;
        voice.index = i;
        // Without a running device the voice would never advance, never end, and a caller
        // waiting for it would wait for ever: give the voice back and fail the play.
        const char* device = "none";
        bool started = StartDevice(&device);
        SoundTraceLine("play")
            .Add("voice", i)
            .Add("device", device)
            .Add("state", gDevice ? DeviceStateName(gDevice) : "none")
            .Add("backend", gDevice ? DeviceBackendName(gDevice) : "none")
            .Add("start", started ? "ok" : "failed")
            .Send();
        if (!started) {
            voice.inUse = 0;
            return nullptr;
        }
        if (voice.ended) ReleaseEngineSound(voice);
        ++gPlayCount;
        return &voice;
    }
    return nullptr;
}

void ApplyPitch(SoundVoice& voice, int32_t frequency, int32_t baseRate) {
    float pitch = static_cast<float>(static_cast<double>(frequency) / baseRate);
    // A frequency of 0 leaves the voice at the pitch it has.
    if (pitch > 0) ma_sound_set_pitch(&voice.sound, pitch);
}

// ---- Sounds ------------------------------------------------------------------------------

SoundSlot* SlotOf(int64_t number) {
    return gSounds.Get(number);
}

// The sound table's release procedure.
void ReleaseSound(int64_t number) {
    SoundSlot* slot = SlotOf(number);
    if (!slot) return;
    StopVoices(number);
    RuntimeFree(slot->pcm);
    gSounds.Release(number);
}

// Whether an operation may go ahead; the caller holds the library lock.
bool Running() {
    return gInitialised && !gStopped;
}

// ---- Idle watcher ------------------------------------------------------------------------

// Every start of the library has a watcher of its own. One left from an earlier start may
// still be asleep when the library starts again: it sees a newer generation and ends.
uint32_t gWatcherGeneration = 0; // both under the library lock
bool gWatcherStarted = false;
// The watcher's thread: a helper that nobody waits for, on a small stack.
constexpr uint32_t kWatcherStackBytes = 8192;

bool AnyVoiceInUse() {
    for (int32_t i = 0; i < gVoiceCount; ++i)
        if (gVoices[i].inUse) return true;
    return false;
}

// Stops the device (and opens it afresh, see ReopenDevice) once no voice has been in use for
// the idle limit, so that an idle program costs no audio processing; the next play starts it
// again. Everything it touches is checked and used under the library lock, so a shutdown
// never releases the engine under its feet.
void DeviceIdleWatcher(intptr_t generation) {
    bool idle = false;
    uint32_t idleSince = 0;
    uint64_t playsSeen = gPlayCount.load();
    for (;;) {
        SleepMs(gSoundIdleCheckMs.load());
        LockGuard guard(LibraryLock());
        if (uint32_t(generation) != gWatcherGeneration) return;
        ma_device* device = gDevice;
        if (!device) return;
        if (!ma_device_is_started(device)) continue;
        // A short sound that began and ended between two checks counts as well: otherwise
        // the idle time would run from before it, and the device be closed right after it.
        if (AnyVoiceInUse() || gPlayCount.load() != playsSeen) {
            playsSeen = gPlayCount.load();
            idle = false;
            continue;
        }
        uint32_t now = SystemTickCount();
        if (!idle) {
            idle = true;
            idleSince = now;
        } else if (now - idleSince > gSoundIdleLimitMs) { // unsigned: right across wrap-around
            gOwnStop = true;
            ma_device_stop(device);
            gOwnStop = false;
            (void)ReopenDevice(device);
            idle = false;
        }
    }
}

// The caller holds the library lock. Without the watcher the device just keeps running.
void StartIdleWatcher() {
    ++gWatcherGeneration;
    gWatcherStarted =
        HelperThreadStart(DeviceIdleWatcher, intptr_t(gWatcherGeneration), kWatcherStackBytes);
}

// The caller holds the library lock; the watcher ends at its next check.
void StopIdleWatcher() {
    ++gWatcherGeneration;
    gWatcherStarted = false;
}

// ---- Start -------------------------------------------------------------------------------

bool StartEngine(SoundOutput output, uint32_t sampleRate, uint32_t channels) {
    ma_engine_config config = ma_engine_config_init();
    config.notificationCallback = DeviceNotified;
    // The device stays off until the first voice is taken. Starting it here only to stop it
    // again would cost nothing on Windows, but under Wine an audio client that was started
    // once keeps a driver thread waking every period until it is closed.
    config.noAutoStart = MA_TRUE;
    config.sampleRate = sampleRate;
    config.channels = channels;
    if (output == SoundOutput::NoDevice) {
        config.noDevice = MA_TRUE;
        if (!config.channels) config.channels = 2;
        if (!config.sampleRate) config.sampleRate = 48000;
    } else if (output == SoundOutput::NullBackend) {
        ma_backend backend = ma_backend_null;
        if (ma_context_init(&backend, 1, nullptr, &gContext) != MA_SUCCESS) return false;
        gOwnContext = true;
        config.pContext = &gContext;
    }
    if (ma_engine_init(&config, &gEngine) == MA_SUCCESS) return true;
    if (gOwnContext) ma_context_uninit(&gContext);
    gOwnContext = false;
    return false;
}

ObjectTable* StartLibrary(SoundOutput output, uint32_t sampleRate, uint32_t channels) {
    LockGuard guard(LibraryLock());
    if (gStartedOnce) return gStartResult;
    gStartedOnce = true;
    gVoiceCount = kVoiceCount;
    gOutput = output;
    if (!StartEngine(output, sampleRate, channels)) return nullptr;

    (void)gSounds.Create(kSlotStep, ReleaseSound);
    if (!gVoices) {
        void* memory = RuntimeAllocate(sizeof(SoundVoice) * kVoiceCount);
        if (memory) {
            gVoices = static_cast<SoundVoice*>(memory);
            for (int32_t i = 0; i < kVoiceCount; ++i) new (&gVoices[i]) SoundVoice{};
        }
    }
    if (!gSounds || !gVoices) {
        ma_engine_uninit(&gEngine);
        if (gOwnContext) ma_context_uninit(&gContext);
        gOwnContext = false;
        return nullptr;
    }

    // The device is off (see StartEngine) until the first voice is taken.
    ma_device* device = ma_engine_get_device(&gEngine);
    if (device) {
        gDeviceCallback = device->onData;
        gSoundDeviceOpens = 1;
        gSoundDeviceOpenAttempts = 1;
        gLastOpenTick = SystemTickCount();
    }
    gDeviceStarted = false;
    gDeviceLost = false;
    gDevice = device;
    if (device) StartIdleWatcher();
    gInitialised = true;
    gStartResult = gSounds.Table();
    return gStartResult;
}

} // namespace

// ---- Operations --------------------------------------------------------------------------

ObjectTable* SoundSystemInit() {
    return StartLibrary(SoundOutput::DefaultDevice, 0, 0);
}

ObjectTable* SoundSystemInitWith(SoundOutput output, uint32_t sampleRate, uint32_t channels) {
    return StartLibrary(output, sampleRate, channels);
}

void SoundSystemShutdown() {
    {
        LockGuard guard(LibraryLock());
        if (!Running()) return;
        // From here on every operation does nothing; the watcher ends at its next check.
        gStopped = true;
        gDevice = nullptr;
        StopIdleWatcher();
        gOwnStop = true; // the engine's stop below is ours
    }

    LockGuard guard(LibraryLock());
    // Release every engine sound while the engine still exists; none of them ends by
    // itself after this, so no end procedure runs later.
    for (int32_t i = 0; i < gVoiceCount; ++i) {
        SoundVoice& voice = gVoices[i];
        if (voice.inUse || voice.ended) ReleaseEngineSound(voice);
        voice.inUse = 0;
    }
    ma_engine_uninit(&gEngine);
    gOwnStop = false;
    if (gOwnContext) ma_context_uninit(&gContext);
    gOwnContext = false;
    gSounds.ReleaseAll();
}

void SoundDeviceRenew() {
    // Only a mark: the caller may be any thread, even one the audio library runs on.
    gDeviceLost = true;
    SoundTraceLine("renew").Send();
}

int64_t SoundLoadMemory(int64_t number, const void* image, uint32_t size) {
    LockGuard guard(LibraryLock());
    if (!Running() || !image) return 0;
    WaveInfo wave;
    if (!WaveParse(image, size, &wave)) return 0;
    // Copy before touching the number, so that a failed load leaves its sound in place.
    auto* pcm = static_cast<uint8_t*>(RuntimeAllocate(static_cast<size_t>(wave.dataSize)));
    if (!pcm) return 0;
    std::memcpy(pcm, wave.data, static_cast<size_t>(wave.dataSize));

    // Releases the number's previous sound (stopping its voices) and hands back a clean
    // record.
    SoundSlot* slot = gSounds.Allocate(number);
    if (!slot) {
        RuntimeFree(pcm);
        return 0;
    }
    slot->pcm = pcm;
    slot->channels = wave.channels;
    slot->bitsPerSample = wave.bitsPerSample;
    slot->baseRate = wave.sampleRate;
    slot->frequency = wave.sampleRate;
    slot->defaultVolume = 100.0;
    slot->pan = 0;
    slot->startFrame = 0;
    slot->stream = nullptr;
    slot->buffer =
        ma_audio_buffer_config_init(static_cast<ma_format>(wave.format), wave.channels,
                                    static_cast<ma_uint64>(wave.frameCount), pcm, nullptr);
    // The engine converts from the clip's own rate; left at 0 it would take the device's,
    // and a 44.1 kHz clip would play sharp on a 48 kHz device.
    slot->buffer.sampleRate = static_cast<ma_uint32>(wave.sampleRate);
    slot->dataSize = wave.dataSize; // last: makes the record live
    return reinterpret_cast<intptr_t>(slot);
}

void SoundFree(int64_t number) {
    LockGuard guard(LibraryLock());
    if (!Running()) return;
    if (number == AnyNumber)
        gSounds.ReleaseAll();
    else
        ReleaseSound(number);
}

int64_t SoundGetFrequency(int64_t number) {
    LockGuard guard(LibraryLock());
    if (!Running()) return 0;
    SoundSlot* slot = SlotOf(number);
    return slot ? slot->frequency : 0;
}

void SoundSetFrequency(int64_t number, int32_t frequency) {
    LockGuard guard(LibraryLock());
    if (!Running()) return;
    if (frequency < 0) frequency = 0;
    if (number == AnyNumber) {
        for (int32_t i = 0; i < gVoiceCount; ++i) {
            SoundVoice& voice = gVoices[i];
            if (!voice.inUse) continue;
            if (SoundSlot* slot = SlotOf(voice.number))
                ApplyPitch(voice, frequency, slot->baseRate);
        }
        gSounds.EnumerateStart();
        while (SoundSlot* slot = gSounds.EnumerateNext()) slot->frequency = frequency;
        return;
    }
    SoundSlot* slot = SlotOf(number);
    if (!slot) return;
    slot->frequency = frequency;
    for (int32_t i = 0; i < gVoiceCount; ++i) {
        SoundVoice& voice = gVoices[i];
        if (voice.inUse && voice.number == number) ApplyPitch(voice, frequency, slot->baseRate);
    }
}

int64_t SoundPlay(int64_t number, int32_t flags, double volume) {
    LockGuard guard(LibraryLock());
    if (!Running()) return 0;
    SoundSlot* slot = SlotOf(number);
    if (!slot) return 0;
    if (!(flags & SF_MULTIPLE)) StopVoices(number);

    SoundVoice* voice = TakeVoice();
    if (!voice) return 0;
    voice->number = number;
    voice->flags = flags;
    if (ma_audio_buffer_init(&slot->buffer, &voice->source) != MA_SUCCESS) {
        voice->inUse = 0;
        return 0;
    }
    if (ma_sound_init_from_data_source(&gEngine, &voice->source,
                                       MA_SOUND_FLAG_NO_SPATIALIZATION | MA_SOUND_FLAG_DECODE,
                                       nullptr, &voice->sound) != MA_SUCCESS) {
        ma_audio_buffer_uninit(&voice->source);
        voice->inUse = 0;
        return 0;
    }
    if (flags & SF_LOOP) ma_sound_set_looping(&voice->sound, MA_TRUE);
    double level = volume == -1.0 ? slot->defaultVolume : volume;
    ma_sound_set_volume(&voice->sound, static_cast<float>(level / 100.0));
    ma_sound_set_pan(&voice->sound, static_cast<float>(slot->pan / 100.0));
    ApplyPitch(*voice, slot->frequency, slot->baseRate);
    ma_sound_seek_to_pcm_frame(&voice->sound, slot->startFrame);
    ma_sound_set_end_callback(&voice->sound, VoiceEnded, voice);
    // A voice that never started would hold its place and read as playing for ever.
    bool started = !gSoundFailVoiceStart && ma_sound_start(&voice->sound) == MA_SUCCESS;
    if (!started) {
        ReleaseEngineSound(*voice);
        voice->inUse = 0;
        return 0;
    }
    return (flags & SF_MULTIPLE) ? voice->index + 2 : 1;
}

int32_t SoundGetState(int64_t number) {
    LockGuard guard(LibraryLock());
    if (!Running() || !SlotOf(number)) return SOUND_MISSING;
    for (int32_t i = 0; i < gVoiceCount; ++i) {
        SoundVoice& voice = gVoices[i];
        if (!voice.inUse || voice.number != number) continue;
        // On a device that went away the voice no longer advances and would read as playing
        // for ever; until the next play opens a new device it is held, not playing.
        ma_device* device = gDevice;
        if (device && !ma_device_is_started(device)) return SOUND_PAUSED;
        return ma_sound_is_playing(&voice.sound) ? SOUND_PLAYING : SOUND_PAUSED;
    }
    return SOUND_STOPPED;
}

// ---- Test access -------------------------------------------------------------------------

void SoundTestStopDevice(bool notify) {
    LockGuard guard(LibraryLock());
    ma_device* device = gDevice;
    if (!device) return;
    // Without notice, as when the output was gone before the audio library could stop it.
    gOwnStop = !notify;
    ma_device_stop(device);
    gOwnStop = false;
}

void SoundTestReset() {
    LockGuard guard(LibraryLock());
    if (Running()) return;
    gStartedOnce = false;
    gInitialised = false;
    gStopped = false;
    gStartResult = nullptr;
}

uint64_t SoundReadOutput(float* out, uint64_t frameCount) {
    // Like the audio thread: no library lock.
    if (!gInitialised || gStopped || gOutput != SoundOutput::NoDevice) return 0;
    // With nothing attached the engine reports its end and fills the rest with silence,
    // as a device would play it.
    ma_uint64 read = 0;
    (void)ma_engine_read_pcm_frames(&gEngine, out, frameCount, &read);
    return frameCount;
}

bool SoundDeviceRunning() {
    LockGuard guard(LibraryLock());
    ma_device* device = gDevice;
    return device && ma_device_is_started(device);
}

int32_t SoundVoicesInUse() {
    LockGuard guard(LibraryLock());
    int32_t count = 0;
    for (int32_t i = 0; i < gVoiceCount; ++i) count += gVoices[i].inUse;
    return count;
}

bool SoundIdleWatcherRunning() {
    LockGuard guard(LibraryLock());
    return gWatcherStarted;
}
