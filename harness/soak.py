"""The soak's pieces: drive the program with random Caps Lock periods, menu actions and
desktop events (audio outputs switched, removed and loaded again; the taskbar's theme
flipped) while sampling its memory, write the samples, and judge them."""

import time
from collections import namedtuple

from . import morlett, tray
from .process import check, wait_until

Sample = namedtuple("Sample", "seconds private workingset handles")
Period = namedtuple("Period", "on off beeptime forced")  # Caps Lock on and off, wall clock
SPEEDS = (200, 300, 500, 800, 1200)
MENU_GAP_S = (10, 30)  # random pause between two menu actions
PERIOD_S = (0.02, 3.0)  # random length of an on-period and of an off-period
ANSWER_S = 2  # a menu action must be answered (menu, dialog, file) within this
EVENT_GAP_S = (5, 12)  # random pause between two desktop events


class Run:
    """What a soak did: memory samples, Caps Lock periods, menu actions."""

    def __init__(self):
        self.samples = []
        self.periods = []
        self.menu_times = []  # how long each menu action took
        self.menu_ends = []   # when each was done (its chime may still be on its way)
        self.events = []      # (when, what) of the desktop events


def sample(env, began):
    m = env.memory(morlett.EXE)
    return Sample(time.time() - began, m["private"], m["workingset"], m["handles"])


def toggle_force_off(program, force_off):
    tray.choose(morlett.FORCE, 3, timeout=ANSWER_S)
    want = b'"forceOff"  : %d' % (not force_off)
    check(wait_until(lambda: want in (program.settings() or b""), ANSWER_S),
          "force-off was not saved within %d s" % ANSWER_S)
    return not force_off


def set_speed(probe, program, beeptime):
    tray.choose(morlett.SPEED, 3, timeout=ANSWER_S)
    check(probe.wait_window(morlett.TITLE, ANSWER_S), "the speed dialog took more than 2 s")
    time.sleep(0.2)
    probe.set_text(morlett.TITLE, str(beeptime))
    probe.click(morlett.TITLE, "OK")
    probe.wait_gone(morlett.TITLE, ANSWER_S * 1000)
    check(wait_until(lambda: b": %d" % beeptime in (program.settings() or b""), ANSWER_S),
          "the speed was not saved within %d s" % ANSWER_S)


def flip_theme(probe, theme):
    """The taskbar's theme value set to theme (0 dark, 1 light) and the change broadcast."""
    probe.theme(str(theme))
    probe.broadcast_theme()


def desktop_event(probe, outputs, rng, theme):
    """One of: the default output switched, the output in use removed, a removed output
    loaded again, the theme flipped. (what happened, the theme now)."""
    choice = rng.random()
    if outputs and choice < 0.7:
        if len(outputs.present) < 2:
            return "loaded %s again" % outputs.restore(), theme
        if choice < 0.4:
            return "default switched to %s" % outputs.switch()[1], theme
        return "removed the output in use, now on %s" % outputs.remove()[1], theme
    flip_theme(probe, 1 - theme)
    return "theme %d broadcast" % (1 - theme), 1 - theme


def drive(env, probe, program, minutes, rng, beeptime, outputs=None):
    """Random on- and off-periods, a menu action now and then (force-off or the speed), a
    desktop event more often (outputs when given, the theme), and a memory sample about
    60 times a run (at least 10 s apart), for minutes."""
    run = Run()
    force_off = False
    theme = 1
    began = time.time()
    end = began + minutes * 60
    next_sample, next_menu, next_event = began + 5, began + 20, began + 8
    time.sleep(2)
    while time.time() < end:
        now = time.time()
        if now >= next_sample:
            run.samples.append(sample(env, began))
            next_sample = now + max(10, minutes)
        if now >= next_event:
            what, theme = desktop_event(probe, outputs, rng, theme)
            run.events.append((now, what))
            next_event = time.time() + rng.uniform(*EVENT_GAP_S)
            time.sleep(0.3)
            continue
        if now >= next_menu:
            if rng.random() < 0.5:
                force_off = toggle_force_off(program, force_off)
            else:
                beeptime = rng.choice(SPEEDS)
                set_speed(probe, program, beeptime)
            run.menu_times.append(time.time() - now)
            run.menu_ends.append(time.time())
            next_menu = time.time() + rng.uniform(*MENU_GAP_S)
            time.sleep(0.5)
            continue
        check(program.pids(), "the program is gone")
        on_for, off_for = rng.uniform(*PERIOD_S), rng.uniform(*PERIOD_S)
        on = time.time()
        probe.caps("on", held=not force_off)
        time.sleep(on_for)
        off = time.time()
        probe.caps("off")
        run.periods.append(Period(on, off, beeptime, force_off))
        time.sleep(off_for)
    run.samples.append(sample(env, began))
    check(program.pids(), "the program is gone")
    return run


def write_csv(path, samples):
    with open(path, "w") as f:
        f.write("seconds,private,workingset,handles\n")
        for s in samples:
            f.write("%.1f,%d,%d,%d\n" % s)


# The program's private bytes have two levels: an audio device that was started holds
# Wine's driver thread and buffers until the idle watcher releases it, 10-14 s after the
# last sound. The step between them measured 1.02 MB over the 30-minute soak in
# BENCHMARKS.md and 1.10 MB in a 2-minute one.
DEVICE_HELD_BYTES = 1200000


def growth(samples, column, level=0):
    """(the level by the end of warm-up, worst rise after it as a fraction, lowest after it).
    The first fifth of the run (at least one sample) is warm-up. Where the memory has a
    second, higher level that many units up (level), the measure is the highest level: what
    warm-up showed, or its lowest plus level when warm-up happened to show only the lower
    one (a short run whose device was released at every sample of its warm-up)."""
    split = max(1, len(samples) // 5)
    values = [getattr(s, column) for s in samples]
    base = max(max(values[:split + 1]), min(values[:split + 1]) + level)
    warm = values[split:]
    return base, max(warm) / base - 1, min(warm)


# Quiet needed before an on-period for its warning to be judged: the release chime of the
# off-period before it, and the chime of a menu action, share the program's one sound.
AFTER_RELEASE_S = 0.3
AFTER_MENU_S = 1.5


def periods_to_check(periods, menu_ends):
    """The on-periods that must have brought a warning: longer than the warning time, not
    forced off, and with the program's sound quiet before them."""
    chosen = []
    previous_off = None
    for p in periods:
        quiet = previous_off is None or p.on - previous_off > AFTER_RELEASE_S
        quiet = quiet and not any(0 <= p.on - t < AFTER_MENU_S for t in menu_ends)
        previous_off = p.off
        if quiet and not p.forced and p.off - p.on > max(p.beeptime / 1000.0, AFTER_RELEASE_S):
            chosen.append(p)
    return chosen


# After an output change one warning may be lost while the program opens the new default:
# an on-period that starts this soon after a change is judged by its second warning.
AFTER_OUTPUT_S = 1.5


def missed_warnings(recorder, periods, outputs=None):
    """[(period, what was heard instead)] of the periods without a warning. With outputs,
    each period is heard on the sink that was the default when it began."""
    missed = []
    for p in periods:
        listen = min(p.off - p.on, 1.0)
        where = recorder
        if outputs:
            name, since = outputs.default_at(p.on)
            if p.on - since < AFTER_OUTPUT_S:
                if p.off - p.on < p.beeptime / 1000.0 + AFTER_RELEASE_S:
                    continue  # too short for a second warning
                listen = min(p.off - p.on, p.beeptime / 1000.0 + 1.0)
            where = outputs.recorder_at(name, p.on, p.on + listen)
            if where is None:
                missed.append((p, "no recording of %s" % name))
                continue
        heard = where.sound_after(p.on, listen)
        if not heard or heard[1] != morlett.WARNING:
            missed.append((p, heard))
    return missed
