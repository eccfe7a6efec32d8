"""The soak's judgement of its samples and periods."""

import pytest

from harness import morlett
from harness.outputs import Outputs
from harness.soak import Period, Sample, growth, missed_warnings, periods_to_check


def samples(values):
    return [Sample(10.0 * i, v, v, 100) for i, v in enumerate(values)]


@pytest.mark.parametrize("values, base, worst", [
    ([100] * 10, 100, 0.0),                          # flat
    ([100, 200, 100, 200, 100, 200, 100, 200, 100, 200], 200, 0.0),  # two levels, no growth
    ([100, 100, 100, 100, 100, 100, 100, 100, 110, 120], 100, 0.2),  # growth after warm-up
    ([300, 100, 100, 100, 100, 100, 100, 100, 100, 100], 300, -1 + 100 / 300),  # start high
], ids=["flat", "two levels", "growth", "high start"])
def test_growth_over_the_warm_up_level(values, base, worst):
    got_base, got_worst, _ = growth(samples(values), "private")
    assert got_base == base
    assert got_worst == pytest.approx(worst)


# A 2-minute soak's private bytes: the device held only from the fifth sample on.
SHORT_RUN = [14376960, 14376960, 14393344, 14393344, 15466496, 15495168, 15495168, 15499264,
             15499264, 14479360, 14479360]


@pytest.mark.parametrize("values, level, within", [
    (SHORT_RUN, 1200000, True),                              # the higher level came later
    (SHORT_RUN, 0, False),                                   # without knowing of it
    ([v + i * 150000 for i, v in enumerate(SHORT_RUN)], 1200000, False),  # a leak on top
], ids=["second level later", "level unknown", "leak"])
def test_a_second_level_first_seen_after_warm_up(values, level, within):
    _, worst, _ = growth(samples(values), "private", level)
    assert (worst <= 0.05) == within


def test_periods_that_must_bring_a_warning():
    periods = [
        Period(10.0, 11.0, 500, False),   # judged
        Period(11.1, 12.5, 500, False),   # right after the last release chime: not judged
        Period(20.0, 20.4, 500, False),   # shorter than the warning time
        Period(30.0, 31.0, 500, True),    # forced off
        Period(40.0, 41.5, 1200, False),  # judged
        Period(50.0, 51.5, 500, False),   # a menu action's chime just before
    ]
    assert periods_to_check(periods, menu_ends=[49.0]) == [periods[0], periods[4]]


class Heard:
    """A recording that holds sounds at given wall times."""

    def __init__(self, *sounds):
        self.sounds = sounds  # (wall time, clip name)

    def sound_after(self, wall, limit):
        for at, name in self.sounds:
            if wall <= at <= wall + limit:
                return at - wall, name
        return None


def outputs(changes, recordings):
    """Two outputs whose history is given: changes [(time, default sink)], recordings
    {sink: [(from, until, Heard)]}."""
    o = Outputs.__new__(Outputs)
    o.changes = [(at, name, "") for at, name in changes]
    o.recordings = recordings
    return o


W = morlett.WARNING
CHANGES = [(0.0, "a"), (50.0, "b")]
BOTH = {"a": [(0.0, None, Heard((10.05, W), (52.6, W)))],
        "b": [(0.0, None, Heard((20.05, W), (51.05, W), (51.6, W), (60.05, W)))]}


@pytest.mark.parametrize("period, recordings, missed", [
    (Period(10.0, 11.0, 500, False), BOTH, False),       # on a, its default then
    (Period(20.0, 21.0, 500, False), BOTH, True),        # heard on b while a was the default
    (Period(60.0, 61.0, 500, False), BOTH, False),       # on b after the switch
    (Period(51.0, 52.0, 500, False), BOTH, False),       # right after it, first warning heard
    (Period(50.5, 52.5, 1200, False), {"a": BOTH["a"], "b": [(0.0, None, Heard((51.75, W)))]},
     False),                                             # right after it: first one lost
    (Period(52.5, 54.5, 1200, False), {"a": BOTH["a"], "b": [(0.0, None, Heard((53.75, W)))]},
     True),                                              # later: none may be lost
    (Period(52.5, 53.8, 500, False), BOTH, True),        # played on the old one
    (Period(60.0, 61.0, 500, False), {"a": BOTH["a"], "b": [(0.0, 55.0, BOTH["b"][0][2])]},
     True),                                              # b's recording had stopped
], ids=["default a", "wrong sink", "default b", "after a change", "one lost in the change",
        "one lost later", "old sink", "no recording"])
def test_warnings_are_heard_on_the_default_output(period, recordings, missed):
    got = missed_warnings(None, [period], outputs(CHANGES, recordings))
    assert bool(got) == missed


def test_a_short_period_right_after_a_change_is_not_judged():
    # Too short for a second warning: the first may be lost while the output is reopened.
    period = Period(50.5, 51.0, 500, False)
    assert missed_warnings(None, [period], outputs(CHANGES, BOTH)) == []
