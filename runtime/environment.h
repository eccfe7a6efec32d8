// The process and its surroundings: program path, command-line parameters, current
// directory, file sizes and launching programs through the shell. Every operation may be
// called from any thread; text results are temporary strings of the calling thread
// (strings.h), and null texts read as empty unless said otherwise.
#pragma once

#include <cstdint>

// Full path of the running executable (without a "\\?\" prefix); a path longer than 259
// units comes back cut to 259.
const char16_t* ProgramPath();
// Directory part of path with its trailing separator ("\" or "/"), looking only at the text
// before the first "|" and skipping a leading double quote; empty when it has none.
const char16_t* PathPart(const char16_t* path);
// Number of command-line parameters, the program name excluded (-1 for an empty line).
int64_t ParameterCount();
// The calling thread's next parameter, quotes removed; empty when none is left (each
// thread walks the parameters on its own, from the first).
const char16_t* NextParameter();
// Makes path the current directory (a trailing separator is accepted). Nonzero on success,
// 0 on failure or for a null path.
[[nodiscard]] int SetWorkingDirectory(const char16_t* path);
// Size in bytes, -1 for a missing file (also for a null or empty name, and for a name
// longer than 259 units, which no path buffer holds), -2 for a directory or drive.
int64_t FileSizeOf(const char16_t* name);
// Starts a program through the shell (verb such as "open" or "runas"; empty texts are
// passed as empty texts). Returns the shell's result: greater than 32 means the launch
// succeeded; 32 or less is the shell's error code (2: file not found; 0: out of memory).
intptr_t ShellRun(const char16_t* file, const char16_t* parameters, const char16_t* directory,
                  const char16_t* verb);

// Starts the parameter library: registers the per-thread parameter cursor (start-up).
void ParameterLibraryInit();

// The command line that ParameterCount and NextParameter parse: the process's own, unless a
// test has handed one in (null restores the process's own).
void EnvironmentUseCommandLine(const char16_t* line);
