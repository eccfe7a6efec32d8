"""The tray menu of the running program through real clicks: the switches with their check
marks, chimes and saved file, the speed dialog, the restart question and exit."""

import json
import os
import time

from harness import morlett, tray
from harness.morlett import (ADMIN, ADMIN_OFF, ADMIN_ON, EXIT, FORCE, GOODBYE_CHIME, RELEASE,
                             SPEED, START_CHIME, SWITCHED_OFF, SWITCHED_ON,
                             WARNING)
from harness.process import wait_until
from harness.session import START_S, labels
from harness.sound import clip_ms

DEFAULT = morlett.DEFAULT_BEEPTIME
CHIME_TOLERANCE_MS = 15
GOODBYE_TOLERANCE_MS = 25


def values(s):
    """(beeptime, forceOff, runAsAdmin) of the saved file."""
    data = s.settings()
    assert data is not None, "no settings file"
    v = json.loads(data.decode())
    return v.get("beeptime"), v.get("forceOff"), v.get("runAsAdmin")


def saved(s):
    return wait_until(s.settings, 5)


def marks(force_off, run_as_admin):
    return {"forceOff": force_off, "runAsAdmin": run_as_admin}


def test_force_off_switch_twice(running):
    s = running("menu-force")
    tray.choose(FORCE, switched=marks(False, False))
    assert saved(s), "no file after the first switch"
    assert values(s) == (DEFAULT, 1, 0)
    os.remove(s.program.settings_path)
    time.sleep(0.6)
    tray.choose(FORCE, 1, switched=marks(True, False))
    assert saved(s), "no file after the second switch"
    assert s.settings() == morlett.DEFAULT_FILE
    sounds = s.finish(0.8)
    assert labels(sounds) == [RELEASE, SWITCHED_ON, SWITCHED_OFF]
    for x in sounds[1:]:
        assert abs(x.duration - clip_ms(x.name, x.factor)) < CHIME_TOLERANCE_MS, x


def test_hand_edited_switch_values_turn_off(probe, running):
    s = running("menu-hand-edited", settings='{"forceOff": 2, "runAsAdmin": 3}')
    tray.choose(FORCE, switched=marks(True, True))
    assert wait_until(lambda: s.settings() and values(s)[1] == 0, 5), \
        "forceOff 2 did not turn off: %s" % (values(s),)
    time.sleep(0.6)
    tray.choose(ADMIN, 1, switched=marks(False, True))
    assert probe.wait_window(morlett.RESTART_TITLE, 8), "no restart question"
    assert values(s) == (DEFAULT, 0, 0), "runAsAdmin 3 did not turn off"
    probe.answer(morlett.RESTART_TITLE, "No")
    assert labels(s.finish(0.5)) == [RELEASE, SWITCHED_OFF, ADMIN_OFF]


def enter_speed(probe, s, text, expect, first=False, typed=False):
    """Chooses the speed row and answers the dialog: text None presses Escape; typed types
    the text on the keyboard and presses Enter; otherwise the probe fills the field and
    presses OK."""
    if os.path.exists(s.program.settings_path):
        os.remove(s.program.settings_path)
    tray.choose(SPEED, 1)
    box = probe.wait_window(morlett.TITLE, 8)
    assert box, "no speed dialog"
    if first:
        assert str(morlett.DEFAULT_BEEPTIME) in box[1], "the dialog starts with %s" % box[1]
    time.sleep(0.3)
    if text is None:
        tray.keys_to(probe, morlett.TITLE, ("key", "Escape"))
    elif typed:
        # The caret stands after the current value: erase it, type, Enter.
        tray.keys_to(probe, morlett.TITLE, ("key", "--repeat", "8", "BackSpace"),
                     ("type", "--delay", "30", text), ("key", "Return"))
    else:
        probe.set_text(morlett.TITLE, text)
        probe.click(morlett.TITLE, "OK")
    probe.wait_gone(morlett.TITLE)
    assert saved(s), "%r: no file written" % text
    assert values(s)[0] == expect, "%r stored %r, not %r" % (text, values(s)[0], expect)


SPEED_ENTRIES = [("10", 50), ("0", 50), ("-5", 50), ("", 50), ("letters", 50),
                 (" 300ms", 300), ("$100", 256), ("%101", 50), ("700", 700)]


def test_speed_dialog(probe, running):
    s = running("menu-speed")
    enter_speed(probe, s, "250", 250, first=True, typed=True)
    for text, expect in SPEED_ENTRIES:
        enter_speed(probe, s, text, expect)
    enter_speed(probe, s, None, morlett.BEEPTIME_FLOOR)
    assert labels(s.finish(0.3)) == [RELEASE], "the dialog made sounds"


def test_run_as_admin_no_keeps_running(probe, running):
    s = running("menu-admin-no")
    tray.choose(ADMIN, switched=marks(False, False))
    assert probe.wait_window(morlett.RESTART_TITLE, 8, morlett.RESTART_QUESTION), \
        "no restart question"
    assert values(s) == (DEFAULT, 0, 1), "not saved before the answer: %s" % (values(s),)
    probe.answer(morlett.RESTART_TITLE, "No")
    time.sleep(1.0)
    assert s.program.running(), "the program ended after No"
    menu = tray.open_menu()
    assert tray.check_marks(menu) == {r: r is ADMIN for r in morlett.MENU}
    tray.dismiss_menu()
    assert labels(s.finish(0.3)) == [RELEASE, ADMIN_ON]


def test_run_as_admin_yes_restarts(probe, running):
    s = running("menu-admin-yes")
    tray.choose(ADMIN)
    assert probe.wait_window(morlett.RESTART_TITLE, 8), "no restart question"
    probe.click(morlett.RESTART_TITLE, "Yes")
    # The icon goes before the goodbye chime; the new copy adds its own after its start.
    assert wait_until(lambda: not tray.tray_window(0), 3, 0.02), "the tray icon stayed"
    assert s.program.wait(15) == morlett.EXIT_CODE
    # The new copy starts without "/silent": its start-up chime is heard.
    assert s.wait_for_sounds(5, START_S), "the new copy made no sound"
    assert s.program.pids(), "no new copy runs"
    sounds = s.finish(0.5)
    assert labels(sounds)[:5] == [RELEASE, ADMIN_ON, GOODBYE_CHIME, START_CHIME, RELEASE]
    assert abs(sounds[2].duration - clip_ms(morlett.OFF)) < GOODBYE_TOLERANCE_MS, \
        "the goodbye chime was cut: %.0f ms" % sounds[2].duration


def test_run_as_admin_off_restarts_through_the_shell(probe, running):
    s = running("menu-admin-off", settings='{"runAsAdmin": 1}')
    tray.choose(ADMIN, 1, switched=marks(False, True))
    assert probe.wait_window(morlett.RESTART_TITLE, 8), "no restart question"
    probe.click(morlett.RESTART_TITLE, "Yes")
    assert s.program.wait(15) == morlett.EXIT_CODE
    # explorer.exe opens the program: its start-up chime is heard.
    assert s.wait_for_sounds(4, START_S), "the new copy made no sound"
    assert s.program.pids(), "no new copy runs"
    assert values(s) == (DEFAULT, 0, 0)
    assert labels(s.finish(0.5))[:4] == [RELEASE, ADMIN_OFF, GOODBYE_CHIME, START_CHIME]


def test_a_restart_that_cannot_start_keeps_running(probe, running):
    s = running("menu-admin-fail")
    # The shell cannot find the program under its old name any more.
    os.rename(s.program.exe, os.path.join(s.folder, "renamed.exe"))
    tray.choose(ADMIN)
    assert probe.wait_window(morlett.RESTART_TITLE, 8), "no restart question"
    probe.click(morlett.RESTART_TITLE, "Yes")
    assert s.program.wait(3) is None, "the program ended"
    assert wait_until(lambda: tray.tray_window(0), 5), "the icon is not back"
    time.sleep(1.0)
    assert s.program.running(), "the program ended"
    assert probe.instance_held(), "the instance is not held"
    tray.choose(EXIT, 1)
    assert s.program.wait(10) == morlett.EXIT_CODE, "exit after the failed restart"
    assert labels(s.finish(0.3)) == [RELEASE, ADMIN_ON, GOODBYE_CHIME, GOODBYE_CHIME]


def test_a_confirmed_restart_says_goodbye_while_no_warning_plays(probe, running, caps_off):
    # The restart's goodbye, like exit's, has the watcher stopped: while the chime and its
    # half second for the device last, no warning starts, though Caps Lock is on and a
    # warning is due every 300 ms. The launch fails here, so the same copy stays and its
    # watcher carries on.
    s = running("menu-admin-warning", settings='{"beeptime": 300}')
    os.rename(s.program.exe, os.path.join(s.folder, "renamed.exe"))
    probe.caps("on")
    tray.choose(ADMIN)
    assert probe.wait_window(morlett.RESTART_TITLE, 8), "no restart question"
    time.sleep(0.8)
    yes_at = time.time()
    probe.click(morlett.RESTART_TITLE, "Yes")
    assert wait_until(lambda: tray.tray_window(0), 5), "the icon is not back"
    time.sleep(1.5)
    off_at = time.time()
    probe.caps("off")
    tray.choose(EXIT, 1)
    assert s.program.wait(10) == morlett.EXIT_CODE, "exit after the failed restart"
    sounds = s.finish(0.3)
    goodbyes = [x for x in sounds if x.at > yes_at - 0.2 and x.label() == GOODBYE_CHIME]
    assert len(goodbyes) == 2, "not a goodbye and an exit chime after Yes: %s" % labels(sounds)
    # A warning that started before the click took effect may still show up early.
    during = [x for x in sounds if x.name == WARNING and yes_at + 0.3 < x.at < yes_at + 0.65]
    assert not during, "warnings during the goodbye: %s" % labels(sounds)
    assert any(x.name == WARNING and yes_at + 0.65 < x.at < off_at for x in sounds), \
        "the watcher did not carry on after the failed restart: %s" % labels(sounds)


def test_exit(running):
    s = running("menu-exit")
    tray.choose(EXIT, 1)
    assert s.program.wait(10) == morlett.EXIT_CODE
    assert wait_until(lambda: not tray.tray_window(0), 3), "the tray icon stayed"
    sounds = s.finish(0.5)
    assert labels(sounds) == [RELEASE, GOODBYE_CHIME]
    assert abs(sounds[1].duration - clip_ms(morlett.OFF)) < GOODBYE_TOLERANCE_MS, \
        "the chime was cut: %.0f ms" % sounds[1].duration
