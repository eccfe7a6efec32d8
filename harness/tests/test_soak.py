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
