"""The watcher of the running program: warnings at the set speed while Caps Lock is on, the
release chime when it goes off, and force-off."""

import time

from harness.morlett import RELEASE, WARNING
from harness.session import labels
from harness.sound import clip_ms

BEEPTIME_S = 0.5
# Onsets reach the recording 15-80 ms after the play; the first pass that sees Caps Lock on
# warns.
FIRST_WARNING_S = 0.25
# A sound the output stalled on (a gap inside it, or frames lost) starts late in the
# recording through no fault of the program.
STALL_MS = 1000.0
LENGTH_TOLERANCE_MS = 3.0
INTERVAL_TOLERANCE_S = 0.06
AVERAGE_TOLERANCE_S = 0.02


def test_warnings_while_caps_lock_is_on(probe, running, caps_off):
    s = running("warnings", settings='{"beeptime": 500}')
    on_at = time.time()
    probe.caps("on")
    time.sleep(2.3)
    off_at = time.time()
    probe.caps("off")
    sounds = s.finish(1.2)
    assert sounds and sounds[0].name == RELEASE, labels(sounds)
    rest = sounds[1:]
    warnings = [x for x in rest if x.name == WARNING]
    assert labels(rest) == [WARNING] * len(warnings) + [RELEASE]
    assert len(warnings) >= 4, "only %d warnings in %.1f s" % (len(warnings), off_at - on_at)
    assert warnings[0].at - on_at < FIRST_WARNING_S, "the first warning came %.3f s late" % (
        warnings[0].at - on_at)
    assert warnings[-1].at < off_at + 0.1, "a warning after Caps Lock went off"
    # Intervals next to a stalled sound are shown, not judged. The rest must keep the
    # speed, and so must the run as a whole.
    length = clip_ms(WARNING)
    disturbed = [w.span - w.duration > STALL_MS or abs(w.duration - length) > LENGTH_TOLERANCE_MS
                 for w in warnings]
    gaps = [b.at - a.at for a, b in zip(warnings, warnings[1:])]
    stalled = [d1 or d2 for d1, d2 in zip(disturbed, disturbed[1:])]
    clean = [g for g, bad in zip(gaps, stalled) if not bad]
    print("  intervals: " + ", ".join("%.0f ms%s" % (g * 1000, " (stalled)" if bad else "")
                                      for g, bad in zip(gaps, stalled)))
    assert len(clean) >= 2, "too few undisturbed intervals: %s" % gaps
    assert all(abs(g - BEEPTIME_S) <= INTERVAL_TOLERANCE_S for g in clean), gaps
    average = (warnings[-1].at - warnings[0].at) / (len(warnings) - 1)
    assert abs(average - BEEPTIME_S) <= AVERAGE_TOLERANCE_S, \
        "%.0f ms between warnings on average" % (average * 1000)


PRESSES = 5
FORCED_OFF_MS = 50


def test_force_off(probe, running, caps_off):
    s = running("forceoff", settings='{"forceOff": 1, "beeptime": 500}')
    mark = time.time()
    results = []
    for _ in range(PRESSES):
        results.append(probe.press_and_watch(1000))
        time.sleep(0.3)
    sounds = s.finish(1.0)
    print("  (seen on, seen off) ms: %s" % results)
    # The program may switch it off before the probe's first look; then it was never seen
    # on, which alone proves nothing, so most presses must be seen on and off.
    seen = [(on, off) for on, off in results if on >= 0]
    assert all(0 <= off <= FORCED_OFF_MS for _, off in seen), results
    assert len(seen) >= 3, "Caps Lock was seen on only %d times of %d" % (len(seen), PRESSES)
    later = [x for x in sounds if x.at >= mark]
    assert not later, "sounds while forcing off: %s" % labels(later)
    assert probe.caps() == "off", "Caps Lock stayed on"
