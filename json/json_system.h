// The few system calls of the JSON library: whole-file reads, the replace-on-save of files
// and the system's single-byte code page. files_win.cpp implements them with Win32,
// files_posix.cpp with POSIX for the native tests.
#pragma once

#include "runtime/heap.h"
#include <cstddef>
#include <cstdint>

namespace json_system {

// Reads the whole file into a block from RuntimeAllocate (*bytes, *size; a 0-byte file
// gives a null block). False when the file cannot be opened or read in full, or is larger
// than limit bytes.
bool ReadWholeFile(const char16_t* name, uint64_t limit, uint8_t** bytes, size_t* size);

// Creates (or truncates) the temporary file beside name that a save writes first; its name
// goes to *temporary (from RuntimeAllocate). Null on failure.
void* CreateTemporary(const char16_t* name, char16_t** temporary);
// One write; the number of bytes written in *written.
bool WriteBlock(void* file, const void* data, uint32_t size, uint32_t* written);
// Flushes the temporary to disk, closes it and moves it into name's place. On failure the
// temporary is removed and name left as it was.
bool CommitTemporary(void* file, const char16_t* temporary, const char16_t* name);
// Closes and removes the temporary.
void DiscardTemporary(void* file, const char16_t* temporary);

// Converts single-byte text in the system code page (Windows: CP_ACP; elsewhere Latin-1)
// to UTF-16: at most capacity - 1 units and a terminator. Returns the units written.
size_t CodePageToUtf16(const char* text, char16_t* out, size_t capacity);

} // namespace json_system
