// Documents to and from UTF-8 files and memory.
#include "json_internal.h"
#include "json_system.h"
#include "runtime/heap.h"

#include <cstring>

namespace json_internal {

int64_t gFailWritesAfter = -1;
void (*gWriteObserver)(uint32_t bytes) = nullptr;

} // namespace json_internal

namespace {

// Files and memory texts are limited to what a 32-bit signed length can count.
constexpr int64_t kLengthLimit = 0x7FFFFFFF;

struct FileTarget {
    void* file;
    int64_t written; // total, for the test hook
};

bool FlushToFile(json_internal::Utf8Sink* sink) {
    auto* target = static_cast<FileTarget*>(sink->context);
    uint32_t size = uint32_t(sink->fill);
    sink->fill = 0;
    if (json_internal::gWriteObserver) json_internal::gWriteObserver(size);
    if (json_internal::gFailWritesAfter >= 0 &&
        target->written + size > json_internal::gFailWritesAfter)
        return false;
    uint32_t done = 0;
    bool ok = json_system::WriteBlock(target->file, sink->buffer, size, &done) && done == size;
    target->written += done;
    return ok;
}

} // namespace

intptr_t JsonParseMemory(int64_t number, const void* bytes, int64_t length, int32_t flags) {
    if (!bytes || length <= 0 || length > kLengthLimit) return 0;
    auto* text = static_cast<char16_t*>(RuntimeAllocate(size_t(length + 1) * sizeof(char16_t)));
    if (!text) return 0;
    size_t units =
        json_internal::Utf8ToUtf16(static_cast<const uint8_t*>(bytes), size_t(length), text);
    text[units] = 0;
    intptr_t id = units ? JsonParseText(number, text, flags) : 0;
    RuntimeFree(text);
    return id;
}

intptr_t JsonLoadFile(int64_t number, const char16_t* fileName, int32_t flags) {
    if (!fileName || !*fileName) return 0;
    uint8_t* bytes = nullptr;
    size_t size = 0;
    if (!json_system::ReadWholeFile(fileName, uint64_t(kLengthLimit), &bytes, &size)) return 0;
    intptr_t id = bytes ? JsonParseMemory(number, bytes, int64_t(size), flags) : 0;
    RuntimeFree(bytes);
    return id;
}

int JsonSaveFile(int64_t number, const char16_t* fileName, int32_t flags) {
    if (!fileName || !*fileName) return 0;
    JsonValue* root = JsonRoot(number);
    if (!root) return 0;
    FileTarget target{};
    json_internal::Utf8Sink sink{};
    sink.flush = FlushToFile;
    sink.context = &target;
    sink.buffer = static_cast<uint8_t*>(RuntimeAllocate(json_internal::Utf8Sink::Size));
    if (!sink.buffer) return 0;
    char16_t* temporary = nullptr;
    target.file = json_system::CreateTemporary(fileName, &temporary);
    if (!target.file) {
        RuntimeFree(sink.buffer);
        return 0;
    }
    bool ok = json_internal::WriteUtf8(root, sink, flags);
    if (ok && sink.fill > 0) ok = sink.flush(&sink);
    if (ok)
        ok = json_system::CommitTemporary(target.file, temporary, fileName);
    else
        json_system::DiscardTemporary(target.file, temporary);
    RuntimeFree(temporary);
    RuntimeFree(sink.buffer);
    return ok ? 1 : 0;
}
