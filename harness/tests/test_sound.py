"""The recorder's clock and onset search, and the clip analysis, without Wine: samples and
their place on the clock are given."""

import array
import os
import threading
import time

import pytest

from harness import morlett
from harness.sound import CLIPS_DIR, RATE, Recorder, analyse, read_wav


class FakeRecorder(Recorder):
    """The recorder without parec."""

    def __init__(self, samples, offset, stamps=()):
        self.samples = bytearray(array.array("h", samples).tobytes())
        self.offset = offset
        self.stamps = list(stamps)
        self.lock = threading.Lock()


QUIET = [0] * RATE
LOUD = [1000, -1000] * (RATE // 10)


@pytest.mark.parametrize("at, limit, want", [
    (100.5, 1.5, 0.5),     # sound 0.5 s after the moment
    (100.99, 1.5, 0.01),
    (101.05, 1.5, None),   # the moment itself inside the sound: the sink was busy
    (101.003, 1.5, -0.003),  # out of silence a few ms before: the sink rendered ahead
    (101.012, 1.5, -0.012),
    (101.02, 1.5, None),   # too long before to have followed the moment
    (99.0, 1.5, None),     # before the recording
    (100.2, 0.5, None),    # nothing within the limit
], ids=["after", "just after", "inside", "3 ms early", "12 ms early", "20 ms early",
        "before the recording", "beyond the limit"])
def test_onset_after_a_moment(at, limit, want):
    rec = FakeRecorder(QUIET + LOUD, offset=100.0)
    got = rec.onset_after(at, limit=limit, arrival=0)
    assert got == pytest.approx(want, abs=1e-3) if want is not None else got is None


def test_a_late_recording_is_waited_for():
    # A sink stalled under load: the sound after the moment arrives only later.
    rec = FakeRecorder(QUIET, offset=100.0)

    def deliver():
        time.sleep(0.3)
        with rec.lock:
            rec.samples += array.array("h", [0] * (RATE // 10) + [1000] * RATE).tobytes()
    threading.Thread(target=deliver).start()
    assert rec.onset_after(100.9, limit=0.5) == pytest.approx(0.2, abs=1e-3)


def test_the_clock_is_read_near_the_moment():
    # A sink that stalled for 2 s and then delivered in a burst: the blocks before the stall
    # place sample 0 at 100.0, those after it at 98.0. Near each moment its own blocks
    # decide; one position for the whole recording would put every onset before the stall
    # 2 s off.
    loud = [1000, -1000] * (RATE // 20)
    samples = [0] * (40 * RATE)
    samples[5 * RATE:5 * RATE + len(loud)] = loud    # at 105.0 by the early blocks
    samples[30 * RATE:30 * RATE + len(loud)] = loud  # at 128.0 by the late blocks
    stamps = [(100.0 + t, 100.0) for t in range(0, 15)] + \
             [(98.0 + t, 98.0) for t in range(20, 40)]
    rec = FakeRecorder(samples, offset=98.0, stamps=stamps)
    assert rec.onset_after(104.9) == pytest.approx(0.1, abs=1e-3)
    assert rec.onset_after(127.9) == pytest.approx(0.1, abs=1e-3)


def clip(name):
    rate, samples = read_wav(os.path.join(CLIPS_DIR, name + ".wav"))
    assert rate == 44100
    # The recorder's rate: the nearest sample, enough for names and onsets.
    return [samples[int(i * rate / RATE)] for i in range(int(len(samples) * RATE / rate))]


def test_clips_in_a_recording_are_named_and_placed():
    gap = [0.0] * (RATE // 2)
    layout = [morlett.ON, morlett.RELEASE, morlett.WARNING, morlett.WARNING, morlett.OFF]
    samples, starts = [], []
    for name in layout:
        samples += gap
        starts.append(len(samples) / RATE)
        samples += clip(name)
    found = analyse(RATE, samples + gap)
    assert [s.name for s in found] == layout
    for s, start in zip(found, starts):
        assert s.at == pytest.approx(start, abs=0.01)


def test_sounds_are_placed_on_the_wall_clock():
    beep = [int(v * 32767) for v in clip(morlett.WARNING)]
    rec = FakeRecorder([0] * RATE + beep + [0] * RATE, offset=500.0,
                       stamps=[(500.0 + t, 500.0) for t in range(3)])
    found = rec.sounds()
    assert [s.name for s in found] == [morlett.WARNING]
    assert found[0].at == pytest.approx(501.0, abs=0.01)
    assert rec.sound_after(500.5, 1.0)[1] == morlett.WARNING


@pytest.mark.parametrize("at, limit, name, want", [
    (500.5, 1.0, None, 501.0),               # the first sound after the moment
    (501.05, 1.5, None, 502.0),              # one playing at the moment is passed over
    (501.05, 1.5, morlett.WARNING, 502.0),
    (500.5, 1.0, morlett.RELEASE, None),     # none of that name
    (501.05, 0.5, None, None),               # nothing begins within the limit
], ids=["after", "busy at the moment", "by name", "other name", "beyond the limit"])
def test_first_sound_after_a_moment(at, limit, name, want):
    beep = [int(v * 32767) for v in clip(morlett.WARNING)]
    second = [0] * (RATE - len(beep))
    rec = FakeRecorder([0] * RATE + beep + second + beep + [0] * RATE, offset=500.0,
                       stamps=[(500.0 + t, 500.0) for t in range(4)])
    found = rec.first_after(at, limit, name, arrival=0)
    assert (found.at if found else None) == (pytest.approx(want, abs=0.01) if want else None)


def test_an_early_start_needs_silence_before_it():
    # A sound that ended just before an early start: the sink was not quiet, as before.
    blip = [1000] * (RATE // 200)  # 5 ms
    gap = [0] * (RATE // 100)      # 10 ms
    rec = FakeRecorder(QUIET + blip + gap + LOUD, offset=100.0)
    start = 100.0 + (len(QUIET) + len(blip) + len(gap)) / RATE
    assert rec.onset_after(start + 0.003, limit=0.5, arrival=0) is None

