// POSIX stand-ins for the file calls, so that the library can be tested natively.
#include "json_system.h"

#include "runtime/heap.h"
#include "runtime/utf8.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace json_system {

namespace {

char16_t* Copy16(const char16_t* text, const char16_t* suffix) {
    size_t a = 0, b = 0;
    while (text[a]) ++a;
    while (suffix[b]) ++b;
    auto* out = static_cast<char16_t*>(RuntimeAllocate((a + b + 1) * sizeof(char16_t)));
    if (!out) return nullptr;
    std::memcpy(out, text, a * sizeof(char16_t));
    std::memcpy(out + a, suffix, b * sizeof(char16_t));
    return out;
}

int FileOf(void* file) {
    return int(reinterpret_cast<intptr_t>(file)) - 1;
}

} // namespace

bool ReadWholeFile(const char16_t* name, uint64_t limit, uint8_t** bytes, size_t* size) {
    *bytes = nullptr;
    *size = 0;
    int fd = open(Utf16ToUtf8(name).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info;
    bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && uint64_t(info.st_size) <= limit;
    size_t length = ok ? size_t(info.st_size) : 0;
    uint8_t* block = nullptr;
    if (ok && length) {
        block = static_cast<uint8_t*>(RuntimeAllocate(length));
        ok = block != nullptr;
        size_t done = 0;
        while (ok && done < length) {
            ssize_t n = read(fd, block + done, length - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0)
                ok = false;
            else
                done += size_t(n);
        }
    }
    close(fd);
    if (!ok) {
        RuntimeFree(block);
        return false;
    }
    *bytes = block;
    *size = length;
    return true;
}

void* CreateTemporary(const char16_t* name, char16_t** temporary) {
    *temporary = Copy16(name, u".tmp");
    if (!*temporary) return nullptr;
    int fd = open(Utf16ToUtf8(*temporary).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        RuntimeFree(*temporary);
        *temporary = nullptr;
        return nullptr;
    }
    return reinterpret_cast<void*>(intptr_t(fd) + 1);
}

bool WriteBlock(void* file, const void* data, uint32_t size, uint32_t* written) {
    *written = 0;
    while (*written < size) {
        ssize_t n = write(FileOf(file), static_cast<const char*>(data) + *written, size - *written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        *written += uint32_t(n);
    }
    return true;
}

bool CommitTemporary(void* file, const char16_t* temporary, const char16_t* name) {
    std::string from = Utf16ToUtf8(temporary);
    bool ok = fsync(FileOf(file)) == 0;
    ok = close(FileOf(file)) == 0 && ok;
    ok = ok && rename(from.c_str(), Utf16ToUtf8(name).c_str()) == 0;
    if (!ok) unlink(from.c_str());
    return ok;
}

void DiscardTemporary(void* file, const char16_t* temporary) {
    close(FileOf(file));
    unlink(Utf16ToUtf8(temporary).c_str());
}

size_t CodePageToUtf16(const char* text, char16_t* out, size_t capacity) {
    size_t n = 0;
    for (; text && text[n] && n + 1 < capacity; ++n) out[n] = static_cast<unsigned char>(text[n]);
    if (capacity) out[n] = 0;
    return n;
}

} // namespace json_system
