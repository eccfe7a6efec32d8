#!/usr/bin/env python3
"""A headless demonstration of morlett.exe under Wine: what a user sees and hears.

    python3 e2e/demo.py --build BUILD_DIR [--screenshot FILE.png]

Needs a running test environment (e2e/demo.sh provides one). Starts the program, sets the
warning speed through the menu, switches Caps Lock on for a few warnings and off again,
switches force-off on and presses Caps Lock, photographs the open tray menu, ends the
program through its "exit" item and prints a timeline of everything that was heard.
"""

import argparse
import os
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import analyse  # noqa: E402
import driver  # noqa: E402
import e2e  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--screenshot")
    args = parser.parse_args()
    env = driver.Environment(args.build)
    check = driver.check
    e2e.ENV = env
    screenshot = args.screenshot or os.path.join(env.work, "morlett-menu.png")
    steps = []

    env.start_probe()
    session = None
    try:
        env.probe.ask("set-caps off")
        session = e2e.Session("demo")
        rec = session.recorder

        def step(text):
            steps.append((rec.now(), text))
            print("  %s" % text, flush=True)

        step("morlett.exe started")
        check(session.wait_for_sounds(2, e2e.START_S), "the program made no start-up sound")
        time.sleep(0.8)

        step("menu: warning speed set to 600 ms")
        e2e.choose(e2e.SPEED, 1)
        check(env.probe.wait_window("Morlett", 8), "no speed dialog")
        time.sleep(0.3)
        driver.xdotool("key", "--repeat", "8", "BackSpace")
        driver.xdotool("type", "--delay", "40", "600")
        driver.xdotool("key", "Return")
        check(env.probe.ask('wait-gone "Morlett" 5000').startswith("gone"), "the dialog stayed")
        time.sleep(0.6)

        step("Caps Lock on")
        e2e.caps("on")
        time.sleep(2.0)
        step("Caps Lock off")
        e2e.caps("off")
        time.sleep(1.0)

        step("menu: force capslock off switched on")
        e2e.choose(e2e.FORCE, 3)
        time.sleep(0.8)
        answer = env.probe.ask("press-and-watch 1000").split()
        step("Caps Lock pressed: the program switched it off again after %s ms" % answer[-1])
        time.sleep(0.8)

        step("tray menu opened (screenshot)")
        menu = e2e.open_menu(3)
        time.sleep(0.3)
        shot = os.path.join(env.work, "screen.png")
        subprocess.run(["import", "-window", "root", shot], check=True, timeout=30)
        g = driver.geometry(menu)
        width = max(320, g[0] + g[2] + 20)
        height = max(140, g[1] + g[3] + 20)
        os.makedirs(os.path.dirname(os.path.abspath(screenshot)), exist_ok=True)
        subprocess.run(["convert", shot, "-crop", "%dx%d+0+0" % (width, height), "+repage",
                        screenshot], check=True, timeout=30)
        driver.xdotool("key", "Escape")
        driver.menu_gone(5)
        time.sleep(0.5)

        step("menu: force capslock off switched off again")
        e2e.choose(e2e.FORCE, 1)
        time.sleep(0.8)

        step("menu: exit")
        e2e.choose(e2e.EXIT, 1)
        code = session.program.wait(15)
        check(code == 0, "the program ended with %r" % code)
        step("morlett.exe ended with exit code 0")
        sounds = session.finish(0.5)
    finally:
        if session:
            session.__exit__(None, None, None)
        if env.probe:
            env.probe.ask("set-caps off")
        env.stop_probe()

    zero = sounds[0].at if sounds else 0.0
    events = [(s.at, "sound", s) for s in sounds] + [(t, "step", text) for t, text in steps]
    events.sort(key=lambda e: e[0])
    print()
    print("Timeline (seconds from the first sound; sounds as recorded from the null sink):")
    for at, kind, what in events:
        if kind == "sound":
            print("  %6.2f s  %-16s %4.0f ms" % (at - zero, what.label(), what.duration))
        else:
            print("  %6.2f s  -- %s" % (at - zero, what))
    print()
    print("In short: " + ", ".join("%.2f s %s" % (s.at - zero, s.label()) for s in sounds))
    print("Screenshot of the tray menu: %s" % screenshot)
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except driver.Failure as failure:
        print("demo: %s" % failure, file=sys.stderr)
        sys.exit(1)
