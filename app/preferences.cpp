#include "app/preferences.h"

#include "runtime/environment.h"
#include "json/json.h"

#include <cstddef>

Preferences gPreferences;

namespace {

// The file's record: the three fields back to back, as the mapping reads and writes them.
struct PreferencesRecord {
    int64_t beeptime;
    int64_t forceOff;
    uint8_t runAsAdmin;
};
constexpr size_t kRecordSize = 17;
static_assert(offsetof(PreferencesRecord, runAsAdmin) + 1 == kRecordSize);

const StructureDescriptor* PrefsDescriptor() {
    static const StructureDescriptorBuilder descriptor =
        StructureDescriptorBuilder("prefsstruct")
            .Field(TypeIntPtr, offsetof(PreferencesRecord, beeptime), "beeptime")
            .Field(TypeIntPtr, offsetof(PreferencesRecord, forceOff), "forceOff")
            .Field(TypeUInt8, offsetof(PreferencesRecord, runAsAdmin), "runAsAdmin")
            .End();
    return descriptor.Bytes();
}

PreferencesRecord Snapshot() {
    return {gPreferences.beeptime.load(std::memory_order_relaxed),
            gPreferences.forceOff.load(std::memory_order_relaxed),
            gPreferences.runAsAdmin.load(std::memory_order_relaxed)};
}

} // namespace

void PreferencesSetDefaults() {
    gPreferences.beeptime.store(kDefaultBeeptime, std::memory_order_relaxed);
    gPreferences.forceOff.store(0, std::memory_order_relaxed);
    gPreferences.runAsAdmin.store(0, std::memory_order_relaxed);
}

void LoadSettings() {
    if (FileSizeOf(kSettingsFile) < 0) return;
    if (!JsonLoadFile(0, kSettingsFile)) return;
    PreferencesRecord record = Snapshot();
    JsonExtractStructure(JsonRoot(0), &record, kRecordSize, PrefsDescriptor(), JsonNoClear);
    JsonFree(0);
    gPreferences.beeptime.store(record.beeptime, std::memory_order_relaxed);
    gPreferences.forceOff.store(record.forceOff, std::memory_order_relaxed);
    gPreferences.runAsAdmin.store(record.runAsAdmin, std::memory_order_relaxed);
}

bool SaveSettings() {
    const StructureDescriptor* descriptor = PrefsDescriptor();
    if (!descriptor || !JsonCreate(0)) return false;
    PreferencesRecord record = Snapshot();
    JsonInsertStructure(JsonRoot(0), &record, descriptor);
    bool saved = JsonSaveFile(0, kSettingsFile, JsonPrettyPrint) == 1;
    JsonFree(0);
    return saved;
}

bool EnforceSpeedFloor() {
    if (gPreferences.beeptime.load(std::memory_order_relaxed) >= kMinimumBeeptime) return false;
    gPreferences.beeptime.store(kMinimumBeeptime, std::memory_order_relaxed);
    (void)SaveSettings();
    return true;
}
