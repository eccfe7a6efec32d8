#include "runtime/environment.h"
#include "runtime/strings.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

namespace fs = std::filesystem;

std::u16string S(const char16_t* text) {
    return text ? std::u16string(text) : std::u16string();
}

TEST(PathPart, KeepsTheFolderWithItsSeparator) {
    ScratchMark mark;
    struct Case {
        const char16_t* path;
        const char16_t* part;
    } cases[] = {
        {u"C:\\Tools\\morlett.exe", u"C:\\Tools\\"},
        {u"\"C:\\Program Files\\m.exe\"", u"C:\\Program Files\\"},
        {u"C:\\a\\b|c\\d", u"C:\\a\\"},
        {u"/usr/bin/x", u"/usr/bin/"},
        {u"C:\\mixed/dir\\", u"C:\\mixed/dir\\"},
        {u"morlett.exe", u""},
        {u"", u""},
        {nullptr, u""},
    };
    for (const Case& c : cases) EXPECT_EQ(S(PathPart(c.path)), S(c.part)) << Utf8(c.path);
}

struct LineCase {
    const char16_t* line;
    int64_t count;
    std::vector<std::u16string> parameters;
};

const LineCase kLines[] = {
    {u"morlett.exe /silent \"a b\" c\"d e\"f", 3, {u"/silent", u"a b", u"cd ef"}},
    {u"\"C:\\x y\\morlett.exe\" /SILENT", 1, {u"/SILENT"}},
    {u"m.exe   ", 0, {}},
    {u"m.exe \"\"", 1, {u""}},
    {u"m.exe \"ab\"cd", 2, {u"ab", u"cd"}},
    {u"m.exe a\tb", 1, {u"a\tb"}},
    {u"m.exe \"open", 1, {u"open"}},
    {u"m.exe \"", 1, {u""}},
    {u"m.exe a\\\"b c\"", 1, {u"a\\b c"}},
    {u"", -1, {}},
    {u"m.exe", 0, {}},
};

// Each thread has its own cursor, so every line is walked on a fresh thread.
std::vector<std::u16string> WalkParameters() {
    std::vector<std::u16string> out;
    std::thread([&] {
        for (int64_t i = ParameterCount(); i > 0; --i) out.push_back(S(NextParameter()));
        EXPECT_EQ(S(NextParameter()), u"") << "past the end";
        EXPECT_EQ(S(NextParameter()), u"");
    }).join();
    return out;
}

TEST(CommandLine, SplitsParametersByTheRuntimeRules) {
    for (const LineCase& c : kLines) {
        EnvironmentUseCommandLine(c.line);
        EXPECT_EQ(ParameterCount(), c.count) << Utf8(c.line);
        EXPECT_EQ(WalkParameters(), c.parameters) << Utf8(c.line);
    }
    EnvironmentUseCommandLine(nullptr);
}

TEST(CommandLine, CursorIsPerThread) {
    EnvironmentUseCommandLine(u"m.exe one two");
    std::thread([] {
        EXPECT_EQ(S(NextParameter()), u"one");
        std::thread([] { EXPECT_EQ(S(NextParameter()), u"one"); }).join();
        EXPECT_EQ(S(NextParameter()), u"two");
    }).join();
    EnvironmentUseCommandLine(nullptr);
}

#ifdef _WIN32
// The real thing: a child started with a crafted command line reads its own parameters.
std::string RunChildWithLine(const std::wstring& tail) {
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring line = L"\"" + std::wstring(exe) + L"\" " + tail;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd, writeEnd;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return "pipe failed";
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION process{};
    SetEnvironmentVariableW(L"MORLETT_PRINT_PARAMETERS", L"1");
    BOOL started = CreateProcessW(exe, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                  &startup, &process);
    SetEnvironmentVariableW(L"MORLETT_PRINT_PARAMETERS", nullptr);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        return "start failed";
    }
    std::string out;
    char chunk[512];
    DWORD n;
    while (ReadFile(readEnd, chunk, sizeof chunk, &n, nullptr) && n) out.append(chunk, n);
    WaitForSingleObject(process.hProcess, 30000);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    CloseHandle(readEnd);
    std::string clean;
    for (char c : out)
        if (c != '\r') clean += c;
    return clean;
}

TEST(CommandLine, ChildProcessSeesItsOwnLine) {
    EXPECT_EQ(RunChildWithLine(L"/silent \"a b\" c\"d e\"f"), "3\n[/silent]\n[a b]\n[cd ef]\n");
    EXPECT_EQ(RunChildWithLine(L"\"\"   "), "1\n");
}
#endif

class FileSize : public testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("morlett-size-" + std::to_string(reinterpret_cast<uintptr_t>(this)));
        fs::create_directories(dir_ / "folder");
        std::ofstream(dir_ / "empty.txt");
        std::ofstream(dir_ / "five.txt", std::ios::binary) << "12345";
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::u16string Path(const char* name) const { return (dir_ / name).u16string(); }
    fs::path dir_;
};

TEST_F(FileSize, ReportsSizesMissingFilesAndFolders) {
    std::u16string sep = fs::path("/").make_preferred().u16string();
    struct Case {
        std::u16string name;
        int64_t size;
    } cases[] = {
        {Path("missing.txt"), -1},
        {Path("empty.txt"), 0},
        {Path("five.txt"), 5},
        {Path("folder"), -2},
        {Path("folder") + sep, -2},
        {Path("folder") + sep + sep, -2},
        {u"", -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FileSizeOf(c.name.c_str()), c.size) << fs::path(c.name).string();
    EXPECT_EQ(FileSizeOf(nullptr), -1);

    // A name too long for the path buffer is missing: cut short, this one would name the
    // folder around five.txt.
    std::u16string longName = Path("");
    while (longName.size() < 300) longName += u"." + sep;
    longName += u"five.txt";
    EXPECT_EQ(FileSizeOf(longName.c_str()), -1);
#ifdef _WIN32
    EXPECT_EQ(FileSizeOf(u"C:"), -2);
    EXPECT_EQ(FileSizeOf(u"C:\\"), -2);
    EXPECT_EQ(FileSizeOf(u"Q:"), -1) << "no such drive";
    EXPECT_EQ(FileSizeOf(u".."), -2);
#endif
}

TEST(ShellRun, ReportsWhetherTheProgramStarted) {
#ifdef _WIN32
    // A windowless program that ends at once and, having no console, holds none of our
    // output handles open after we have finished.
    const char16_t* program = u"rundll32.exe";
    const char16_t* parameters = u"";
#else
    const char16_t* program = u"true";
    const char16_t* parameters = u"";
#endif
    EXPECT_GT(ShellRun(program, parameters, u"", u"open"), 32);
    EXPECT_GT(ShellRun(program, nullptr, nullptr, nullptr), 32) << "null reads as empty";
    EXPECT_LE(ShellRun(u"no-such-program-here.exe", u"", u"", u"open"), 32);
    EXPECT_LE(ShellRun(u"", u"", u"", u""), 32) << "nothing to start";
}

TEST(ProcessPaths, ProgramPathAndWorkingDirectory) {
    ScratchMark mark;
    std::u16string program = S(ProgramPath());
    ASSERT_FALSE(program.empty());
    EXPECT_NE(program.rfind(u"runtime_tests"), std::u16string::npos);
    EXPECT_GT(FileSizeOf(program.c_str()), 0);
    std::u16string folder = S(PathPart(program.c_str()));
    ASSERT_FALSE(folder.empty());

    fs::path before = fs::current_path();
    ASSERT_NE(SetWorkingDirectory(folder.c_str()), 0) << "a trailing separator is accepted";
    // Relative names now resolve in the program's folder.
    std::u16string bare = program.substr(folder.size());
    EXPECT_EQ(FileSizeOf(bare.c_str()), FileSizeOf(program.c_str()));
    EXPECT_EQ(SetWorkingDirectory(nullptr), 0);
    EXPECT_EQ(SetWorkingDirectory(u"/no/such/folder/here"), 0);
    fs::current_path(before);
}

} // namespace
