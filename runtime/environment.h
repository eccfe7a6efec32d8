// The process and its surroundings: program path, command-line parameters, current
// directory, file sizes and launching programs through the shell.
#pragma once

#include <cstdint>

// Full path of the running executable (without a "\\?\" prefix). Temporary string.
const char16_t* ProgramPath();
// Directory part of path with its trailing separator; empty when it has none. Temporary.
const char16_t* PathPart(const char16_t* path);
// Number of command-line parameters, the program name excluded (-1 for an empty line).
int64_t ParameterCount();
// The calling thread's next parameter, quotes removed; empty when none is left.
const char16_t* NextParameter();
// Nonzero on success.
[[nodiscard]] int SetWorkingDirectory(const char16_t* path);
// Size in bytes, -1 for a missing file, -2 for a directory or drive.
int64_t FileSizeOf(const char16_t* name);
// Starts a program through the shell. Returns the shell's result: greater than 32 means
// the launch succeeded.
intptr_t ShellRun(const char16_t* file, const char16_t* parameters, const char16_t* directory,
                  const char16_t* verb);

void ParameterLibraryInit();

// The command line that ParameterCount and NextParameter parse: the process's own, unless a
// test has handed one in (null restores the process's own).
void EnvironmentUseCommandLine(const char16_t* line);
