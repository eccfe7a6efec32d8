#!/usr/bin/env python3
"""End-to-end tests of morlett.exe under Wine: started, clicked and listened to.

    python3 e2e/e2e.py --build BUILD_DIR --group startup|watcher|menu [--only NAME ...]

Needs a running test environment (scripts/winenv.sh): e2e/e2e.sh provides one.
"""

import argparse
import json
import os
import re
import shutil
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from driver import (Environment, Failure, Program, Recorder, check, click_menu_item,  # noqa
                    click_tray, menu_check_marks, menu_gone, run_tests, tray_window,
                    visible_menu, wait_until, windows_path, xdotool)

ENV = None

DEFAULT_FILE = (b'{\r\n  "forceOff"  : 0,\r\n  "runAsAdmin": 0,\r\n  "beeptime"  : 3000\r\n}')
FLOOR_FILE = (b'{\r\n  "forceOff"  : 0,\r\n  "runAsAdmin": 0,\r\n  "beeptime"  : 50\r\n}')

# Under load a start can take a few seconds before its first sound.
START_S = 12


def names(sounds):
    return [s.label() for s in sounds]


def settings(folder):
    path = os.path.join(folder, "morlett.json")
    if not os.path.isfile(path):
        return None
    with open(path, "rb") as f:
        return f.read()


def write_settings(folder, text):
    with open(os.path.join(folder, "morlett.json"), "w") as f:
        f.write(text)


def values(folder):
    data = settings(folder)
    check(data is not None, "no settings file")
    v = json.loads(data.decode())
    return v.get("beeptime"), v.get("forceOff"), v.get("runAsAdmin")


def instance_free():
    """Waits until no instance holds the mutex: Wine lets go of an ended program's objects
    a moment after its process is gone, and a start before that is refused."""
    check(wait_until(lambda: ENV.probe.ask("mutex Quenlor_morlett") == "none", 10, 0.1),
          "an earlier instance still holds the mutex")


class Session:
    """One program run with its recording; always ends the program and the recorder."""

    def __init__(self, name, args=(), setup=None, cwd=None):
        self.folder = ENV.folder(name)
        if setup:
            setup(self.folder)
        instance_free()
        self.recorder = Recorder(ENV, os.path.join(self.folder, "recording.wav"))
        self.program = Program(ENV, self.folder, args, cwd)
        self.sounds = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.program.end()
        if self.sounds is None:
            self.recorder.stop()
        return False

    def heard_so_far(self):
        """Sounds recorded up to now (the recording goes on)."""
        import analyse
        return analyse.analyse(self.recorder.path)

    def wait_for_sounds(self, count, timeout):
        return wait_until(lambda: len(self.heard_so_far()) >= count, timeout, 0.3)

    def finish(self, settle=0.8):
        time.sleep(settle)
        self.sounds = self.recorder.stop()
        print("  heard: " + ", ".join(repr(s) for s in self.sounds), flush=True)
        return self.sounds


# ---- Start-up ------------------------------------------------------------------------------

def test_defaults_without_a_settings_file():
    with Session("defaults") as s:
        check(s.wait_for_sounds(2, START_S), "the start-up sounds did not come")
        time.sleep(1.0)
        check(settings(s.folder) is None, "a file was written at start-up")
        sounds = s.finish()
    check(names(sounds) == ["OnChime", "ReleaseChime"], "heard %s" % names(sounds))


def test_silent_only_for_the_whole_line():
    cases = [
        (["/silent"], True), (["/SILENT"], True), (["/Silent"], True),
        (["/silent", "x"], False), (["x", "/silent"], False), (["-silent"], False),
    ]
    for args, silent in cases:
        with Session("silent", args) as s:
            check(s.wait_for_sounds(1 if silent else 2, START_S), "%s: no sound" % args)
            sounds = s.finish(1.0)
        want = ["ReleaseChime"] if silent else ["OnChime", "ReleaseChime"]
        check(names(sounds) == want, "%s: heard %s" % (args, names(sounds)))


def test_silent_in_quotes():
    # wine passes its arguments on quoted only when they need it; the probe starts the
    # program with a command line of our own.
    folder = ENV.folder("quoted")
    instance_free()
    recorder = Recorder(ENV, os.path.join(folder, "recording.wav"))
    exe = windows_path(os.path.join(folder, "morlett.exe"))
    try:
        answer = ENV.probe.ask('start "\\"%s\\" \\"/silent\\""' % exe)
        check(answer.startswith("started"), "the probe could not start it: %s" % answer)
        time.sleep(4)
    finally:
        from driver import processes_of, end_pid
        for pid in processes_of(folder, ENV.prefix):
            end_pid(pid)
        sounds = recorder.stop()
    check(names(sounds) == ["ReleaseChime"], "heard %s" % names(sounds))


def test_second_start_is_refused():
    with Session("second", ["/silent"]) as first:
        check(first.wait_for_sounds(1, START_S), "the first instance made no sound")
        heard = len(first.heard_so_far())
        second = Program(ENV, first.folder, ["/silent"])
        try:
            box = ENV.probe.wait_window("Morlett", START_S, "Already running.")
            check(box, "no \"Already running.\" box titled \"Morlett\"")
            time.sleep(0.5)
            check(ENV.probe.ask('click "Morlett" "OK"') == "clicked", "no OK button")
            code = second.wait(10)
            check(code == 0, "the second instance ended with %r" % code)
        finally:
            second.end(copies=False)
        check(first.program.running(), "the first instance ended too")
        sounds = first.finish(0.5)
    check(len(sounds) == heard, "the second start made a sound: %s" % names(sounds))


def test_speed_floor_rewrites_the_file_before_the_chime():
    def setup(folder):
        write_settings(folder, '{"beeptime": 20, "colour": "red", "list": [1, 2]}')
    with Session("floor", setup=setup) as s:
        check(s.wait_for_sounds(1, START_S), "no start-up chime")
        data = settings(s.folder)
        written = os.path.getmtime(os.path.join(s.folder, "morlett.json"))
        sounds = s.finish(0.3)
    check(data == FLOOR_FILE, "the file reads %r" % data)
    chime = s.recorder.started + sounds[0].at
    check(written < chime, "the file was written %.3f s after the chime began" % (written - chime))


def test_a_folder_named_like_the_file_is_no_file():
    def setup(folder):
        os.mkdir(os.path.join(folder, "morlett.json"))
    with Session("folder", setup=setup) as s:
        check(s.wait_for_sounds(2, START_S), "the start-up sounds did not come")
        sounds = s.finish(0.3)
        check(os.path.isdir(os.path.join(s.folder, "morlett.json")), "the folder is gone")
    check(names(sounds) == ["OnChime", "ReleaseChime"], "heard %s" % names(sounds))


def test_the_file_beside_the_program_from_another_folder():
    elsewhere = ENV.folder("elsewhere-cwd")
    os.remove(os.path.join(elsewhere, "morlett.exe"))
    write_settings(elsewhere, '{"beeptime": 20}')

    def setup(folder):
        write_settings(folder, '{"beeptime": 10}')
    with Session("beside", setup=setup, cwd=elsewhere) as s:
        check(s.wait_for_sounds(1, START_S), "no start-up chime")
        s.finish(0.3)
        check(settings(s.folder) == FLOOR_FILE, "the file beside the program was not used")
    check(settings(elsewhere) == b'{"beeptime": 20}', "the file in the current folder changed")


def test_an_elevated_start_with_run_as_admin_runs_on():
    # Wine's processes are elevated: the relaunch at start-up is not taken.
    check(ENV.probe.ask("elevated") == "1", "Wine's processes are not elevated here")

    def setup(folder):
        write_settings(folder, '{"runAsAdmin": 1}')
    with Session("elevated", setup=setup) as s:
        check(s.wait_for_sounds(2, START_S), "the start-up sounds did not come")
        time.sleep(0.5)
        check(s.program.running(), "the program ended")
        from driver import processes_of
        check(processes_of(s.folder, ENV.prefix) == [s.program.pid], "a second copy runs")
        sounds = s.finish(0.3)
    check(names(sounds) == ["OnChime", "ReleaseChime"], "heard %s" % names(sounds))


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


def test_one_gui_program_with_manifest_and_version():
    import subprocess
    dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", ENV.exe], capture_output=True,
                          text=True, timeout=60).stdout
    check("(Windows GUI)" in dump, "not a GUI program")
    imports, dll = {}, None
    for line in dump.splitlines():
        if "DLL Name:" in line:
            dll = line.split()[-1].lower()
            imports[dll] = set()
        elif dll and re.match(r"^\s+[0-9a-f]+\s+\d+\s+\S+\s*$", line):
            imports[dll].add(line.split()[-1])
    check(imports and set(imports) <= set(ALLOWED_IMPORTS),
          "needs DLLs beyond the system's: %s" % (set(imports) - set(ALLOWED_IMPORTS)))
    beyond = {dll: sorted(names - ALLOWED_IMPORTS[dll]) for dll, names in imports.items()
              if names - ALLOWED_IMPORTS[dll]}
    check(not beyond, "imports not on the Vista list: %s" % beyond)
    answer = ENV.probe.ask('resources "%s"' % windows_path(ENV.exe)).split()
    found = dict(zip(answer[::2], (int(v) for v in answer[1::2])))
    check(found.get("manifest", 0) > 0 and found.get("version", 0) > 0, "resources: %s" % answer)
    check(found.get("icons") == 0, "the program carries an icon: %s" % answer)
    with open(ENV.exe, "rb") as f:
        image = f.read()
    for text in (b'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"',
                 b'level="asInvoker"', b"e2011457-1546-43c5-a5fe-008deee3d3f0",
                 b"8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"):
        check(text in image, "the manifest lacks %s" % text.decode())
    check(image.count(b"<supportedOS ") == 5, "the manifest does not list Vista to 10")


def test_a_planted_dll_is_not_loaded():
    # The audio library loads these by name; beside a downloaded program they could be
    # anyone's. A plain program that loads "avrt.dll" by name does pick the planted one.
    planted = os.path.join(ENV.build, "e2e", "planted.dll")

    def setup(folder):
        for name in ("avrt.dll", "dsound.dll", "winmm.dll", "msimg32.dll", "dwmapi.dll"):
            shutil.copy(planted, os.path.join(folder, name))
    with Session("planted", setup=setup) as s:
        check(s.wait_for_sounds(2, START_S), "the start-up sounds did not come")
        time.sleep(0.5)
        choose(EXIT, 3)
        check(s.program.wait(10) == 0, "exit did not end it")
        s.finish(0.3)
        check(not os.path.exists(os.path.join(s.folder, "planted-dll-loaded")),
              "the program loaded a DLL from its own folder")


# ---- The watcher ---------------------------------------------------------------------------

def caps(state):
    answer = ENV.probe.ask("set-caps " + state)
    check(answer.startswith(state), "Caps Lock did not go %s: %s" % (state, answer))


def test_warnings_while_caps_lock_is_on():
    caps("off")

    def setup(folder):
        write_settings(folder, '{"beeptime": 500}')
    with Session("warnings", ["/silent"], setup) as s:
        check(s.wait_for_sounds(1, START_S), "no release chime at start")
        time.sleep(0.5)
        on_at = s.recorder.now()
        caps("on")
        time.sleep(2.3)
        off_at = s.recorder.now()
        caps("off")
        sounds = s.finish(1.2)
    check(sounds and sounds[0].name == "ReleaseChime", "heard %s" % names(sounds))
    rest = sounds[1:]
    warnings = [x for x in rest if x.name == "WarningBeep"]
    check(names(rest) == ["WarningBeep"] * len(warnings) + ["ReleaseChime"],
          "after the start: %s" % names(rest))
    check(len(warnings) >= 4, "only %d warnings in %.1f s" % (len(warnings), off_at - on_at))
    # Onsets reach the recording 15-80 ms after the play; the first pass that sees Caps Lock
    # on warns.
    check(warnings[0].at - on_at < 0.25, "the first warning came %.3f s late"
          % (warnings[0].at - on_at))
    check(warnings[-1].at < off_at + 0.1, "a warning after Caps Lock went off")
    # A sound that the output stalled on (a gap inside it, or frames lost) starts late in
    # the recording through no fault of the program: intervals next to one are shown, not
    # judged. The rest must keep the speed, and so must the run as a whole.
    disturbed = [w.span - w.duration > 1.0 or abs(w.duration - 127.8) > 3.0 for w in warnings]
    gaps = [b.at - a.at for a, b in zip(warnings, warnings[1:])]
    clean = [g for g, d1, d2 in zip(gaps, disturbed, disturbed[1:]) if not d1 and not d2]
    print("  intervals: " + ", ".join("%.0f ms%s" % (g * 1000, "" if not (d1 or d2) else " (stalled)")
                                      for g, d1, d2 in zip(gaps, disturbed, disturbed[1:])))
    check(len(clean) >= 2, "too few undisturbed intervals: %s" % gaps)
    check(all(abs(g - 0.5) <= 0.06 for g in clean), "intervals %s" % gaps)
    average = (warnings[-1].at - warnings[0].at) / (len(warnings) - 1)
    check(abs(average - 0.5) <= 0.02, "%.0f ms between warnings on average" % (average * 1000))


def test_force_off():
    caps("off")

    def setup(folder):
        write_settings(folder, '{"forceOff": 1, "beeptime": 500}')
    with Session("forceoff", ["/silent"], setup) as s:
        check(s.wait_for_sounds(1, START_S), "no release chime at start")
        time.sleep(0.5)
        mark = s.recorder.now()
        results = []
        for _ in range(5):
            results.append(ENV.probe.ask("press-and-watch 1000"))
            time.sleep(0.3)
        sounds = s.finish(1.0)
    print("  " + "; ".join(results))
    seen = 0
    for r in results:
        parts = r.split()
        check(len(parts) == 4 and parts[0] == "seen-on", "probe: %s" % r)
        seen_on, off_at = int(parts[1]), int(parts[3])
        # The program may switch it off before the probe's first look; then it was never
        # seen on, which alone proves nothing, so most presses must be seen on and off.
        if seen_on >= 0:
            seen += 1
            check(0 <= off_at <= 50, "Caps Lock went off after %s ms" % off_at)
    check(seen >= 3, "Caps Lock was seen on only %d times of 5" % seen)
    later = [x for x in sounds if x.at >= mark]
    check(not later, "sounds while forcing off: %s" % names(later))
    check(ENV.probe.ask("caps") == "off", "Caps Lock stayed on")


# ---- The menu ------------------------------------------------------------------------------

FORCE, SPEED, ADMIN, EXIT = range(4)


def open_menu(button=3):
    click_tray(button)
    menu = visible_menu(5)
    check(menu, "the menu did not open")
    time.sleep(0.2)
    return menu


def choose(item, button=3, marks=None):
    """Opens the menu, checks its marks (forceOff, runAsAdmin) when given, picks item."""
    menu = open_menu(button)
    if marks is not None:
        got = menu_check_marks(menu)
        check(got == [marks[0], False, marks[1], False], "check marks %s, want %s" % (got, marks))
    click_menu_item(menu, item)
    check(menu_gone(5), "the menu stayed open")


def test_force_off_switch_twice():
    with Session("menu-force", ["/silent"]) as s:
        check(s.wait_for_sounds(1, START_S), "no release chime at start")
        time.sleep(0.5)
        choose(FORCE, marks=(False, False))
        check(wait_until(lambda: settings(s.folder), 5), "no file after the first switch")
        check(values(s.folder) == (3000, 1, 0), "first: %s" % (values(s.folder),))
        os.remove(os.path.join(s.folder, "morlett.json"))
        time.sleep(0.6)
        choose(FORCE, 1, marks=(True, False))
        check(wait_until(lambda: settings(s.folder), 5), "no file after the second switch")
        check(settings(s.folder) == DEFAULT_FILE, "second: %r" % settings(s.folder))
        sounds = s.finish(0.8)
    check(names(sounds) == ["ReleaseChime", "OnChime x2", "OffChime x2"], "heard %s" % names(sounds))
    for x in sounds[1:]:
        check(abs(x.duration - 86.7) < 15, "%s lasted %.1f ms" % (x.label(), x.duration))


def test_hand_edited_switch_values_turn_off():
    def setup(folder):
        write_settings(folder, '{"forceOff": 2, "runAsAdmin": 3}')
    with Session("menu-hand-edited", ["/silent"], setup) as s:
        check(s.wait_for_sounds(1, START_S), "no release chime at start")
        time.sleep(0.5)
        choose(FORCE, marks=(True, True))
        check(wait_until(lambda: settings(s.folder) and values(s.folder)[1] == 0, 5),
              "forceOff 2 did not turn off: %s" % (values(s.folder),))
        time.sleep(0.6)
        choose(ADMIN, 1, marks=(False, True))
        check(ENV.probe.wait_window("Restart required.", 8), "no restart question")
        check(values(s.folder) == (3000, 0, 0), "runAsAdmin 3 did not turn off")
        check(ENV.probe.ask('click "Restart required." "No"') == "clicked", "no No button")
        check(ENV.probe.ask('wait-gone "Restart required." 5000').startswith("gone"), "box stayed")
        sounds = s.finish(0.5)
    check(names(sounds) == ["ReleaseChime", "OffChime x2", "OffChime x1.5"],
          "heard %s" % names(sounds))


def enter_speed(folder, text, expect, first=False, typed=False):
    """Chooses the speed item and answers the dialog: text None presses Escape; typed
    types the text on the keyboard and presses Enter; otherwise the probe fills the field
    and presses OK."""
    path = os.path.join(folder, "morlett.json")
    if os.path.exists(path):
        os.remove(path)
    choose(SPEED, 1)
    box = ENV.probe.wait_window("Morlett", 8)
    check(box, "no speed dialog")
    if first:
        check("3000" in box[1], "the dialog does not start with 3000: %s" % box[1])
    time.sleep(0.3)
    if text is None:
        xdotool("key", "Escape")
    elif typed:
        # The caret stands after the current value: erase it, type, Enter.
        xdotool("key", "--repeat", "8", "BackSpace")
        xdotool("type", "--delay", "30", text)
        xdotool("key", "Return")
    else:
        check(ENV.probe.ask('set-text "Morlett" "%s"' % text) == "set", "no edit field")
        check(ENV.probe.ask('click "Morlett" "OK"') == "clicked", "no OK button")
    check(ENV.probe.ask('wait-gone "Morlett" 5000').startswith("gone"), "the dialog stayed")
    check(wait_until(lambda: settings(folder), 5), "%r: no file written" % text)
    got = values(folder)[0]
    check(got == expect, "%r stored %r, not %r" % (text, got, expect))


def test_speed_dialog():
    with Session("menu-speed", ["/silent"]) as s:
        check(s.wait_for_sounds(1, START_S), "no release chime at start")
        time.sleep(0.5)
        enter_speed(s.folder, "250", 250, first=True, typed=True)
        for text, expect in [("10", 50), ("0", 50), ("-5", 50), ("", 50), ("letters", 50),
                             (" 300ms", 300), ("$100", 256), ("%101", 50), ("700", 700)]:
            enter_speed(s.folder, text, expect)
        enter_speed(s.folder, None, 50)
        sounds = s.finish(0.3)
    check(names(sounds) == ["ReleaseChime"], "the dialog made sounds: %s" % names(sounds))


def test_run_as_admin_no_keeps_running():
    with Session("menu-admin-no", ["/silent"]) as s:
        check(s.wait_for_sounds(1, START_S), "no release chime at start")
        time.sleep(0.5)
        choose(ADMIN, marks=(False, False))
        box = ENV.probe.wait_window("Restart required.", 8, "Should Morlett restart right now?")
        check(box, "no restart question")
        check(values(s.folder) == (3000, 0, 1), "saved before the answer: %s" % (values(s.folder),))
        check(ENV.probe.ask('click "Restart required." "No"') == "clicked", "no No button")
        check(ENV.probe.ask('wait-gone "Restart required." 5000').startswith("gone"), "box stayed")
        time.sleep(1.0)
        check(s.program.running(), "the program ended after No")
        menu = open_menu()
        check(menu_check_marks(menu) == [False, False, True, False], "run-as-admin not marked")
        xdotool("key", "Escape")
        check(menu_gone(5), "the menu stayed open")
        sounds = s.finish(0.3)
    check(names(sounds) == ["ReleaseChime", "OnChime x1.5"], "heard %s" % names(sounds))


def test_run_as_admin_yes_restarts():
    with Session("menu-admin-yes", ["/silent"]) as s:
        check(s.wait_for_sounds(1, START_S), "no release chime at start")
        time.sleep(0.5)
        choose(ADMIN)
        check(ENV.probe.wait_window("Restart required.", 8), "no restart question")
        check(ENV.probe.ask('click "Restart required." "Yes"') == "clicked", "no Yes button")
        # The icon goes before the goodbye chime; the new copy adds its own after its start.
        check(wait_until(lambda: not tray_window(0), 3, 0.02), "the tray icon stayed")
        code = s.program.wait(15)
        check(code == 0, "the first copy ended with %r" % code)
        # The new copy starts without "/silent": its start-up chime is heard.
        check(s.wait_for_sounds(5, START_S), "the new copy made no sound")
        from driver import processes_of
        copies = processes_of(s.folder, ENV.prefix)
        check(copies, "no new copy runs")
        sounds = s.finish(0.5)
    check(names(sounds)[:5] == ["ReleaseChime", "OnChime x1.5", "OffChime", "OnChime",
                                "ReleaseChime"], "heard %s" % names(sounds))
    check(abs(sounds[2].duration - 172) < 25, "the goodbye chime was cut: %.0f ms" % sounds[2].duration)


def test_run_as_admin_off_restarts_through_the_shell():
    def setup(folder):
        write_settings(folder, '{"runAsAdmin": 1}')
    with Session("menu-admin-off", ["/silent"], setup) as s:
        check(s.wait_for_sounds(1, START_S), "no release chime at start")
        time.sleep(0.5)
        choose(ADMIN, 1, marks=(False, True))
        check(ENV.probe.wait_window("Restart required.", 8), "no restart question")
        check(ENV.probe.ask('click "Restart required." "Yes"') == "clicked", "no Yes button")
        code = s.program.wait(15)
        check(code == 0, "the first copy ended with %r" % code)
        # explorer.exe opens the program: its start-up chime is heard.
        check(s.wait_for_sounds(4, START_S), "the new copy made no sound")
        from driver import processes_of
        check(processes_of(s.folder, ENV.prefix), "no new copy runs")
        check(values(s.folder) == (3000, 0, 0), "saved: %s" % (values(s.folder),))
        sounds = s.finish(0.5)
    check(names(sounds)[:4] == ["ReleaseChime", "OffChime x1.5", "OffChime", "OnChime"],
          "heard %s" % names(sounds))


def test_a_restart_that_cannot_start_keeps_running():
    with Session("menu-admin-fail", ["/silent"]) as s:
        check(s.wait_for_sounds(1, START_S), "no release chime at start")
        time.sleep(0.5)
        # The shell cannot find the program under its old name any more.
        os.rename(s.program.exe, os.path.join(s.folder, "renamed.exe"))
        choose(ADMIN)
        check(ENV.probe.wait_window("Restart required.", 8), "no restart question")
        check(ENV.probe.ask('click "Restart required." "Yes"') == "clicked", "no Yes button")
        check(s.program.wait(3) is None, "the program ended")
        check(wait_until(lambda: tray_window(0), 5), "the icon is not back")
        time.sleep(1.0)
        check(s.program.running(), "the program ended")
        check(ENV.probe.ask("mutex Quenlor_morlett") == "exists", "the instance is not held")
        choose(EXIT, 1)
        check(s.program.wait(10) == 0, "exit after the failed restart did not end it")
        sounds = s.finish(0.3)
    check(names(sounds) == ["ReleaseChime", "OnChime x1.5", "OffChime", "OffChime"],
          "heard %s" % names(sounds))


def test_a_confirmed_restart_says_goodbye_while_no_warning_plays():
    # The restart's goodbye, like exit's, has the watcher stopped: while the chime and its
    # half second for the device last, no warning starts, though Caps Lock is on and a
    # warning is due every 300 ms. The launch fails here, so the same copy stays and its
    # watcher carries on.
    caps("off")

    def setup(folder):
        write_settings(folder, '{"beeptime": 300}')
    with Session("menu-admin-warning", ["/silent"], setup) as s:
        check(s.wait_for_sounds(1, START_S), "no release chime at start")
        time.sleep(0.5)
        os.rename(s.program.exe, os.path.join(s.folder, "renamed.exe"))
        caps("on")
        choose(ADMIN)
        check(ENV.probe.wait_window("Restart required.", 8), "no restart question")
        time.sleep(0.8)
        yes_at = s.recorder.now()
        check(ENV.probe.ask('click "Restart required." "Yes"') == "clicked", "no Yes button")
        check(wait_until(lambda: tray_window(0), 5), "the icon is not back")
        time.sleep(1.5)
        off_at = s.recorder.now()
        caps("off")
        choose(EXIT, 1)
        check(s.program.wait(10) == 0, "exit after the failed restart did not end it")
        sounds = s.finish(0.3)
    goodbyes = [x for x in sounds if x.at > yes_at - 0.2 and x.label() == "OffChime"]
    check(len(goodbyes) == 2, "not a goodbye and an exit chime after Yes: %s" % names(sounds))
    # A warning that started before the click took effect may still show up early.
    during = [x for x in sounds if x.name == "WarningBeep" and yes_at + 0.3 < x.at < yes_at + 0.65]
    check(not during, "warnings during the goodbye: %s" % names(sounds))
    check(any(x.name == "WarningBeep" and yes_at + 0.65 < x.at < off_at for x in sounds),
          "the watcher did not carry on after the failed restart: %s" % names(sounds))


def test_exit():
    with Session("menu-exit", ["/silent"]) as s:
        check(s.wait_for_sounds(1, START_S), "no release chime at start")
        time.sleep(0.5)
        choose(EXIT, 1)
        code = s.program.wait(10)
        check(code == 0, "exit ended with %r" % code)
        check(wait_until(lambda: not tray_window(0), 3), "the tray icon stayed")
        sounds = s.finish(0.5)
    check(names(sounds) == ["ReleaseChime", "OffChime"], "heard %s" % names(sounds))
    check(abs(sounds[1].duration - 172) < 25, "the chime was cut: %.0f ms" % sounds[1].duration)


GROUPS = {
    "startup": [
        ("Startup.OneGuiProgramWithManifestAndVersion",
         test_one_gui_program_with_manifest_and_version),
        ("Startup.DefaultsWithoutASettingsFile", test_defaults_without_a_settings_file),
        ("Startup.SilentOnlyForTheWholeLine", test_silent_only_for_the_whole_line),
        ("Startup.SilentInQuotes", test_silent_in_quotes),
        ("Startup.SecondStartIsRefused", test_second_start_is_refused),
        ("Startup.SpeedFloorRewritesTheFile", test_speed_floor_rewrites_the_file_before_the_chime),
        ("Startup.AFolderNamedLikeTheFileIsNoFile", test_a_folder_named_like_the_file_is_no_file),
        ("Startup.TheFileBesideTheProgram", test_the_file_beside_the_program_from_another_folder),
        ("Startup.APlantedDllIsNotLoaded", test_a_planted_dll_is_not_loaded),
        ("Startup.AnElevatedStartWithRunAsAdminRunsOn",
         test_an_elevated_start_with_run_as_admin_runs_on),
    ],
    "watcher": [
        ("Watcher.WarningsWhileCapsLockIsOn", test_warnings_while_caps_lock_is_on),
        ("Watcher.ForceOff", test_force_off),
    ],
    "menu": [
        ("Menu.ForceOffSwitchTwice", test_force_off_switch_twice),
        ("Menu.HandEditedSwitchValuesTurnOff", test_hand_edited_switch_values_turn_off),
        ("Menu.SpeedDialog", test_speed_dialog),
        ("Menu.RunAsAdminNoKeepsRunning", test_run_as_admin_no_keeps_running),
        ("Menu.RunAsAdminYesRestarts", test_run_as_admin_yes_restarts),
        ("Menu.RunAsAdminOffRestartsThroughTheShell",
         test_run_as_admin_off_restarts_through_the_shell),
        ("Menu.ARestartThatCannotStartKeepsRunning",
         test_a_restart_that_cannot_start_keeps_running),
        ("Menu.AConfirmedRestartSaysGoodbyeWhileNoWarningPlays",
         test_a_confirmed_restart_says_goodbye_while_no_warning_plays),
        ("Menu.Exit", test_exit),
    ],
}


def main():
    global ENV
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--group", required=True, choices=sorted(GROUPS))
    parser.add_argument("--only", nargs="*")
    args = parser.parse_args()
    ENV = Environment(args.build)
    try:
        ENV.start_probe()
    except Failure as e:
        print("FAILURE: %s" % e)
        print("[  FAILED  ] 1 tests, listed below:")
        return 1
    try:
        return run_tests(GROUPS[args.group], args.only)
    finally:
        ENV.probe.ask("set-caps off") if ENV.probe else None
        ENV.stop_probe()


if __name__ == "__main__":
    sys.exit(main())
