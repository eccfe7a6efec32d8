// The file calls on Windows.
#include "json_system.h"

#include "runtime/heap.h"

#include <cstring>
#include <windows.h>

namespace json_system {

namespace {

const wchar_t* Wide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}

} // namespace

bool ReadWholeFile(const char16_t* name, uint64_t limit, uint8_t** bytes, size_t* size) {
    *bytes = nullptr;
    *size = 0;
    HANDLE file = CreateFileW(Wide(name), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    // The whole size: a file too large for one read is refused, never cut short.
    DWORD high = 0;
    DWORD low = GetFileSize(file, &high);
    uint64_t length = uint64_t(high) << 32 | low;
    bool ok = !(low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) && length <= limit &&
              length <= 0xFFFFFFFFu;
    uint8_t* block = nullptr;
    if (ok && length) {
        block = static_cast<uint8_t*>(RuntimeAllocate(size_t(length)));
        DWORD read = 0;
        ok = block && ReadFile(file, block, DWORD(length), &read, nullptr) && read == length;
    }
    CloseHandle(file);
    if (!ok) {
        RuntimeFree(block);
        return false;
    }
    *bytes = block;
    *size = size_t(length);
    return true;
}

void* CreateTemporary(const char16_t* name, char16_t** temporary) {
    size_t length = 0;
    while (name[length]) ++length;
    *temporary = static_cast<char16_t*>(RuntimeAllocate((length + 5) * sizeof(char16_t)));
    if (!*temporary) return nullptr;
    std::memcpy(*temporary, name, length * sizeof(char16_t));
    std::memcpy(*temporary + length, u".tmp", 4 * sizeof(char16_t));
    HANDLE file = CreateFileW(Wide(*temporary), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        RuntimeFree(*temporary);
        *temporary = nullptr;
        return nullptr;
    }
    return file;
}

bool WriteBlock(void* file, const void* data, uint32_t size, uint32_t* written) {
    DWORD done = 0;
    BOOL ok = WriteFile(static_cast<HANDLE>(file), data, size, &done, nullptr);
    *written = done;
    return ok && done == size;
}

bool CommitTemporary(void* file, const char16_t* temporary, const char16_t* name) {
    bool ok = FlushFileBuffers(static_cast<HANDLE>(file)) != 0;
    ok = CloseHandle(static_cast<HANDLE>(file)) && ok;
    ok = ok && MoveFileExW(Wide(temporary), Wide(name),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok) DeleteFileW(Wide(temporary));
    return ok;
}

void DiscardTemporary(void* file, const char16_t* temporary) {
    CloseHandle(static_cast<HANDLE>(file));
    DeleteFileW(Wide(temporary));
}

size_t CodePageToUtf16(const char* text, char16_t* out, size_t capacity) {
    if (!capacity) return 0;
    out[0] = 0;
    if (!text || !*text) return 0;
    int n =
        MultiByteToWideChar(CP_ACP, 0, text, -1, reinterpret_cast<wchar_t*>(out), int(capacity));
    if (n <= 0) {
        // Too long for out: convert what fits.
        int need = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
        if (need <= 0) return 0;
        auto* all = static_cast<wchar_t*>(RuntimeAllocate(size_t(need) * sizeof(wchar_t)));
        if (!all) return 0;
        MultiByteToWideChar(CP_ACP, 0, text, -1, all, need);
        std::memcpy(out, all, (capacity - 1) * sizeof(char16_t));
        out[capacity - 1] = 0;
        RuntimeFree(all);
        return capacity - 1;
    }
    return size_t(n - 1);
}

} // namespace json_system
