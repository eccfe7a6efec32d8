#!/usr/bin/env python3
"""Robustness runs of morlett.exe under Wine: a soak of random Caps Lock toggles, menu
switches and speed changes, and the fault runs (no audio device, a read-only settings
folder, broken settings files, a save cut short, the shell's tray coming back).

    python3 e2e/soak.py --build BUILD_DIR [--minutes M] [--group soak|faults|all]
                        [--only NAME ...] [--out DIR]

Needs a running test environment (scripts/winenv.sh); scripts/soak.sh provides one. Prints
GoogleTest's summary lines; the soak's samples go to DIR/soak.csv.
"""

import argparse
import os
import random
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "bench"))
import analyse  # noqa: E402
import e2e  # noqa: E402
from bench import Contestant, Env, StampedRecorder, RATE, memory  # noqa: E402
from driver import (Environment, Failure, check, click_tray, menu_gone, run_tests,  # noqa: E402
                    tray_icon_centre, tray_window, visible_menu, wait_until, xdotool)

ARGS = None
BENCH = None  # bench.Env: the benchmark tools and the extra sinks

DEFAULT_FILE = e2e.DEFAULT_FILE
FORCE_ON_FILE = DEFAULT_FILE.replace(b'"forceOff"  : 0', b'"forceOff"  : 1')


def log(text):
    print("  " + text, flush=True)


def start(name, args=("/silent",), settings=None, environment=None, sink=None, prepare=None):
    return Contestant(BENCH, name, BENCH_EXE, list(args), sink=sink, settings=settings,
                      environment=environment, prepare=prepare)


BENCH_EXE = None


def sound_at(recorder, at, limit):
    """(onset s after at, clip name) of the first sound within limit s after at, or None."""
    onset = recorder.onset_after(at, limit)
    if onset is None:
        return None
    with recorder.lock:
        first = int((at + onset - recorder.offset_near(at)) * RATE)
        raw = bytes(recorder.samples[first * 2:(first + int(0.4 * RATE)) * 2])
    import array
    data = array.array("h")
    data.frombytes(raw[:len(raw) // 2 * 2])
    samples = [v / 32768.0 for v in data]
    found = analyse.segments(RATE, samples)
    if not found:
        return None
    a, b = found[0]
    duration, head, tail = analyse.features(RATE, analyse.content_of(RATE, samples, a, b))
    return onset, analyse.classify(duration, head, tail)[0]


# ---- The soak ---------------------------------------------------------------------------------

def test_soak():
    """Random toggles, menu switches and speed changes for ARGS.minutes; memory and handles
    sampled throughout."""
    probe = e2e.ENV.probe
    sink = BENCH.add_sink("soak_sink")
    recorder = StampedRecorder(sink)
    check(recorder.wait_ready(), "the recording did not start")
    beeptime = 500
    program = start("soak", settings=b'{"beeptime": %d}' % beeptime, sink=sink)
    program.pid(15)
    samples = []        # (seconds, private, workingset, handles)
    periods = []        # (on at, off at, beeptime, force-off)
    menu_times = []
    menu_ends = []      # when each menu action was done (its chime may still be on its way)
    force_off = False
    rng = random.Random(ARGS.seed)
    began = time.time()
    end = began + ARGS.minutes * 60
    next_sample = began + 5
    next_menu = began + 20
    try:
        time.sleep(2)
        while time.time() < end:
            now = time.time()
            if now >= next_sample:
                m = memory(BENCH, "morlett.exe")
                samples.append((now - began, m["private"], m["workingset"], m["handles"]))
                next_sample = now + max(10, ARGS.minutes * 60 / 60)
            if now >= next_menu:
                started = time.time()
                if rng.random() < 0.5:
                    click_tray(3)
                    menu = visible_menu(2)
                    check(menu, "the menu took more than 2 s to open")
                    e2e.click_menu_item(menu, e2e.FORCE)
                    check(menu_gone(2), "the menu stayed open")
                    force_off = not force_off
                    check(wait_until(lambda: (e2e.settings(program.folder) or b"").find(
                        b'"forceOff"  : %d' % force_off) >= 0, 2),
                        "force-off was not saved within 2 s")
                else:
                    beeptime = rng.choice([200, 300, 500, 800, 1200])
                    click_tray(3)
                    menu = visible_menu(2)
                    check(menu, "the menu took more than 2 s to open")
                    e2e.click_menu_item(menu, e2e.SPEED)
                    check(menu_gone(2), "the menu stayed open")
                    check(probe.wait_window("Morlett", 2), "the speed dialog took more than 2 s")
                    time.sleep(0.2)
                    check(probe.ask('set-text "Morlett" "%d"' % beeptime) == "set", "no edit field")
                    check(probe.ask('click "Morlett" "OK"') == "clicked", "no OK button")
                    check(probe.ask('wait-gone "Morlett" 2000').startswith("gone"),
                          "the dialog stayed")
                    check(wait_until(lambda: b": %d" % beeptime in (e2e.settings(program.folder)
                                                                      or b""), 2),
                          "the speed was not saved within 2 s")
                menu_times.append(time.time() - started)
                menu_ends.append(time.time())
                next_menu = time.time() + rng.uniform(10, 30)
                time.sleep(0.5)
                continue
            check(program.pids(), "the program is gone")
            # One on-period and one off-period of 20 ms to 3 s each.
            on_for, off_for = rng.uniform(0.02, 3.0), rng.uniform(0.02, 3.0)
            at = time.time()
            probe.ask("set-caps on")
            time.sleep(on_for)
            off_at = time.time()
            probe.ask("set-caps off")
            periods.append((at, off_at, beeptime, force_off))
            time.sleep(off_for)
        m = memory(BENCH, "morlett.exe")
        samples.append((time.time() - began, m["private"], m["workingset"], m["handles"]))
        check(program.pids(), "the program is gone")
    finally:
        probe.ask("set-caps off")
        program.end()
        time.sleep(0.3)
        recorder.stop()
    if ARGS.out:
        with open(os.path.join(ARGS.out, "soak.csv"), "w") as f:
            f.write("seconds,private,workingset,handles\n")
            for s in samples:
                f.write("%.1f,%d,%d,%d\n" % s)
    # No growth after warm-up: the first fifth of the run (at least one sample) is warm-up.
    # The program's memory has two levels, not one: an audio device that was started holds
    # Wine's driver thread and buffers (about 1 MB) until the idle watcher releases it, after
    # 10-14 s without sound. So the measure is the highest level: no sample after warm-up
    # may lie more than 5 % above the highest one up to its end; the lowest is reported.
    split = max(1, len(samples) // 5)
    warm = samples[split:]
    for column, label in ((1, "private bytes"), (3, "handles")):
        base = max(s[column] for s in samples[:split + 1])
        worst = max(s[column] for s in warm) / base - 1
        lowest = min(s[column] for s in warm)
        log("%s: %d at most by the end of warm-up, then at most %+.1f %% (lowest %d)" %
            (label, base, 100 * worst, lowest))
        check(worst <= 0.05, "%s grew %.1f %% after warm-up" % (label, 100 * worst))
    log("menu actions: %d, slowest %.2f s" % (len(menu_times), max(menu_times or [0])))
    # A warning for every on-period longer than the warning time, once the release chime of
    # the off-period before it (127 ms) was over, and not right after a menu action: its chime
    # shares the program's one sound with the warnings, and on a device that first has to start
    # again it can arrive together with the warning and be the sound heard there.
    checked = missed = 0
    previous_off = None
    for on_at, off_at, bt, forced in periods:
        quiet_before = previous_off is None or on_at - previous_off > 0.3
        quiet_before = quiet_before and not any(0 <= on_at - t < 1.5 for t in menu_ends)
        previous_off = off_at
        if forced or off_at - on_at <= max(bt / 1000.0, 0.3) or not quiet_before:
            continue
        checked += 1
        heard = sound_at(recorder, on_at, min(off_at - on_at, 1.0))
        if not heard or heard[1] != "WarningBeep":
            missed += 1
            log("no warning for the on-period at %.1f s (%.2f s long): %r"
                % (on_at - began, off_at - on_at, heard))
    log("on-periods: %d, checked for a warning: %d, missed: %d" % (len(periods), checked, missed))
    check(checked > 0, "no on-period long enough to check")
    check(missed == 0, "%d on-periods without a warning" % missed)


# ---- Fault runs -------------------------------------------------------------------------------

def alive_with_icon(program, seconds=12):
    check(wait_until(lambda: tray_window(0), seconds, 0.1), "no tray icon")
    check(program.pids(), "the program ended")


def exit_through_menu(program):
    click_tray(1)
    menu = visible_menu(5)
    check(menu, "the menu did not open")
    time.sleep(0.2)
    e2e.click_menu_item(menu, e2e.EXIT)
    check(wait_until(lambda: not program.pids(), 10), "exit did not end the program")


def test_no_audio_device():
    probe = e2e.ENV.probe
    probe.ask("set-caps off")
    # A server address where nothing listens: the audio library finds no device at all.
    program = start("no-audio", environment={"PULSE_SERVER": "unix:/nonexistent/morlett"})
    try:
        alive_with_icon(program)
        time.sleep(1)
        e2e.choose(e2e.FORCE, 3)
        check(wait_until(lambda: e2e.settings(program.folder) == FORCE_ON_FILE, 3),
              "force-off was not saved: %r" % e2e.settings(program.folder))
        answer = probe.ask("press-and-watch 2000")
        parts = answer.split()
        check(len(parts) == 4 and int(parts[3]) >= 0 or int(parts[1]) < 0,
              "Caps Lock was not forced off: %s" % answer)
        check(probe.ask("caps") == "off", "Caps Lock stayed on")
        exit_through_menu(program)
    finally:
        probe.ask("set-caps off")
        program.end()


def test_read_only_settings_folder():
    probe = e2e.ENV.probe
    original = b'{"forceOff": 0, "beeptime": 400}'
    program = None
    folder = None
    try:
        program = start("read-only", settings=original)
        folder = program.folder
        # Root ignores permission bits: the folder is made immutable instead.
        made = subprocess.run(["chattr", "+i", os.path.join(folder, "morlett.json"), folder],
                              capture_output=True, text=True)
        check(made.returncode == 0, "cannot make the folder read-only: %s" % made.stderr.strip())
        alive_with_icon(program)
        time.sleep(1)
        e2e.choose(e2e.FORCE, 3)
        time.sleep(1)
        # Force-off is in effect even though it could not be saved.
        answer = probe.ask("press-and-watch 2000")
        parts = answer.split()
        check(len(parts) == 4 and (int(parts[3]) >= 0 or int(parts[1]) < 0),
              "force-off not in effect: %s" % answer)
        check(probe.ask("caps") == "off", "Caps Lock stayed on")
        check(e2e.settings(folder) == original, "the file changed")
        check(program.pids(), "the program ended")
        exit_through_menu(program)
    finally:
        probe.ask("set-caps off")
        if folder:
            subprocess.run(["chattr", "-i", os.path.join(folder, "morlett.json"), folder],
                           capture_output=True)
        if program:
            program.end()


def test_broken_settings_files():
    cases = [
        ("garbage", b"\x00\xff{beeptime: banana]]\x07"),
        ("empty", b""),
        ("bom", b"\xef\xbb\xbf"),
        ("nested", b"[" * (10 * 1024 * 1024)),
        ("nested-objects", b'{"a":' * (2 * 1024 * 1024)),
    ]
    for name, content in cases + [("directory", None)]:
        sink = BENCH.add_sink("broken_" + name.replace("-", "_"))
        recorder = StampedRecorder(sink)
        check(recorder.wait_ready(), "the recording did not start")
        at = time.time()
        program = start("broken-" + name, [], settings=content, sink=sink,
                        prepare=None if content is not None else
                        lambda folder: os.mkdir(os.path.join(folder, "morlett.json")))
        path = os.path.join(program.folder, "morlett.json")
        try:
            alive_with_icon(program, 20)
            time.sleep(1.5)
            check(program.pids(), "%s: the program ended" % name)
            heard = sound_at(recorder, at, 20)
            check(heard and heard[1] == "OnChime", "%s: no start-up chime (%r)" % (name, heard))
            if content is not None:
                check(e2e.settings(program.folder) == content, "%s: the file changed" % name)
            else:
                check(os.path.isdir(path), "%s: the folder is gone" % name)
            log("%s: started with the defaults" % name)
        finally:
            program.end()
            recorder.stop()
            if content is None and os.path.isdir(path):
                os.rmdir(path)


def test_save_interrupted():
    rounds = 3 if ARGS.minutes <= 5 else 10
    rng = random.Random(ARGS.seed + 1)
    for i in range(rounds):
        program = start("save-cut")
        folder = program.folder
        try:
            alive_with_icon(program)
            time.sleep(0.5)
            switches = rng.randint(1, 4)
            for _ in range(switches):
                click_tray(3)
                menu = visible_menu(5)
                check(menu, "the menu did not open")
                e2e.click_menu_item(menu, e2e.FORCE)
                menu_gone(2)
            # Killed at a random moment while the last switch is being saved.
            time.sleep(rng.uniform(0, 0.05))
        finally:
            program.end()
            # Wine's tray drops the icon of a killed program when the pointer passes over it.
            if tray_window(0):
                x, y = tray_icon_centre()
                xdotool("mousemove", x, y)
                xdotool("mousemove", x + 1, y)
            wait_until(lambda: not tray_window(0), 5)
            xdotool("mousemove", 600, 600)
        data = e2e.settings(folder)
        check(data in (None, DEFAULT_FILE, FORCE_ON_FILE), "round %d: the file reads %r" % (i, data))
        leftovers = sorted(set(os.listdir(folder)) - {"morlett.exe", "morlett.json"})
        log("round %d: %d switches, file %s, other files %s"
            % (i + 1, switches, "forceOff 1" if data == FORCE_ON_FILE else
               "forceOff 0" if data else "none", leftovers))


def test_tray_comes_back_after_explorer_restart():
    program = start("taskbar")
    try:
        alive_with_icon(program)
        time.sleep(1)
        answer = subprocess.run(["wine", BENCH.tool, "tray-remove", "Morlett", "1"],
                                capture_output=True, text=True, timeout=60).stdout.strip()
        check(answer == "removed", "could not remove the icon: %r" % answer)
        check(wait_until(lambda: not tray_window(0), 5), "the icon did not go")
        subprocess.run(["wine", BENCH.tool, "taskbar-created"], capture_output=True, timeout=60)
        check(tray_window(5), "the icon did not come back")
        # Its tooltip: the shell's tip window shows the text when the pointer rests on it.
        x, y = tray_icon_centre()
        xdotool("mousemove", x, y)
        time.sleep(0.2)
        xdotool("mousemove", x + 1, y)
        probe = e2e.ENV.probe
        tip = wait_until(lambda: probe.windows("morlett"), 5, 0.2)
        log("tooltip window: %s" % (tip or "none"))
        check(tip, "no tooltip \"morlett\" over the icon that came back")
        check(program.pids(), "the program ended")
    finally:
        xdotool("mousemove", 600, 600)
        program.end()


GROUPS = {
    "soak": [("Soak.RandomTogglesMenuAndSpeed", test_soak)],
    "faults": [
        ("Faults.NoAudioDevice", test_no_audio_device),
        ("Faults.ReadOnlySettingsFolder", test_read_only_settings_folder),
        ("Faults.BrokenSettingsFiles", test_broken_settings_files),
        ("Faults.SaveInterrupted", test_save_interrupted),
        ("Faults.TrayComesBackAfterExplorerRestart", test_tray_comes_back_after_explorer_restart),
    ],
}


def main():
    global ARGS, BENCH, BENCH_EXE
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--minutes", type=float, default=30)
    parser.add_argument("--group", default="all", choices=["all", "soak", "faults"])
    parser.add_argument("--only", nargs="*")
    parser.add_argument("--seed", type=int, default=int(time.time()))
    parser.add_argument("--out")
    ARGS = parser.parse_args()
    print("soak: seed %d, %.1f minutes" % (ARGS.seed, ARGS.minutes), flush=True)
    e2e.ENV = Environment(ARGS.build)
    BENCH = Env(ARGS.build, os.path.join(os.path.abspath(ARGS.build), "soak-work"))
    BENCH_EXE = BENCH.exe
    if ARGS.out:
        os.makedirs(ARGS.out, exist_ok=True)
    tests = GROUPS["soak"] + GROUPS["faults"] if ARGS.group == "all" else GROUPS[ARGS.group]
    try:
        e2e.ENV.start_probe()
    except Failure as e:
        print("FAILURE: %s" % e)
        print("[  FAILED  ] 1 tests, listed below:")
        return 1
    try:
        return run_tests(tests, ARGS.only)
    finally:
        if e2e.ENV.probe:
            e2e.ENV.probe.ask("set-caps off")
        e2e.ENV.stop_probe()
        BENCH.close()


if __name__ == "__main__":
    sys.exit(main())
