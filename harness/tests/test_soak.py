"""The soak's judgement of its samples and periods."""

import pytest

from harness.soak import Period, Sample, growth, periods_to_check


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
