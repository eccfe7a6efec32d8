#!/usr/bin/env python3
"""Tests of the benchmark tools that need no Wine: the size map's reading of a linker map
and the recorder's onset search.   python3 bench/test_tools.py"""

import array
import os
import sys
import tempfile
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
import sizemap  # noqa: E402
from bench import RATE, StampedRecorder, quantile  # noqa: E402

MAP = """Archive member included to satisfy reference by file (symbol)

Linker script and memory map

.text           0x0000000140001000    0x5000
 *(.text)
 .text          0x0000000140001000       0x40 app/CMakeFiles/morlett.dir/main_win.cpp.obj
 .text$_ZN5Json5ParseEv
                0x0000000140001040      0x200 json/libmorlett_json.a(parser.cpp.obj)
 .text$ma_engine_init
                0x0000000140001240      0x300 sound/libmorlett_miniaudio.a(miniaudio_impl.c.obj)
 .text          0x0000000140001540      0x100 /usr/lib/gcc/x86_64-w64-mingw32/12-posix/libstdc++.a(floating_to_chars.o)
 .text          0x0000000140001640        0x0 /usr/lib/gcc/x86_64-w64-mingw32/12-posix/libstdc++.a(empty.o)
                0x0000000140001640                ma_engine_init

.rdata          0x0000000140006000    0x2000
 .rdata         0x0000000140006000     0x1000 sound/libmorlett_sound.a(clips_data.cpp.obj)
 .rdata$zzz     0x0000000140007000       0x10 /usr/lib/gcc/x86_64-w64-mingw32/12-posix/libstdc++.a(floating_to_chars.o)

.debug_info     0x0000000140010000     0x9000
 .debug_info    0x0000000140010000     0x9000 json/libmorlett_json.a(parser.cpp.obj)
"""


class SizeMap(unittest.TestCase):
    def test_sections_are_summed_per_origin(self):
        with tempfile.NamedTemporaryFile("w", suffix=".map", delete=False) as f:
            f.write(MAP)
        try:
            totals, objects = sizemap.parse(f.name)
        finally:
            os.unlink(f.name)
        self.assertEqual(totals["ours: json"][".text"], 0x200)  # name on its own line
        self.assertEqual(totals["audio library (miniaudio)"][".text"], 0x300)
        self.assertEqual(totals["C++ library (libstdc++)"][".text"], 0x100)
        self.assertEqual(totals["C++ library (libstdc++)"][".rdata"], 0x10)
        self.assertEqual(totals["clips (fixed)"][".rdata"], 0x1000)
        # Debug sections and empty input sections are not in the file.
        self.assertNotIn(".debug_info", totals["ours: json"])
        self.assertNotIn(("C++ library (libstdc++)", "empty.o"), objects)


class FakeRecorder(StampedRecorder):
    """The recorder's search without parec: samples and their place on the clock given."""

    def __init__(self, samples, offset, stamps=()):
        import array
        self.samples = bytearray(array.array("h", samples).tobytes())
        self.offset = offset
        self.stamps = list(stamps)
        self.lock = threading.Lock()


class Onsets(unittest.TestCase):
    def test_onset_after_a_moment(self):
        quiet = [0] * RATE
        loud = [1000, -1000] * (RATE // 10)
        rec = FakeRecorder(quiet + loud, offset=100.0)
        cases = [
            (100.5, 0.5),    # sound 0.5 s after the moment
            (100.99, 0.01),
        ]
        for at, want in cases:
            self.assertAlmostEqual(rec.onset_after(at, arrival=0), want, places=3)
        # The moment itself inside the sound: no onset (the sink was busy).
        self.assertIsNone(rec.onset_after(101.05, arrival=0))
        # Before the recording, or with nothing within the limit.
        self.assertIsNone(rec.onset_after(99.0, arrival=0))
        self.assertIsNone(rec.onset_after(100.2, limit=0.5, arrival=0))

    def test_a_late_recording_is_waited_for(self):
        # A sink stalled under load: the sound after the moment arrives only later.
        rec = FakeRecorder([0] * RATE, offset=100.0)

        def deliver():
            time.sleep(0.3)
            with rec.lock:
                rec.samples += array.array("h", [0] * (RATE // 10) + [1000] * RATE).tobytes()
        threading.Thread(target=deliver).start()
        self.assertAlmostEqual(rec.onset_after(100.9, limit=0.5), 0.2, places=3)

    def test_the_clock_is_read_near_the_moment(self):
        # A sink that stalled for 2 s and then delivered in a burst: the blocks before the
        # stall place sample 0 at 100.0, those after it at 98.0. Near each moment its own
        # blocks decide; one position for the whole recording would put every onset before
        # the stall 2 s off.
        quiet = [0] * (40 * RATE)
        loud = [1000, -1000] * (RATE // 20)
        samples = quiet[:]
        samples[5 * RATE:5 * RATE + len(loud)] = loud    # at 105.0 by the early blocks
        samples[30 * RATE:30 * RATE + len(loud)] = loud  # at 128.0 by the late blocks
        stamps = [(100.0 + t, 100.0) for t in range(0, 15)] + \
                 [(98.0 + t, 98.0) for t in range(20, 40)]
        rec = FakeRecorder(samples, offset=98.0, stamps=stamps)
        self.assertAlmostEqual(rec.onset_after(104.9), 0.1, places=3)
        self.assertAlmostEqual(rec.onset_after(127.9), 0.1, places=3)

    def test_quantiles(self):
        self.assertEqual(quantile([3, 1, 2], 0.5), 2)
        self.assertAlmostEqual(quantile([0, 10], 0.95), 9.5)


if __name__ == "__main__":
    unittest.main()
