"""morlett.exe started under Wine: its start-up sounds, command line, settings file, single
instance, the elevated start, and what the exe is made of."""

import os
import re
import shutil
import subprocess
import time

import pytest

from harness import morlett, tray
from harness.morlett import RELEASE, START_CHIME
from harness.process import end_pid, end_process, processes_of
from harness.session import START_S, labels
from harness.sound import Recorder
from harness.wine import Program, windows_path

STARTED = [START_CHIME, RELEASE]  # Caps Lock is off when the watcher starts


def write(folder, text):
    with open(os.path.join(folder, morlett.SETTINGS_FILE), "w") as f:
        f.write(text)


def test_defaults_without_a_settings_file(session):
    s = session("defaults")
    s.started(2)
    time.sleep(1.0)
    assert s.settings() is None, "a file was written at start-up"
    assert labels(s.finish()) == STARTED


SILENT_LINES = [
    (["/silent"], True), (["/SILENT"], True), (["/Silent"], True),
    (["/silent", "x"], False), (["x", "/silent"], False), (["-silent"], False),
]


@pytest.mark.parametrize("args, silent", SILENT_LINES, ids=[" ".join(a) for a, _ in SILENT_LINES])
def test_silent_only_for_the_whole_line(session, args, silent):
    s = session("silent", args)
    s.started(1 if silent else 2)
    assert labels(s.finish(1.0)) == ([RELEASE] if silent else STARTED)


def test_silent_in_quotes(env, probe):
    # wine passes its arguments on quoted only when they need it; the probe starts the
    # program with a command line of our own.
    folder = env.folder("quoted")
    shutil.copy2(env.exe, folder)
    probe.wait_instance_free()
    recorder = Recorder(env.sink)
    try:
        assert recorder.wait_ready()
        exe = windows_path(os.path.join(folder, morlett.EXE))
        answer = probe.ask('start "\\"%s\\" \\"%s\\""' % (exe, morlett.SILENT))
        assert answer.startswith("started"), "the probe could not start it: %s" % answer
        time.sleep(4)
    finally:
        for pid in processes_of(folder, env.prefix):
            end_pid(pid)
        recorder.stop()
    assert labels(recorder.sounds()) == [RELEASE]


def test_second_start_is_refused(env, probe, session):
    first = session("second", [morlett.SILENT])
    first.started()
    heard = len(first.heard())
    second = Program(env, "second", [morlett.SILENT], folder=first.folder)
    try:
        box = probe.wait_window(morlett.TITLE, START_S, morlett.ALREADY_RUNNING)
        assert box, "no %r box titled %r" % (morlett.ALREADY_RUNNING, morlett.TITLE)
        time.sleep(0.5)
        probe.click(morlett.TITLE, "OK")
        assert second.wait(10) == morlett.EXIT_CODE
    finally:
        end_process(second.process)  # not its folder's: the first instance runs from there
    assert first.program.running(), "the first instance ended too"
    sounds = first.finish(0.5)
    assert len(sounds) == heard, "the second start made a sound: %s" % labels(sounds)


def test_speed_floor_rewrites_the_file_before_the_chime(session):
    s = session("floor", settings='{"beeptime": 20, "colour": "red", "list": [1, 2]}')
    s.started()
    data = s.settings()
    written = os.path.getmtime(s.program.settings_path)
    sounds = s.finish(0.3)
    assert data == morlett.FLOOR_FILE
    assert written < sounds[0].at, "the file was written %.3f s after the chime began" % (
        written - sounds[0].at)


def test_a_folder_named_like_the_file_is_no_file(session):
    s = session("folder", prepare=lambda f: os.mkdir(os.path.join(f, morlett.SETTINGS_FILE)))
    s.started(2)
    sounds = s.finish(0.3)
    assert os.path.isdir(s.program.settings_path), "the folder is gone"
    assert labels(sounds) == STARTED


def test_the_file_beside_the_program_from_another_folder(env, session):
    elsewhere = env.folder("elsewhere-cwd")
    write(elsewhere, '{"beeptime": 20}')
    s = session("beside", settings='{"beeptime": 10}', cwd=elsewhere)
    s.started()
    s.finish(0.3)
    assert s.settings() == morlett.FLOOR_FILE, "the file beside the program was not used"
    with open(os.path.join(elsewhere, morlett.SETTINGS_FILE), "rb") as f:
        assert f.read() == b'{"beeptime": 20}', "the file in the current folder changed"


def test_an_elevated_start_with_run_as_admin_runs_on(env, probe, session):
    # Wine's processes are elevated: the relaunch at start-up is not taken.
    assert probe.ask("elevated") == "1", "Wine's processes are not elevated here"
    s = session("elevated", settings='{"runAsAdmin": 1}')
    s.started(2)
    time.sleep(0.5)
    assert s.program.running(), "the program ended"
    assert s.program.pids() == [s.program.pid], "a second copy runs"
    assert labels(s.finish(0.3)) == STARTED


# The loader takes these from the system folder whatever lies beside the program (known
# DLLs, and comctl32 through the manifest's side-by-side assembly); anything else imported
# statically, winmm for one, would be found beside the program first and is loaded at run
# time from the system folder instead. Every function imported statically is one that
# Windows Vista, the oldest system the manifest names, already has: a newer one would keep
# the program from starting there at all ("entry point not found"). Newer functions
# (SetDefaultDllDirectories, ChangeWindowMessageFilterEx, ...) are looked up at run time.
# A new import is added here once it is known to exist on Vista.
ALLOWED_IMPORTS = {
    "advapi32.dll": set("""
        GetTokenInformation OpenProcessToken
        RegCloseKey RegGetValueW RegOpenKeyExW RegQueryValueExW
    """.split()),
    "comctl32.dll": set("""
        InitCommonControlsEx
    """.split()),
    "gdi32.dll": set("""
        CreateBitmap CreateCompatibleDC CreateDIBSection CreateFontIndirectW
        CreateSolidBrush DeleteDC DeleteObject GdiFlush GetDIBits GetObjectType GetObjectW
        GetStockObject SelectObject
    """.split()),
    "kernel32.dll": set("""
        AcquireSRWLockExclusive AddVectoredExceptionHandler CloseHandle CreateEventA
        CreateFileA CreateFileW CreateMutexW CreateSemaphoreA CreateSemaphoreW CreateThread
        DeleteCriticalSection DeleteFileW DuplicateHandle EnterCriticalSection ExitProcess
        FindClose FindFirstFileW FlushFileBuffers FreeLibrary GetCommandLineW
        GetCurrentProcess GetCurrentProcessId GetCurrentThread GetCurrentThreadId
        GetDriveTypeW GetFileAttributesW GetFileInformationByHandle GetFileSize
        GetHandleInformation GetLastError GetModuleFileNameW GetModuleHandleW GetProcAddress
        GetProcessAffinityMask GetProcessHeap GetStartupInfoW GetSystemDirectoryW
        GetSystemTimeAsFileTime GetThreadContext GetThreadPriority GetTickCount
        GetTickCount64 HeapAlloc HeapCreate HeapDestroy HeapFree HeapReAlloc
        InitializeCriticalSection InitializeSRWLock IsDBCSLeadByteEx IsDebuggerPresent
        LeaveCriticalSection LoadLibraryA LoadLibraryExW LoadLibraryW MoveFileExW
        MultiByteToWideChar OpenProcess OutputDebugStringA QueryPerformanceCounter
        QueryPerformanceFrequency RaiseException ReadFile RegisterWaitForSingleObject
        ReleaseSRWLockExclusive ReleaseSemaphore RemoveVectoredExceptionHandler ResetEvent
        ResumeThread RtlCaptureContext RtlLookupFunctionEntry RtlUnwindEx RtlVirtualUnwind
        SetCurrentDirectoryW SetDllDirectoryW SetEvent SetLastError SetProcessAffinityMask
        SetThreadContext SetThreadPriority SetUnhandledExceptionFilter Sleep SuspendThread
        TlsAlloc TlsFree TlsGetValue TlsSetValue TryEnterCriticalSection UnregisterWait
        VirtualProtect VirtualQuery WaitForMultipleObjects WaitForSingleObject
        WideCharToMultiByte WriteFile __C_specific_handler
    """.split()),
    "msvcrt.dll": set("""
        ___lc_codepage_func ___mb_cur_max_func __iob_func __set_app_type __setusermatherr
        __wgetmainargs __winitenv _amsg_exit _beginthreadex _cexit _close _commode
        _endthreadex _errno _fmode _initterm _onexit _read _setjmp _strdup _ultoa _wcmdln
        _wfopen abort calloc exit fopen fprintf fputc free fwrite localeconv longjmp malloc
        memchr memcmp memcpy memmove memset printf realloc setlocale signal strcmp strerror
        strlen strncmp strncpy vfprintf wcslen
    """.split()),
    "ole32.dll": set("""
        CoInitialize OleInitialize OleUninitialize
    """.split()),
    "shell32.dll": set("""
        ShellExecuteW Shell_NotifyIconW
    """.split()),
    "user32.dll": set("""
        AdjustWindowRectEx AppendMenuW BringWindowToTop CallWindowProcW CharLowerBuffW
        CreateAcceleratorTableW CreateIconIndirect CreatePopupMenu CreateWindowExW
        DefWindowProcW DestroyAcceleratorTable DestroyIcon DestroyMenu DestroyWindow
        DispatchMessageW EnableWindow EnumChildWindows EnumWindows FillRect GetActiveWindow
        GetCursorPos GetFocus GetForegroundWindow GetKeyState GetMenuItemInfoW GetMessageW
        GetNextDlgTabItem GetParent GetPropW GetSystemMetrics GetWindow GetWindowLongPtrW
        GetWindowRect GetWindowTextLengthW GetWindowTextW GetWindowThreadProcessId
        IsDialogMessageW IsIconic IsWindow IsWindowEnabled IsWindowVisible IsZoomed
        KillTimer LoadCursorW LoadIconW MessageBoxW MsgWaitForMultipleObjects PeekMessageW
        PostMessageW PostQuitMessage RegisterClassExW RegisterClassW RegisterWindowMessageW
        RemovePropW SendInput SendMessageW SetActiveWindow SetFocus SetForegroundWindow
        SetMenu SetMenuItemInfoW SetPropW SetTimer SetWindowLongPtrW SetWindowPos ShowWindow
        SystemParametersInfoW TrackPopupMenu TranslateAcceleratorW TranslateMessage
        UnregisterClassW
    """.split()),
}

MANIFEST = (b'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"', b'level="asInvoker"',
            b"e2011457-1546-43c5-a5fe-008deee3d3f0", b"8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a")
SUPPORTED_SYSTEMS = 5  # Vista, 7, 8, 8.1, 10


def test_one_gui_program_with_manifest_and_version(env, probe):
    dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", env.exe], capture_output=True,
                          text=True, timeout=60).stdout
    assert "(Windows GUI)" in dump, "not a GUI program"
    imports, dll = {}, None
    for line in dump.splitlines():
        if "DLL Name:" in line:
            dll = line.split()[-1].lower()
            imports[dll] = set()
        elif dll and re.match(r"^\s+[0-9a-f]+\s+\d+\s+\S+\s*$", line):
            imports[dll].add(line.split()[-1])
    assert imports and set(imports) <= set(ALLOWED_IMPORTS), \
        "needs DLLs beyond the system's: %s" % (set(imports) - set(ALLOWED_IMPORTS))
    beyond = {dll: sorted(names - ALLOWED_IMPORTS[dll]) for dll, names in imports.items()
              if names - ALLOWED_IMPORTS[dll]}
    assert not beyond, "imports not on the Vista list: %s" % beyond
    answer = probe.ask('resources "%s"' % windows_path(env.exe)).split()
    found = dict(zip(answer[::2], (int(v) for v in answer[1::2])))
    assert found.get("manifest", 0) > 0 and found.get("version", 0) > 0, answer
    assert found.get("icons") == 0, "the program carries an icon: %s" % answer
    with open(env.exe, "rb") as f:
        image = f.read()
    for text in MANIFEST:
        assert text in image, "the manifest lacks %s" % text.decode()
    assert image.count(b"<supportedOS ") == SUPPORTED_SYSTEMS


def test_a_planted_dll_is_not_loaded(env, session):
    # The audio library loads these by name; beside a downloaded program they could be
    # anyone's. A plain program that loads "avrt.dll" by name does pick the planted one.
    planted = os.path.join(env.build, "e2e", "planted.dll")

    def plant(folder):
        for name in ("avrt.dll", "dsound.dll", "winmm.dll", "msimg32.dll", "dwmapi.dll"):
            shutil.copy(planted, os.path.join(folder, name))
    s = session("planted", prepare=plant)
    s.started(2)
    time.sleep(0.5)
    tray.choose(morlett.EXIT, 3)
    assert s.program.wait(10) == morlett.EXIT_CODE, "exit did not end it"
    s.finish(0.3)
    assert not os.path.exists(os.path.join(s.folder, "planted-dll-loaded")), \
        "the program loaded a DLL from its own folder"
