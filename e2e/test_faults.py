"""Fault runs of morlett.exe under Wine: no audio device, a read-only settings folder, broken
settings files, a save cut short, the shell's tray coming back."""

import os
import random
import subprocess
import time

import pytest

from harness import morlett, tray
from harness.morlett import EXIT, FORCE
from harness.process import check, wait_until
from harness.wine import Program

# A server address where nothing listens: the audio library finds no device at all.
NO_SOUND_SERVER = {"PULSE_SERVER": "unix:/nonexistent/morlett"}


@pytest.fixture
def start(env):
    """start(name, args=("/silent",), ...) -> Program without a recording; always ended."""
    started = []

    def launch(name, args=(morlett.SILENT,), **options):
        program = Program(env, name, args, **options)
        started.append(program)
        return program
    yield launch
    for program in started:
        program.end()


def alive_with_icon(program, seconds=12):
    check(wait_until(lambda: tray.tray_window(0), seconds, 0.1), "no tray icon")
    check(program.pids(), "the program ended")


def exit_through_menu(program):
    tray.choose(EXIT, 1)
    check(wait_until(lambda: not program.pids(), 10), "exit did not end the program")


def forced_off(probe):
    """A Caps Lock press is undone by the program (or never seen on)."""
    seen_on, seen_off = probe.press_and_watch(2000)
    assert seen_off >= 0 or seen_on < 0, "Caps Lock was not forced off"
    assert probe.caps() == "off", "Caps Lock stayed on"


def test_no_audio_device(probe, start, caps_off):
    program = start("no-audio", environment=NO_SOUND_SERVER)
    alive_with_icon(program)
    time.sleep(1)
    tray.choose(FORCE, 3)
    assert wait_until(lambda: program.settings() == morlett.FORCE_ON_FILE, 3), \
        "force-off was not saved: %r" % program.settings()
    forced_off(probe)
    exit_through_menu(program)


def immutable(paths, on):
    """Root ignores permission bits: the folder is made immutable instead."""
    return subprocess.run(["chattr", "+i" if on else "-i"] + paths, capture_output=True,
                          text=True)


def test_read_only_settings_folder(probe, start, caps_off):
    original = b'{"forceOff": 0, "beeptime": 400}'
    program = start("read-only", settings=original)
    paths = [program.settings_path, program.folder]
    try:
        made = immutable(paths, True)
        assert made.returncode == 0, "cannot make the folder read-only: %s" % made.stderr
        alive_with_icon(program)
        time.sleep(1)
        tray.choose(FORCE, 3)
        time.sleep(1)
        forced_off(probe)  # in effect even though it could not be saved
        assert program.settings() == original, "the file changed"
        assert program.pids(), "the program ended"
        exit_through_menu(program)
    finally:
        immutable(paths, False)


BROKEN_FILES = [
    ("garbage", b"\x00\xff{beeptime: banana]]\x07"),
    ("empty", b""),
    ("bom", b"\xef\xbb\xbf"),
    ("nested", b"[" * (10 * 1024 * 1024)),
    ("nested-objects", b'{"a":' * (2 * 1024 * 1024)),
    ("directory", None),
]


@pytest.mark.parametrize("name, content", BROKEN_FILES, ids=[n for n, _ in BROKEN_FILES])
def test_broken_settings_files(env, session, name, content):
    def folder_instead(folder):
        os.mkdir(os.path.join(folder, morlett.SETTINGS_FILE))
    s = session("broken-" + name, sink=env.add_sink("broken_" + name.replace("-", "_")),
                settings=content, prepare=None if content is not None else folder_instead)
    alive_with_icon(s.program, 20)
    time.sleep(1.5)
    assert s.program.pids(), "the program ended"
    heard = s.recorder.sound_after(s.program.launched, 20)
    assert heard and heard[1] == morlett.ON, "no start-up chime (%r)" % (heard,)
    if content is not None:
        assert s.settings() == content, "the file changed"
    else:
        assert os.path.isdir(s.program.settings_path), "the folder is gone"


def test_save_interrupted(start, soak_options):
    rounds = 3 if soak_options["minutes"] <= 5 else 10
    rng = random.Random(soak_options["seed"] + 1)
    for i in range(rounds):
        program = start("save-cut")
        try:
            alive_with_icon(program)
            time.sleep(0.5)
            switches = rng.randint(1, 4)
            for _ in range(switches):
                menu = tray.open_menu(3)
                tray.click_row(menu, FORCE)
                tray.menu_gone(2)
            # Killed at a random moment while the last switch is being saved.
            time.sleep(rng.uniform(0, 0.05))
        finally:
            program.end()
            # Wine's tray drops the icon of a killed program when the pointer passes over it.
            tray.point_at_icon(0)
            wait_until(lambda: not tray.tray_window(0), 5)
            tray.move_away()
        data = program.settings()
        assert data in (None, morlett.DEFAULT_FILE, morlett.FORCE_ON_FILE), \
            "round %d: the file reads %r" % (i, data)
        leftovers = sorted(set(os.listdir(program.folder)) - {morlett.EXE, morlett.SETTINGS_FILE})
        print("  round %d: %d switches, file %s, other files %s"
              % (i + 1, switches, {None: "none", morlett.FORCE_ON_FILE: "forceOff 1"}.get(
                  data, "forceOff 0"), leftovers))


def test_tray_comes_back_after_explorer_restart(env, probe, start):
    program = start("taskbar")
    try:
        alive_with_icon(program)
        time.sleep(1)
        answer = env.tool_run("tray-remove", morlett.TITLE, "1")
        assert answer == "removed", "could not remove the icon: %r" % answer
        assert wait_until(lambda: not tray.tray_window(0), 5), "the icon did not go"
        env.tool_run("taskbar-created")
        assert tray.tray_window(5), "the icon did not come back"
        # Its tooltip: the shell's tip window shows the text when the pointer rests on it.
        assert tray.point_at_icon(), "no icon to point at"
        tip = wait_until(lambda: probe.windows(morlett.TOOLTIP), 5, 0.2)
        print("  tooltip window: %s" % (tip or "none"))
        assert tip, "no tooltip %r over the icon that came back" % morlett.TOOLTIP
        assert program.pids(), "the program ended"
    finally:
        tray.move_away()
