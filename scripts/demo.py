#!/usr/bin/env python3
"""A headless demonstration of morlett.exe under Wine: what a user sees and hears.

    scripts/winenv.sh run build/windows python3 scripts/demo.py [--screenshot FILE.png]

(scripts/run.sh runs it so, with the harness package on PYTHONPATH.) Starts the program,
sets the warning speed through the menu, switches Caps Lock on for a few warnings and off
again, switches force-off on and presses Caps Lock, photographs the open tray menu, ends the
program through its "exit" row and prints a timeline of everything that was heard.
"""

import argparse
import os
import sys
import time

from harness import morlett, tray
from harness.process import Failure, check
from harness.session import Session
from harness.sound import timeline
from harness.wine import Environment, Probe

SPEED = "600"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--screenshot")
    args = parser.parse_args()
    env = Environment(work="demo-work")
    screenshot = os.path.abspath(args.screenshot or os.path.join(env.work, "morlett-menu.png"))
    steps = []

    def step(text):
        steps.append((time.time(), text))
        print("  %s" % text, flush=True)

    probe = Probe(env.probe_exe)
    try:
        probe.caps("off")
        with Session(env, probe, "demo") as session:
            step("%s started" % morlett.EXE)
            check(session.wait_for_sounds(2), "the program made no start-up sound")
            time.sleep(0.8)

            step("menu: warning speed set to %s ms" % SPEED)
            tray.choose(morlett.SPEED, 1)
            check(probe.wait_window(morlett.TITLE, 8), "no speed dialog")
            time.sleep(0.3)
            tray.keys_to(probe, morlett.TITLE, ("key", "--repeat", "8", "BackSpace"),
                         ("type", "--delay", "40", SPEED), ("key", "Return"))
            probe.wait_gone(morlett.TITLE)
            time.sleep(0.6)

            step("Caps Lock on")
            probe.caps("on")
            time.sleep(2.0)
            step("Caps Lock off")
            probe.caps("off")
            time.sleep(1.0)

            step("menu: force capslock off switched on")
            tray.choose(morlett.FORCE, 3)
            time.sleep(0.8)
            seen_on, off_at = probe.press_and_watch(1000)
            if off_at >= 0:
                step("Caps Lock pressed: the program switched it off again after %d ms" % off_at)
            elif seen_on < 0:
                step("Caps Lock pressed: the program switched it off before it was seen on")
            else:
                step("Caps Lock pressed: it was still on after 1 s")
            time.sleep(0.8)

            step("tray menu opened (screenshot)")
            menu = tray.open_menu(3)
            time.sleep(0.3)
            os.makedirs(os.path.dirname(screenshot), exist_ok=True)
            tray.screenshot(screenshot, menu)
            tray.dismiss_menu()
            time.sleep(0.5)

            step("menu: force capslock off switched off again")
            tray.choose(morlett.FORCE, 1)
            time.sleep(0.8)

            step("menu: exit")
            tray.choose(morlett.EXIT, 1)
            code = session.program.wait(15)
            check(code == morlett.EXIT_CODE, "the program ended with %r" % code)
            step("%s ended with exit code %d" % (morlett.EXE, code))
            sounds = session.finish(0.5)
    finally:
        probe.caps("off")
        probe.close()

    zero = sounds[0].at if sounds else time.time()
    lines = [(s.at, line) for s, line in zip(sounds, timeline(sounds, zero))]
    lines += [(at, "%6.2f s  -- %s" % (at - zero, text)) for at, text in steps]
    print()
    print("Timeline (seconds from the first sound; sounds as recorded from the null sink):")
    for _, line in sorted(lines):
        print("  " + line)
    print()
    print("In short: " + ", ".join("%.2f s %s" % (s.at - zero, s.label()) for s in sounds))
    print("Screenshot of the tray menu: %s" % screenshot)
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except Failure as failure:
        print("demo: %s" % failure, file=sys.stderr)
        sys.exit(1)
