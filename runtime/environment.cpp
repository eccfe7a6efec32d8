#include "environment.h"

#include "platform.h"
#include "strings.h"
#include "threads.h"

namespace {

constexpr size_t kMaxPath = 260;
// The shell's own result for "out of memory or resources".
constexpr intptr_t kShellOutOfMemory = 0;

int64_t gCursorOffset = -1;
RuntimeString* gCommandLineOverride = nullptr;

const char16_t* CommandLineText() {
    if (gCommandLineOverride) return gCommandLineOverride->Text();
    const char16_t* line = platform::CommandLine();
    return line ? line : u"";
}

struct Token {
    const char16_t* start;
    size_t length;
};

// Finds token number index (0 is the program name). Returns the number of tokens seen when
// the line has fewer, or index + 1 when found. Only spaces separate tokens; a token that
// starts with a quote ends at the next quote (which is consumed), other tokens end at the
// next space outside quotes. Backslashes mean nothing.
int64_t ScanTokens(const char16_t* line, int64_t index, Token* found) {
    int64_t count = 0;
    const char16_t* p = line;
    for (;;) {
        while (*p == u' ') ++p;
        if (!*p) return count;
        Token token;
        if (*p == u'"') {
            token.start = ++p;
            while (*p && *p != u'"') ++p;
            token.length = size_t(p - token.start);
            if (*p == u'"') ++p;
        } else {
            token.start = p;
            bool quoted = false;
            while (*p && (quoted || *p != u' ')) {
                if (*p == u'"') quoted = !quoted;
                ++p;
            }
            token.length = size_t(p - token.start);
            if (*p == u' ') ++p;
        }
        if (count == index) {
            if (found) *found = token;
            return count + 1;
        }
        ++count;
    }
}

int64_t* ParameterCursor() {
    return gCursorOffset < 0 ? nullptr : static_cast<int64_t*>(ThreadLocalGet(gCursorOffset));
}

} // namespace

void ParameterLibraryInit() {
    if (gCursorOffset < 0) gCursorOffset = ThreadLocalRegister(sizeof(int64_t), nullptr, nullptr);
}

void EnvironmentUseCommandLine(const char16_t* line) {
    if (!line) {
        delete gCommandLineOverride;
        gCommandLineOverride = nullptr;
        return;
    }
    if (!gCommandLineOverride) gCommandLineOverride = new RuntimeString;
    (void)gCommandLineOverride->Assign(line);
}

const char16_t* ProgramPath() {
    char16_t buffer[kMaxPath];
    platform::ModuleFileName(buffer, kMaxPath);
    const char16_t* path = buffer;
    if (path[0] == u'\\' && path[1] == u'\\' && path[2] == u'?' && path[3] == u'\\') path += 4;
    return ScratchCopy(path);
}

const char16_t* PathPart(const char16_t* path) {
    if (!path) return ScratchCopy(u"");
    if (*path == u'"') ++path;
    size_t end = 0;
    for (size_t i = 0; path[i] && path[i] != u'|'; ++i)
        if (path[i] == u'\\' || path[i] == u'/') end = i + 1;
    return ScratchCopy(path, end);
}

int64_t ParameterCount() {
    return ScanTokens(CommandLineText(), INT64_MAX, nullptr) - 1;
}

const char16_t* NextParameter() {
    int64_t* cursor = ParameterCursor();
    int64_t index = cursor ? *cursor : 0;
    Token token;
    if (ScanTokens(CommandLineText(), index + 1, &token) != index + 2) return ScratchCopy(u"");
    if (cursor) ++*cursor;
    char16_t* out = ScratchReserve(token.length + 1);
    if (!out) return u"";
    size_t n = 0;
    for (size_t i = 0; i < token.length; ++i)
        if (token.start[i] != u'"') out[n++] = token.start[i];
    out[n] = 0;
    return out;
}

int SetWorkingDirectory(const char16_t* path) {
    if (!path) return 0;
    return platform::ChangeDirectory(path) ? 1 : 0;
}

int64_t FileSizeOf(const char16_t* name) {
    if (!name || !*name) return -1;
    char16_t buffer[kMaxPath];
    size_t length = 0;
    while (name[length]) {
        // A name that does not fit names nothing we can look at; cut short, it would name
        // some other file or folder.
        if (length == kMaxPath - 1) return -1;
        buffer[length] = name[length];
        ++length;
    }
    buffer[length] = 0;
    if ((length == 2 || length == 3) && buffer[1] == u':') {
        if (length == 2) {
            buffer[2] = u'\\';
            buffer[3] = 0;
        }
        return platform::DriveType(buffer) > 1 ? -2 : -1;
    }
    while (length > 0 && (buffer[length - 1] == u'\\' || buffer[length - 1] == u'/'))
        buffer[--length] = 0;
    if (length == 0) return -1;
    bool isDirectory = false;
    int64_t size = 0;
    if (platform::FindFirstEntry(buffer, &isDirectory, &size)) return isDirectory ? -2 : size;
    // Roots such as \\server\share and relative ".." are not found by a search.
    bool special = (buffer[0] == u'\\' && buffer[1] == u'\\') ||
                   (buffer[0] == u'/' && buffer[1] == u'/') ||
                   (buffer[0] == u'.' && buffer[1] == u'.');
    if (special) {
        if (platform::FileAttributes(buffer, &isDirectory)) return isDirectory ? -2 : -1;
        return platform::DriveType(buffer) < 2 ? -1 : -2;
    }
    return -1;
}

intptr_t ShellRun(const char16_t* file, const char16_t* parameters, const char16_t* directory,
                  const char16_t* verb) {
    // Own copies: the arguments may be temporaries that the next string operation moves.
    RuntimeString f, p, d, v;
    if (!f.Assign(file) || !p.Assign(parameters) || !d.Assign(directory) || !v.Assign(verb))
        return kShellOutOfMemory;
    return platform::ShellOpen(v.Text(), f.Text(), p.Text(), d.Text());
}
