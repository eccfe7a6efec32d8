"""The soak: random Caps Lock toggles, force-off and the speed changed through the menu, the
default audio output switched between two sinks, the output in use removed and loaded
again, and the taskbar's theme flipped, for --minutes (scripts/soak.sh); memory and handles
stay flat, every menu action is answered, and every long on-period brings a warning on
whichever sink was the default."""

import os
import random

from harness import morlett, soak
from harness.outputs import Outputs
from harness.process import check

GROWTH_LIMIT = 0.05
BEEPTIME = 500


def test_random_toggles_menu_and_speed(env, probe, session, soak_options, caps_off):
    print("soak: seed %(seed)d, %(minutes).1f minutes" % soak_options)
    # The program plays to the default output, whichever of the two that is.
    outputs = Outputs(env, ("soak_a", "soak_b"))
    try:
        s = session("soak", [morlett.SILENT], settings=b'{"beeptime": %d}' % BEEPTIME)
        s.program.wait_pid(15)
        run = soak.drive(env, probe, s.program, soak_options["minutes"],
                         random.Random(soak_options["seed"]), BEEPTIME, outputs)
        probe.caps("off")
        s.end()  # the recordings stay for the periods' checks; their whole is not analysed
    finally:
        outputs.close()
        probe.ask("theme absent")
        probe.ask("broadcast-theme")
    if soak_options["out"]:
        os.makedirs(soak_options["out"], exist_ok=True)
        soak.write_csv(os.path.join(soak_options["out"], "soak.csv"), run.samples)
    for column, level in (("private", soak.DEVICE_HELD_BYTES), ("handles", 0)):
        base, worst, lowest = soak.growth(run.samples, column, level)
        print("  %s: %d at most by the end of warm-up, then at most %+.1f %% (lowest %d)"
              % (column, base, 100 * worst, lowest))
        check(worst <= GROWTH_LIMIT, "%s grew %.1f %% after warm-up" % (column, 100 * worst))
    print("  menu actions: %d, slowest %.2f s" % (len(run.menu_times), max(run.menu_times or [0])))
    print("  desktop events: %d (%s)" % (len(run.events), "; ".join(
        "%.0f s %s" % (t - run.periods[0].on, what) for t, what in run.events)))
    checked = soak.periods_to_check(run.periods, run.menu_ends)
    missed = soak.missed_warnings(s.recorder, checked, outputs)
    for period, heard in missed:
        print("  no warning for the on-period at %.1f s (%.2f s long): %r"
              % (period.on - run.periods[0].on, period.off - period.on, heard))
    print("  on-periods: %d, checked for a warning: %d, missed: %d"
          % (len(run.periods), len(checked), len(missed)))
    assert checked, "no on-period long enough to check"
    assert not missed, "%d on-periods without a warning" % len(missed)
