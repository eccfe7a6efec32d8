"""The soak: random Caps Lock toggles, force-off and the speed changed through the menu for
--minutes (scripts/soak.sh); memory and handles stay flat, every menu action is answered,
and every long on-period brings a warning."""

import os
import random

from harness import morlett, soak
from harness.process import check

GROWTH_LIMIT = 0.05
BEEPTIME = 500


def test_random_toggles_menu_and_speed(env, probe, session, soak_options, caps_off):
    print("soak: seed %(seed)d, %(minutes).1f minutes" % soak_options)
    s = session("soak", [morlett.SILENT], sink=env.add_sink("soak_sink"),
                settings=b'{"beeptime": %d}' % BEEPTIME)
    s.program.wait_pid(15)
    run = soak.drive(env, probe, s.program, soak_options["minutes"],
                     random.Random(soak_options["seed"]), BEEPTIME)
    probe.caps("off")
    s.end()  # the recording stays for the periods' checks; the whole of it is not analysed
    if soak_options["out"]:
        os.makedirs(soak_options["out"], exist_ok=True)
        soak.write_csv(os.path.join(soak_options["out"], "soak.csv"), run.samples)
    for column, level in (("private", soak.DEVICE_HELD_BYTES), ("handles", 0)):
        base, worst, lowest = soak.growth(run.samples, column, level)
        print("  %s: %d at most by the end of warm-up, then at most %+.1f %% (lowest %d)"
              % (column, base, 100 * worst, lowest))
        check(worst <= GROWTH_LIMIT, "%s grew %.1f %% after warm-up" % (column, 100 * worst))
    print("  menu actions: %d, slowest %.2f s" % (len(run.menu_times), max(run.menu_times or [0])))
    checked = soak.periods_to_check(run.periods, run.menu_ends)
    missed = soak.missed_warnings(s.recorder, checked)
    for period, heard in missed:
        print("  no warning for the on-period at %.1f s (%.2f s long): %r"
              % (period.on - run.periods[0].on, period.off - period.on, heard))
    print("  on-periods: %d, checked for a warning: %d, missed: %d"
          % (len(run.periods), len(checked), len(missed)))
    assert checked, "no on-period long enough to check"
    assert not missed, "%d on-periods without a warning" % len(missed)
